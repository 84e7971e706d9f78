#!/usr/bin/env bash
# tallycmd.exe under Wine on a fresh sample network, with the window's own Windows code for the
# profiles, the locale and the clock: each report equals the golden file the end-to-end scenarios
# hold the dialogs to, on standard output and under the window's file name; a deposit reaches the
# store and, through \\ACCT1\SYS\..., the log; a report for CONOUT$ gets a safe name; a folder as
# the log and other bad input change nothing and exit 2.
#
#   tallycmd_wine.sh TALLYCMD_EXE SOURCE_DIR WORK_DIR
set -euo pipefail
exe=$1
src=$2
work=$3
# shellcheck source=../../../scripts/lib/wine.sh
source "$src/scripts/lib/wine.sh"
export WINEDEBUG=-all
export WINEPREFIX=${WINEPREFIX:-${TALLY_BUILD_DIR:-$PWD}/wineprefix}
expected=$src/tests/e2e/expected

rm -rf "$work"
mkdir -p "$work"
bash "$src/tools/samplenet/lay.sh" "$work/net"
bash "$src/scripts/wine-prefix.sh" "$WINEPREFIX"
# \\ACCT1\... and \\FS2\... reach the network's server folders, as run.sh links them.
tally_link_servers "$WINEPREFIX" "$work/net/tallynet.ini"
ini=$(tally_windows_path "$work/net/tallynet.ini")
log=$work/net/servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; }
tallycmd() { (cd "$work" && "$src/scripts/wine-run.sh" "$exe" --ini "$ini" "$@"); }

# NAME ARGS...: the report on standard output equals tests/e2e/expected/NAME.
report() {
    local name=$1
    shift
    if tallycmd "$@" --out - >"$work/out" 2>"$work/err" && cmp -s "$work/out" "$expected/$name"; then
        pass "$* = $name"
    else
        fail "$* = $name"
        cmp "$work/out" "$expected/$name" || true
        cat "$work/err"
    fi
}
report User.txt stats
report Printer.txt stats --by printer
report SALESTEAM.txt stats --by group:SALESTEAM
report JSMITH.txt history JSMITH
report COLOURPRINT.txt history COLOURPRINT
report SALES-currency.TXT balances

# The window's file name in the current folder, named on standard output.
if [[ $(tallycmd history JSMITH | tr -d '\r') == JSMITH.txt ]] &&
    cmp -s "$work/JSMITH.txt" "$expected/JSMITH.txt"; then
    pass "history JSMITH writes JSMITH.txt"
else
    fail "history JSMITH writes JSMITH.txt"
fi

# A report named after a console device is written under a safe name in the current folder.
if [[ $(tallycmd history 'CONOUT$' 2>/dev/null | tr -d '\r') == 'CONOUT$_.txt' ]] &&
    [[ -f "$work/CONOUT\$_.txt" ]]; then
    pass "history CONOUT\$ writes CONOUT\$_.txt"
else
    fail "history CONOUT\$ writes CONOUT\$_.txt"
fi

# A folder given as the log is named as what it is, and nothing is written.
mkdir -p "$work/LOGS"
set +e
tallycmd stats --log "$(tally_windows_path "$work/LOGS")" >"$work/out" 2>"$work/err"
code=$?
set -e
if [[ $code -eq 2 ]] && grep -q 'is a folder, not a log' "$work/err"; then
    pass "a folder as the log exits 2, named"
else
    fail "a folder as the log exits 2, named (exit $code)"
    cat "$work/err"
fi

# Bad input: exit code 2, the store and the log as they were.
journal=$work/net/directory/journal.ldif
before=$(cat "$log" "$journal" | md5sum)
set +e
tallycmd deposit 12x JSMITH >"$work/out" 2>"$work/err"
code=$?
set -e
if [[ $code -eq 2 && $(cat "$log" "$journal" | md5sum) == "$before" ]] &&
    grep -q '"12x" is not a number' "$work/err"; then
    pass "a bad amount exits 2 and changes nothing"
else
    fail "a bad amount exits 2 and changes nothing (exit $code)"
    cat "$work/err"
fi

# A deposit: the new balance, one record in the log with the window's date and 24-hour time.
if out=$(tallycmd deposit 5 JSMITH) && [[ $(printf '%s' "$out" | tr -d '\r') == "JSMITH: balance 20.00" ]] &&
    tail -n 1 "$log" | grep -Eq '^"JSMITH\.SALES\.CORP","Deposit","ADMIN\.CORP","","ACCT1","","","[0-9]{2}/[0-9]{2}/[0-9]{4}","[0-9]{1,2}:[0-9]{2}",,,5\.00,20\.00'$'\r''$'; then
    pass "deposit 5 JSMITH is recorded in \\\\ACCT1's log"
else
    fail "deposit 5 JSMITH is recorded in \\\\ACCT1's log"
    printf '%s\n' "$out"
    tail -n 1 "$log" | cat -A
fi

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
