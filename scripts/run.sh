#!/usr/bin/env bash
# Builds TallyDesk for Windows and runs it under Wine on the sample network.
#
#   scripts/run.sh [--fresh] [--ldap] [START-CONTEXT...]
#
#   --fresh   lay the sample network anew (otherwise the one from an earlier run is kept, with
#             whatever was changed in it)
#   --ldap    keep the directory on a private OpenLDAP slapd instead of the embedded store: the
#             sample network's tree is loaded into a new slapd on the loopback (build/run/slapd/,
#             its log there), TallyDesk logs in to it as an operator through wldap32, and the
#             server is stopped when TallyDesk ends (every run starts from the sample tree)
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
    sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'
    exit "${1:-0}"
}

fresh=0
ldap=0
context=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --fresh) fresh=1 ;;
        --ldap) ldap=1 ;;
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
ini=$network/tallynet.ini

cleanup() {
    local status=$?
    if [[ -n "${slapd_pid:-}" ]] && kill -0 "$slapd_pid" 2>/dev/null; then
        kill -TERM "$slapd_pid" 2>/dev/null || true
        wait "$slapd_pid" 2>/dev/null || true
    fi
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

if [[ $ldap -eq 1 ]]; then
    # The server's password never appears on a command line: scratch_slapd.py makes it up and
    # leaves it in a file only its owner may read, which tallynet-ldap.ini names.
    echo "== Starting a private slapd with the sample network's tree"
    rm -rf "$run_dir/slapd"
    python3 "$here/lib/scratch_slapd.py" --keep "$run_dir/slapd" \
        --ldif "$network/directory/directory.ldif" --operator cn=ADMIN,o=CORP --wait >"$run_dir/slapd.env" &
    slapd_pid=$!
    for _ in $(seq 1 200); do
        grep -q '^TALLY_LDAP_URL=' "$run_dir/slapd.env" 2>/dev/null && break
        kill -0 "$slapd_pid" 2>/dev/null || { echo "error: slapd did not start" >&2; exit 1; }
        sleep 0.1
    done
    ldap_value() { sed -n "s/^$1=//p" "$run_dir/slapd.env"; }
    url=$(ldap_value TALLY_LDAP_URL)
    [[ -n $url ]] || { echo "error: slapd did not answer" >&2; exit 1; }
    ini=$network/tallynet-ldap.ini
    {
        printf '[Store]\r\nKind=ldap\r\nUrl=%s\r\nBase=%s\r\nBindDN=%s\r\nPasswordFile=%s\r\n' \
            "$url" "$(ldap_value TALLY_LDAP_SUFFIX)" "$(ldap_value TALLY_LDAP_OPERATOR_DN)" \
            "$(tally_windows_path "$(ldap_value TALLY_LDAP_PASSWORD_FILE)")"
        # Every other section of the network's own file, as it is.
        awk '/^\[/ { keep = ($0 !~ /^\[Store\]/) } keep' "$network/tallynet.ini"
    } >"$ini"
    echo "== slapd at $url (log: $run_dir/slapd/provider/slapd.log); $ini names it"
fi
TALLYNET_INI=$(tally_windows_path "$ini")
export TALLYNET_INI

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
