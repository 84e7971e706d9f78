#!/usr/bin/env bash
# Runs a Windows program under Wine for the tests (CTest's cross-compiling emulator).
# Uses $WINEPREFIX when the caller set one (scripts/test.sh makes a fresh one per run);
# otherwise a prefix inside the build folder. The prefix is made on first use.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEDEBUG=-all
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="${TALLY_BUILD_DIR:-$PWD}/wineprefix"
fi
"$here/wine-prefix.sh" "$WINEPREFIX"
exec wine "$@"
