#!/usr/bin/env bash
# The LDAP backend's benchmark, in one run (docs/testing.md): a 10,000-user context laid by
# gendir and loaded into a private slapd on the loopback (with its statistics log), then
#   1. bench/ldap/ldap_bench: the client's own figures against ldapmodify, the listing, the
#      window's two lists (MainList, Select Context at the parent) and a deposit to every user;
#   2. bench/ldap/ldap_programs.py: tallycmd's deposit to every user against ldapmodify sending
#      the same increments (wall, CPU, peak memory) and, with a Windows build, the window's
#      start to a painted MainList over the server and over the embedded store under Wine.
# Each figure is printed beside its goal. The server is stopped at the end.
#
#   scripts/bench-ldap.sh [BUILD] [--win WINBUILD | --no-wine]
#     BUILD     a native build with -DTALLY_BENCH=ON (default build/n)
#     WINBUILD  a Windows build holding tallydesk.exe and tallyctl.exe (default build/test/win
#               when it has them; else the window is not timed)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=lib/wine.sh
source "$here/lib/wine.sh"

build=$repo/build/n
win=$repo/build/test/win
wine=auto
while [[ $# -gt 0 ]]; do
    case $1 in
        --win) win=$2; wine=yes; shift 2 ;;
        --no-wine) wine=no; shift ;;
        -h | --help) sed -n '2,15p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) build=$1; shift ;;
    esac
done
for program in tools/gendir/gendir tools/tallycmd/tallycmd bench/ldap/ldap_bench; do
    if [[ ! -x $build/$program ]]; then
        echo "error: $build/$program is not built (cmake -DTALLY_BENCH=ON, ninja)" >&2
        exit 1
    fi
done
win_args=()
if [[ $wine != no ]]; then
    if [[ -f $win/tallydesk.exe && -f $win/tests/e2e/driver/tallyctl.exe ]]; then
        win_args=(--wine "$win")
    elif [[ $wine == yes ]]; then
        echo "error: $win holds no tallydesk.exe and tallyctl.exe (build it first)" >&2
        exit 1
    else
        echo "(no Windows build in $win: the window is not timed)"
    fi
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tally-bench-ldap.XXXXXX")
cleanup() {
    tally_stop_wine "$scratch/wineprefix"
    rm -rf -- "$scratch"
}
trap cleanup EXIT
"$build/tools/gendir/gendir" --out "$scratch/net" --users 10000 --contexts 1 --groups 0 \
    --log-lines 0 >/dev/null
if [[ ${#win_args[@]} -gt 0 ]]; then
    export TALLY_E2E_WINEPREFIX=$scratch/wineprefix
    export TALLY_E2E_SCREENSHOTS=${TALLY_BENCH_SCREENSHOTS:-$scratch/screenshots}
    bash "$here/wine-prefix.sh" "$TALLY_E2E_WINEPREFIX"  # the harness starts its own Xvfb
fi
python3 "$here/lib/scratch_slapd.py" --stats --ldif "$scratch/net/directory/directory.ldif" -- \
    bash -c '"$1" "$2" && python3 "$3" "$2" "$4" SALES.CORP "${@:5}"' bench \
    "$build/bench/ldap/ldap_bench" "$scratch/net" "$repo/bench/ldap/ldap_programs.py" \
    "$build/tools/tallycmd/tallycmd" "${win_args[@]}"
