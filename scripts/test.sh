#!/usr/bin/env bash
# The whole test suite, on a machine that may not have the packages yet (they are installed
# first, as scripts/run.sh does):
#   0. checks: formatting of the tracked C++ sources (clang-format-16), the order of the layers
#   1. native build (g++): unit tests; benchmarks are built, not run
#   2. sanitizer build (clang, -DTALLY_SANITIZE=ON -DTALLY_FUZZ=ON): unit tests, then a short
#      run of every fuzz target over its checked-in seeds (fuzz/<area>/corpus/<target>/)
#   3. Windows build (MinGW-w64): its tests under Wine (ctest's emulator)
#   4. the end-to-end scenarios (tests/e2e) under Wine on Xvfb displays of their own
#   5. package: scripts/package.sh twice, the same bytes; the zip under Wine, the .deb installed
#      and removed again (tests/package/package_test.sh; needs root)
# The LDAP tests (directory_client_ldap, ldap_concurrency, ...) each start a private slapd on the
# loopback (scripts/lib/scratch_slapd.py) and stop it; here one is started first, once the
# packages are there, so that a slapd that cannot start fails the run loudly, and
# TALLY_REQUIRE_SLAPD=1 turns every LDAP test's "slapd missing, skipped" into a failure.
# Every run gets a fresh Wine prefix and temporary folder, removed at the end. Exits non-zero on
# any failure; the last line reads "N passed, N failed".
#
#   scripts/test.sh [--only checks|native|sanitize|windows|e2e|package]...
#
# Environment: TALLY_TEST_BUILD_ROOT (default <repo>/build/test) holds the three build folders,
# kept between runs so that builds are incremental; TALLY_FUZZ_SECONDS (default 5) per target.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=lib/packages.sh
source "$here/lib/packages.sh"
# shellcheck source=lib/wine.sh
source "$here/lib/wine.sh"

only=()
while [[ $# -gt 0 ]]; do
    case $1 in
        --only) only+=("$2"); shift 2 ;;
        -h | --help) sed -n '2,19p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "test.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
