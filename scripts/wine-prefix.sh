#!/usr/bin/env bash
# Makes a Wine prefix ready for the tests, once: wineboot without Mono or Gecko.
# Several tests may start at the same moment, so the first one builds it under a lock.
set -euo pipefail
prefix=$1
mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.tally-ready" ]; then
  WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" wineserver -w || true
  touch "$prefix/.tally-ready"
fi
