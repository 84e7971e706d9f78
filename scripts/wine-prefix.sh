#!/usr/bin/env bash
# Makes a Wine prefix ready for the tests, once: wineboot without Mono or Gecko, Wine drawing
# window frames itself (there is no window manager on the test displays, and screenshots should
# show captions), and .txt files opening in notepad. Several tests may start at the same moment,
# so the first one builds it under a lock. Wine's own fonts are put into the prefix, so that
# frames and dialogs are drawn with them.
set -euo pipefail
prefix=$1
mkdir -p "$prefix"
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.tally-ready" ]; then
  export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wineboot --init >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1 || true
  # A fresh prefix opens no document type: associate text files with Wine's notepad, as an
  # operator's Windows does, so that the reports open in a viewer.
  wine reg add 'HKCR\.txt' /ve /t REG_SZ /d txtfile /f >/dev/null 2>&1 || true
  wine reg add 'HKCR\txtfile\shell\open\command' /ve /t REG_SZ \
    /d 'C:\windows\notepad.exe "%1"' /f >/dev/null 2>&1 || true
  # Debian's Wine does not find its own fonts (fonts-wine) by itself: without Marlett the frames
  # it draws show "0 1 r" for their buttons, and "MS Sans Serif" falls back to another face.
  # Fonts in the prefix's Windows folder are always loaded.
  if compgen -G "/usr/share/wine/fonts/*.ttf" >/dev/null; then
    cp -n /usr/share/wine/fonts/*.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
  fi
  wineserver -w || true
  touch "$prefix/.tally-ready"
fi