wanted() {
    [[ ${#only[@]} -eq 0 ]] && return 0
    local s
    for s in "${only[@]}"; do [[ $s == "$1" ]] && return 0; done
    return 1
}

root=${TALLY_TEST_BUILD_ROOT:-$repo/build/test}
mixed_writer_tests='^(dirstore_concurrency_test|accounting_log_concurrency_test|accounting_ldap_concurrency)$'
fuzz_seconds=${TALLY_FUZZ_SECONDS:-5}
jobs=2
started=$(date +%s)

passed=0
failed=0
skipped=0
failures=()

work=$(mktemp -d "${TMPDIR:-/tmp}/tally-test.XXXXXX")
export WINEPREFIX=$work/wineprefix
export TALLY_E2E_WINEPREFIX=$work/e2e-wineprefix
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export TMPDIR=$work/tmp
mkdir -p "$TMPDIR"

cleanup() {
    tally_stop_wine "$WINEPREFIX"
    tally_stop_wine "$TALLY_E2E_WINEPREFIX"
    tally_stop_xvfb
    rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

stage() { printf '\n==== %s\n' "$*"; }

fail_step() {
    failed=$((failed + 1))
    failures+=("$1")
    echo "FAILED: $1"
}

# Runs ctest in a build folder and adds its counts (from the JUnit report) to the totals.
run_ctest() {
    local name=$1 build=$2
    shift 2
    local report=$work/$name.junit.xml counts
    (cd "$build" && ctest --output-on-failure --no-tests=ignore --output-junit "$report" "$@")
    local status=$?
    if [[ ! -f $report ]]; then
        fail_step "$name: ctest gave no report (status $status)"
        return
    fi
    counts=$(python3 - "$report" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
suites = [root] if root.tag == "testsuite" else root.findall("testsuite")
tests = failures = skipped = 0
names = []
for suite in suites:
    for case in suite.findall("testcase"):
        tests += 1
        if case.find("failure") is not None or case.find("error") is not None:
            failures += 1
            names.append(case.get("name"))
        elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            skipped += 1
print(tests - failures - skipped, failures, skipped, " ".join(names))
PY
)
    local p f s names
    read -r p f s names <<<"$counts"
    passed=$((passed + p))
    skipped=$((skipped + s))
    if [[ $f -gt 0 ]]; then
        failed=$((failed + f))
        failures+=("$name: $names")
    elif [[ $status -ne 0 ]]; then
        fail_step "$name: ctest exited with $status"
    fi
    echo "$name: $p passed, $f failed, $s skipped"
}

configure_and_build() {
    local name=$1 build=$2
    shift 2
    if ! cmake -S "$repo" -B "$build" -G Ninja "$@" >"$work/$name.configure.log" 2>&1; then
        cat "$work/$name.configure.log"
        fail_step "$name: configure"
        return 1
    fi
    if ! ninja -C "$build" -j"$jobs"; then
        fail_step "$name: build"
        return 1
    fi
}

# Every fuzz target of the sanitizer build, a few seconds each, over a scratch copy of its seeds
# (libFuzzer adds what it finds to the first folder; the checked-in corpus stays as it is).
run_fuzzers() {
    local build=$1 corpus target exe scratch
    while IFS= read -r corpus; do
        target=$(basename "$corpus")
        exe=$(find "$build" -type f -name "$target" -perm -u+x | head -n 1)
        if [[ -z $exe ]]; then
            fail_step "fuzz $target: corpus $corpus has no fuzz target of that name"
            continue
        fi
        scratch=$work/fuzz/$target
        mkdir -p "$scratch/corpus" "$scratch/artifacts"
        echo "fuzz $target (${fuzz_seconds}s)"
        if "$exe" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=0 \
            -artifact_prefix="$scratch/artifacts/" "$scratch/corpus" "$corpus" \
            >"$scratch/log" 2>&1; then
            passed=$((passed + 1))
        else
            tail -n 40 "$scratch/log"
            fail_step "fuzz $target (crash inputs in the log above)"
        fi
    done < <(find "$repo/fuzz" -mindepth 3 -maxdepth 3 -type d -path '*/corpus/*' | sort)
}

stage "Packages"
if ! tally_ensure_packages; then
    fail_step "installing packages"
fi

# Services start only now that their packages are there. The LDAP tests start slapd servers of
# their own; one started here proves that they can, and its failure fails the run.
export TALLY_REQUIRE_SLAPD=1
if wanted native || wanted sanitize || wanted windows || wanted e2e; then
    stage "A scratch slapd on the loopback (the LDAP tests start theirs the same way)"
    if python3 "$here/lib/scratch_slapd.py" --consumer -- bash -c \
        'echo "slapd answers at $TALLY_LDAP_URL, its consumer at $TALLY_LDAP_CONSUMER_URL"'; then
        passed=$((passed + 1))
    else
        fail_step "starting slapd on the loopback (packages slapd and ldap-utils): see above"
    fi
fi

# The Win32 tests and the end-to-end The Win32 tests and the end-to-end
# scenarios make windows: they get a display of this run's own, and a run without one is a
# failed run, not a run of windows that were never made.
if (wanted windows || wanted e2e || wanted package) && [[ -z "${DISPLAY:-}" ]]; then
    if ! tally_start_xvfb; then
        fail_step "starting Xvfb (the Windows tests and the scenarios need a display)"
        echo "$passed passed, $failed failed"
        exit 1
    fi
fi

if wanted checks; then
    stage "Checks: formatting (clang-format-16) and the order of the layers"
    if (cd "$repo" && git ls-files -z -- '*.cpp' '*.h' |
        xargs -0 -r clang-format-16 --dry-run --Werror); then
        passed=$((passed + 1))
    else
        fail_step "formatting: run clang-format-16 -i on the files named above"
    fi
    if python3 "$here/check-layers.py" "$repo"; then
        passed=$((passed + 1))
    else
        fail_step "layers: an include reaches a folder above its own (docs/architecture.md)"
    fi
fi

if wanted native; then
    stage "Native build (g++): tests; benchmarks built, not run"
    if configure_and_build native "$root/native" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DTALLY_BENCH=ON \
        -DTALLY_STORETOOL_WIN="$root/win/tools/storetool/storetool.exe" \
        -DTALLY_DEPOSIT_WRITER_WIN="$root/win/tests/core/accounting/deposit_writer.exe"; then
        if wanted windows; then
            # The writers' concurrency tests run once the Windows writers are built (below).
            run_ctest native "$root/native" -j"$jobs" -E "$mixed_writer_tests"
        else
            run_ctest native "$root/native" -j"$jobs"
        fi
    fi
fi

if wanted sanitize; then
    stage "Sanitizer build (clang, ASan+UBSan, libFuzzer): tests and fuzzing"
    if configure_and_build sanitize "$root/sanitize" -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DTALLY_SANITIZE=ON \
        -DTALLY_FUZZ=ON -DTALLY_BENCH=OFF; then
        run_ctest sanitize "$root/sanitize" -j"$jobs"
        run_fuzzers "$root/sanitize"
    fi
fi

win_built=0
if wanted windows || wanted e2e; then
    stage "Windows build (MinGW-w64)"
    if configure_and_build windows "$root/win" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake"; then
        win_built=1
    fi
fi

if wanted windows && [[ $win_built -eq 1 ]]; then
    stage "Windows tests under Wine"
    bash "$here/wine-prefix.sh" "$WINEPREFIX"
    run_ctest windows "$root/win" -j"$jobs" -LE e2e
    if wanted native; then
        # Now that the Windows storetool.exe and deposit writer exist, the concurrency tests run
        # with some of their writers under Wine: the append locks must hold across both worlds,
        # and a test that finds no Windows writer fails instead of passing without it.
        stage "Store and log writers under Wine and native at once"
        export TALLY_REQUIRE_WINE_WRITERS=1
        run_ctest mixed-writers "$root/native" -R "$mixed_writer_tests"
        unset TALLY_REQUIRE_WINE_WRITERS
    fi
fi

if wanted e2e && [[ $win_built -eq 1 ]]; then
    stage "End-to-end scenarios (screenshots in $root/win/e2e-screenshots)"
    bash "$here/wine-prefix.sh" "$TALLY_E2E_WINEPREFIX"
    run_ctest e2e "$root/win" -L e2e
fi

if wanted package; then
    stage "Packages: packed twice, the same bytes; the zip under Wine, the .deb installed"
    # The stages' own builds are packed when they are there, so nothing is built twice.
    package_args=(--build-root "$root/package")
    [[ -f $root/win/CMakeCache.txt ]] && package_args+=(--win-build "$root/win")
    [[ -f $root/native/CMakeCache.txt ]] && package_args+=(--native-build "$root/native")
    bash "$repo/tests/package/package_test.sh" "$work/package" "$root/package-screenshots" \
        "${package_args[@]}" | tee "$work/package.log"
    read -r p _ f _ < <(tail -n 1 "$work/package.log")
    if [[ $p =~ ^[0-9]+$ && $f =~ ^[0-9]+$ ]]; then
        passed=$((passed + p))
        failed=$((failed + f))
        [[ $f -eq 0 ]] || failures+=("package: see the FAILED lines above")
    else
        fail_step "package: the test gave no counts"
    fi
fi

elapsed=$(( $(date +%s) - started ))
stage "Summary ($((elapsed / 60)) min $((elapsed % 60)) s)"
[[ $skipped -gt 0 ]] && echo "$skipped skipped (not built yet or not applicable)"
for f in "${failures[@]}"; do echo "failed: $f"; done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
