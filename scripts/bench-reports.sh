#!/usr/bin/env bash
# Benchmarks of the reports on a generated accounting log of a million lines (gendir): the print
# history and the printing statistics by the core natively, by tallycmd (start-up included) and by
# the real dialogs under Wine, set beside mawk doing the same selection and totals and beside wc -l
# reading the file; the statistics at 10k, 100k and 1M lines; the balances list of a 10,000-user
# context beside 10,000 single balance reads; tallycmd's trend by month and statistics of a period
# beside mawk; the audit of a 10,000-user context beside its balances report plus one reading of
# the log. Prints every time (best of three) and the ratios.
#
#   scripts/bench-reports.sh [--lines N] [--no-wine]
#
# Builds what it needs under build/bench/ (TALLY_BENCH_DIR to move it) and keeps the generated
# networks there, so a second run only measures.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=lib/packages.sh
source "$here/lib/packages.sh"
# shellcheck source=lib/wine.sh
source "$here/lib/wine.sh"

lines=1000000
wine=1
while [[ $# -gt 0 ]]; do
    case $1 in
        --lines) lines=$2; shift 2 ;;
        --no-wine) wine=0; shift ;;
        -h | --help) sed -n '2,11p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "bench-reports.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

tally_ensure_packages mawk
bench=${TALLY_BENCH_DIR:-$repo/build/bench}
mkdir -p "$bench"
cmake -S "$repo" -B "$bench/native" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLY_TESTS=OFF \
    -DTALLY_BENCH=ON >/dev/null
ninja -C "$bench/native" -j2 gendir report_timing tallycmd >"$bench/native-build.log" || {
    cat "$bench/native-build.log"
    exit 1
}
gendir=$bench/native/tools/gendir/gendir
timing=$bench/native/bench/reports/report_timing
tallycmd=$bench/native/tools/tallycmd/tallycmd

net=$bench/net-$lines
if [[ ! -f $net/tallynet.ini ]]; then
    "$gendir" --out "$net" --users 5000 --contexts 10 --groups 1 --members 500 \
        --log-lines "$lines"
