#!/usr/bin/env bash
# The LDAP backend's benchmark, in one run (docs/testing.md): a 10,000-user context laid by
# gendir and loaded into a private slapd on the loopback, then bench/ldap/ldap_bench prints the
# times and their ratios. The server is stopped at the end.
#
#   scripts/bench-ldap.sh [BUILD]      BUILD: a native build with -DTALLY_BENCH=ON (build/n)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
build=${1:-$repo/build/n}
for program in tools/gendir/gendir bench/ldap/ldap_bench; do
    if [[ ! -x $build/$program ]]; then
        echo "error: $build/$program is not built (cmake -DTALLY_BENCH=ON, ninja)" >&2
        exit 1
    fi
done
scratch=$(mktemp -d "${TMPDIR:-/tmp}/tally-bench-ldap.XXXXXX")
trap 'rm -rf -- "$scratch"' EXIT
"$build/tools/gendir/gendir" --out "$scratch/net" --users 10000 --contexts 1 --groups 0 \
    --log-lines 0 >/dev/null
python3 "$here/lib/scratch_slapd.py" --ldif "$scratch/net/directory/directory.ldif" -- \
    "$build/bench/ldap/ldap_bench" "$scratch/net"
