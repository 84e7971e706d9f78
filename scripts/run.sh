#!/usr/bin/env bash
# Builds TallyDesk for Windows and runs it under Wine on the sample network.
#
#   scripts/run.sh [--fresh] [START-CONTEXT...]
#
#   --fresh   lay the sample network anew (otherwise the one from an earlier run is kept, with
#             whatever was changed in it)
#   START-CONTEXT...   passed to TallyDesk as its command line (the context to start in), e.g.
#             scripts/run.sh ACCOUNTS.CORP
#
# Everything lives under build/run/ of the repository (TALLY_RUN_DIR to move it): the Windows
# build (win/), the network (network/) and a Wine prefix of its own (wineprefix/), whose
# C:\windows\tallydsk.ini holds TallyDesk's local settings. Without DISPLAY, TallyDesk runs on an
# Xvfb display of its own; the script prints how to take a screenshot of it.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=lib/packages.sh
source "$here/lib/packages.sh"
# shellcheck source=lib/wine.sh
source "$here/lib/wine.sh"

usage() {
    sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit "${1:-0}"
}

fresh=0
context=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --fresh) fresh=1 ;;
        -h | --help) usage 0 ;;
        --) shift; context+=("$@"); break ;;
        *) context+=("$1") ;;
    esac
    shift
done

run_dir=${TALLY_RUN_DIR:-$repo/build/run}
build=$run_dir/win
network=$run_dir/network
prefix=$run_dir/wineprefix
mkdir -p "$run_dir"

tally_ensure_packages

echo "== Building the Windows program in $build"
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLY_BENCH=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" >/dev/null
ninja -C "$build" -j2 tallydesk tallyctl

if [[ $fresh -eq 1 || ! -f "$network/tallynet.ini" ]]; then
    echo "== Laying the sample network in $network"
    bash "$repo/tools/samplenet/lay.sh" "$network"
else
    echo "== Using the network in $network (--fresh lays it anew)"
fi

echo "== Wine prefix $prefix"
bash "$here/wine-prefix.sh" "$prefix"
tally_link_servers "$prefix" "$network/tallynet.ini"

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
TALLYNET_INI=$(tally_windows_path "$network/tallynet.ini")
export TALLYNET_INI

cleanup() {
    local status=$?
    if [[ -n "${app_pid:-}" ]] && kill -0 "$app_pid" 2>/dev/null; then
        kill "$app_pid" 2>/dev/null || true
        tally_stop_wine "$prefix"
    fi
    if [[ -n "${TALLY_XVFB_PID:-}" ]]; then
        # Wine's own helpers hold the display open; end them (this prefix only) before it.
        tally_stop_wine "$prefix"
        tally_stop_xvfb
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [[ -z "${DISPLAY:-}" ]]; then
    tally_start_xvfb
    echo "== No DISPLAY: TallyDesk runs on an Xvfb display of its own, $DISPLAY."
    echo "   Screenshot:  import -display $DISPLAY -window root shot.png"
    echo "   Keys:        DISPLAY=$DISPLAY xdotool key alt+x      (Alt+X leaves TallyDesk)"
    echo "   Ctrl+C here stops it."
fi

# The driver's launcher hands the start context over exactly as typed (quotes and blanks kept).
exe=$(tally_windows_path "$build/tallydesk.exe")
launcher=$build/tests/e2e/driver/tallyctl.exe
echo "== Starting TallyDesk (TALLYNET_INI=$TALLYNET_INI)"
if [[ ${#context[@]} -gt 0 && -f "$launcher" ]]; then
    wine "$launcher" run "$exe" --cmdline "${context[*]}" &
else
    wine "$build/tallydesk.exe" "${context[@]}" &
fi
app_pid=$!
set +e
wait "$app_pid"
status=$?
set -e
app_pid=
echo "== TallyDesk ended with exit code $status"
exit "$status"