fi
log=$net/servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG
user=U00042
full=$(grep -m1 -o "\"$user\.[A-Z0-9.]*\"" "$log" | tr -d '"')
context=${full#"$user".}

less() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
# Seconds of the best of three runs of a command (its output is dropped).
best() {
    local best_time=
    for _ in 1 2 3; do
        local start end took
        start=$(date +%s.%N)
        "$@" >/dev/null
        end=$(date +%s.%N)
        took=$(awk -v a="$end" -v b="$start" 'BEGIN { print a - b }')
        if [[ -z $best_time ]] || less "$took" "$best_time"; then
            best_time=$took
        fi
    done
    printf '%.3f' "$best_time"
}
# The core's own figure for its run (the first number it prints), best of three.
core() {
    local best_time=
    for _ in 1 2 3; do
        local took
        took=$("$timing" "$@" | awk 'NR == 1 { print $1 }')
        if [[ -z $best_time ]] || less "$took" "$best_time"; then
            best_time=$took
        fi
    done
    printf '%.3f' "$best_time"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

# mawk doing the history's work: the user's lines (delimited by full name, Readable by the
# first ten characters of the name and a blank), copied out, pages and costs summed.
mawk_history() {
    mawk -v q="\"$full\"" -v r="$(printf '%-10.10s ' "$user")" '
        index($0, q) == 1 || index($0, r) == 1 {
            print > "/dev/null"
            n = split($0, f, ",")
            if (n >= 12 && f[11] + 0 != 0) { pages += f[11]; cost += f[12] }
        }
        END { printf "%d %.2f\n", pages, cost }' "$log"
}
# mawk doing the statistics' work: print jobs only, totals per key, sorted.
mawk_stats() {
    mawk -F, -v key="$1" '
        index($0, ",") == 0 || $2 ~ /^"(Deposit|SetLimit|SetBal|Charge)/ || ($10 == "" && $11 == "") { next }
        NF >= 12 { k = $key; gsub(/"/, "", k); pages[k] += $11; cost[k] += $12 }
        END { for (k in pages) printf "%s %d %.2f\n", k, pages[k], cost[k] }' "$2" | sort >/dev/null
}

# mawk doing the trend's work: print jobs only, pages and cost per month of the date in field 8
# (month/day/year), in the months' order.
mawk_trend() {
    mawk -F, '
        index($0, ",") == 0 || ($10 == "" && $11 == "") || NF < 12 { next }
        { d = $8; gsub(/"/, "", d); m = substr(d, 7, 4) "-" substr(d, 1, 2)
          if ($11 + 0 > 0) { pages[m] += $11; cost[m] += $12 } }
        END { for (m in pages) printf "%s %d %.2f\n", m, pages[m], cost[m] }' "$1" | sort >/dev/null
}
# mawk doing the work of stats with a period: the print jobs dated from $2 to $3 (YYYYMMDD),
# totalled per user, sorted.
mawk_period_stats() {
    mawk -F, -v since="$2" -v until="$3" '
        index($0, ",") == 0 || ($10 == "" && $11 == "") || NF < 12 { next }
        { d = $8; gsub(/"/, "", d); day = substr(d, 7, 4) substr(d, 1, 2) substr(d, 4, 2)
          if (day < since || day > until) next
          k = $1; gsub(/"/, "", k); if ($11 + 0 > 0) { pages[k] += $11; cost[k] += $12 } }
        END { for (k in pages) printf "%s %d %.2f\n", k, pages[k], cost[k] }' "$1" | sort >/dev/null
}

echo "== $lines lines, $(du -h "$log" | cut -f1), user $full"
wc_time=$(best wc -l "$log")
mawk_hist=$(best mawk_history)
core_hist=$(core history "$log" "$user" "$full")
core_group=$(core group-history "$net/tallynet.ini" "$log" G0001)
mawk_user=$(best mawk_stats 1 "$log")
mawk_printer=$(best mawk_stats 3 "$log")
core_user=$(core stats "$log" user)
core_printer=$(core stats "$log" printer)
# The whole program as an operator's script runs it: start-up, tallynet.ini, the settings and the
# store, the log, the report written.
cmd_user=$(best "$tallycmd" --ini "$net/tallynet.ini" stats --by user --out "$bench/tallycmd-User.txt")
rm -f "$bench/tallycmd-User.txt"
printf '%-34s %8s %10s %10s\n' "" seconds "x mawk" "x wc -l"
printf '%-34s %8s %10s %10s\n' "wc -l" "$wc_time" "" "1.00"
printf '%-34s %8s %10s %10s\n' "mawk history" "$mawk_hist" "1.00" "$(ratio "$mawk_hist" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "core history (user)" "$core_hist" \
    "$(ratio "$core_hist" "$mawk_hist")" "$(ratio "$core_hist" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "core history (500-member group)" "$core_group" \
    "$(ratio "$core_group" "$mawk_hist")" "$(ratio "$core_group" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "mawk statistics by user" "$mawk_user" "1.00" \
    "$(ratio "$mawk_user" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "core statistics by user" "$core_user" \
    "$(ratio "$core_user" "$mawk_user")" "$(ratio "$core_user" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "tallycmd stats --by user" "$cmd_user" \
    "$(ratio "$cmd_user" "$mawk_user")" "$(ratio "$cmd_user" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "mawk statistics by printer" "$mawk_printer" "1.00" \
    "$(ratio "$mawk_printer" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "core statistics by printer" "$core_printer" \
    "$(ratio "$core_printer" "$mawk_printer")" "$(ratio "$core_printer" "$wc_time")"
echo "group history / user history: $(ratio "$core_group" "$core_hist")"

echo "== tallycmd trend and a period's statistics (start-up included) beside mawk"
mawk_month=$(best mawk_trend "$log")
cmd_month=$(best "$tallycmd" --ini "$net/tallynet.ini" trend --by month --out -)
mawk_period=$(best mawk_period_stats "$log" 20000101 20000331)
cmd_period=$(best "$tallycmd" --ini "$net/tallynet.ini" stats --since 2000-01-01 \
    --until 2000-03-31 --out -)
printf '%-34s %8s %10s %10s\n' "" seconds "x mawk" "x wc -l"
printf '%-34s %8s %10s %10s\n' "mawk trend by month" "$mawk_month" "1.00" \
    "$(ratio "$mawk_month" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "tallycmd trend --by month" "$cmd_month" \
    "$(ratio "$cmd_month" "$mawk_month")" "$(ratio "$cmd_month" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "mawk statistics of a quarter" "$mawk_period" "1.00" \
    "$(ratio "$mawk_period" "$wc_time")"
printf '%-34s %8s %10s %10s\n' "tallycmd stats --since --until" "$cmd_period" \
    "$(ratio "$cmd_period" "$mawk_period")" "$(ratio "$cmd_period" "$wc_time")"

echo "== growth of the statistics by user (core)"
for n in 10000 100000 1000000; do
    if [[ $n -le $lines ]]; then
        head -n "$n" "$log" >"$bench/growth.log"
        echo "$n lines: $(core stats "$bench/growth.log" user) s"
    fi
done
rm -f "$bench/growth.log"

echo "== balances of a 10,000-user context"
big=$bench/net-context-10000
if [[ ! -f $big/tallynet.ini ]]; then
    "$gendir" --out "$big" --users 10000 --contexts 1 >/dev/null
fi
"$timing" balances "$big/tallynet.ini" SALES.CORP

echo "== audit of a 10,000-user context against a log of $lines lines"
audit_net=$bench/net-audit-10000-$lines
if [[ ! -f $audit_net/tallynet.ini ]]; then
    "$gendir" --out "$audit_net" --users 10000 --contexts 1 --log-lines "$lines" \
        --balances log >/dev/null
fi
audit_log=$audit_net/servers/ACCT1/SYS/SYSTEM/JOBTALLY/JOBTALLY.LOG
cmd_balances=$(best "$tallycmd" --ini "$audit_net/tallynet.ini" balances --out -)
read_log=$(best cat "$audit_log")
# A report's own reading of the log: the trend, which parses every line and totals by month.
report_read=$(best "$tallycmd" --ini "$audit_net/tallynet.ini" trend --by month --out -)
cmd_audit=$(best "$tallycmd" --ini "$audit_net/tallynet.ini" audit --out -)
base=$(awk -v a="$cmd_balances" -v b="$read_log" 'BEGIN { printf "%.3f", a + b }')
report_base=$(awk -v a="$cmd_balances" -v b="$report_read" 'BEGIN { printf "%.3f", a + b }')
printf '%-34s %8s %10s %10s\n' "" seconds "x base" "x base 2"
printf '%-34s %8s\n' "tallycmd balances" "$cmd_balances"
printf '%-34s %8s\n' "one reading of the log (cat)" "$read_log"
printf '%-34s %8s\n' "a report's reading (trend)" "$report_read"
printf '%-34s %8s %10s\n' "base: balances + cat" "$base" "1.00"
printf '%-34s %8s %10s %10s\n' "base 2: balances + trend" "$report_base" "" "1.00"
printf '%-34s %8s %10s %10s\n' "tallycmd audit" "$cmd_audit" "$(ratio "$cmd_audit" "$base")" \
    "$(ratio "$cmd_audit" "$report_base")"

if [[ $wine -eq 1 ]]; then
    echo "== the dialogs under Wine (from the click to the report file complete)"
    cmake -S "$repo" -B "$bench/win" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLY_BENCH=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake" >/dev/null
    ninja -C "$bench/win" -j2 tallydesk tallyctl >/dev/null
    export TALLY_BUILD_DIR=$bench/win TALLY_E2E_WINEPREFIX=$bench/wineprefix
    export TALLY_E2E_SCREENSHOTS=$bench/screenshots
    python3 "$repo/bench/reports/wine_timing.py" "$net" "$context" "$user" |
        grep '^wine ' | while read -r _ name seconds _; do
            name=${name%:}
            case $name in
                history) base=$mawk_hist ;;
                User.txt) base=$mawk_user ;;
                *) base=$mawk_printer ;;
            esac
            printf '%-34s %8s %10s %10s\n' "wine $name" "$seconds" "$(ratio "$seconds" "$base")" \
                "$(ratio "$seconds" "$wc_time")"
        done
fi
