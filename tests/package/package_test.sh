#!/usr/bin/env bash
# What a site downloads, checked as a site would use it:
#   - scripts/package.sh twice (the second time linking the programs again) gives the same bytes,
#     the three files named with the build's version, and SHA256SUMS that checks them;
#   - the zip, unpacked into an empty Wine prefix with a tallynet.ini beside the programs: its
#     tallycmd.exe gives the version and a report equal to the golden file, and its tallydesk.exe
#     opens its main window on the sample network and shows the About box (screenshots);
#   - the .deb is clean of lintian errors, installs with apt-get, and its tallycmd gives the
#     version, a report equal to the golden file and its manual page; then it is removed again.
# Needs root or sudo (apt-get) and a DISPLAY (tallydesk.exe). Prints "ok:"/"FAILED:" lines and,
# last, "N passed, N failed".
#
#   package_test.sh WORK_DIR SCREENSHOT_DIR [package.sh options...]
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
# shellcheck source=../../scripts/lib/wine.sh
source "$repo/scripts/lib/wine.sh"
# shellcheck source=../../scripts/lib/packages.sh
source "$repo/scripts/lib/packages.sh"
work=$1
shots=$2
shift 2
expected=$repo/tests/e2e/expected

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $1"; }
fail() { failed=$((failed + 1)); echo "FAILED: $1"; }
check() { # WHAT COMMAND...: passes when the command succeeds
    local what=$1
    shift
    if "$@"; then pass "$what"; else fail "$what"; fi
}
finish() {
    echo "$passed passed, $failed failed"
    [[ $failed -eq 0 ]]
    exit
}

rm -rf -- "$work"
mkdir -p "$work" "$shots"

# --- Twice the same bytes --------------------------------------------------------------------
if ! bash "$repo/scripts/package.sh" --out "$work/dist" "$@"; then
    fail "scripts/package.sh $*"
    finish
fi
if ! bash "$repo/scripts/package.sh" --out "$work/dist-again" --relink "$@" >/dev/null; then
    fail "scripts/package.sh --relink $*"
    finish
fi
dist=$work/dist
zip=$(echo "$dist"/tallydesk-*-win64.zip)
deb=$(echo "$dist"/tallycmd_*_amd64.deb)
version=${zip##*/tallydesk-}
version=${version%-win64.zip}
check "the zip and the .deb carry one version ($version)" \
    test -f "$zip" -a -f "$deb" -a "$deb" == "$dist/tallycmd_${version}_amd64.deb"
check "two package runs give the same bytes" diff -r "$dist" "$work/dist-again"
check "SHA256SUMS checks both packages" \
    bash -c "cd '$dist' && sha256sum --strict -c SHA256SUMS >/dev/null && [[ \$(wc -l <SHA256SUMS) -eq 2 ]]"
expected_version="tallycmd (TallyDesk) $version"

# --- The zip in an empty Wine prefix ---------------------------------------------------------
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset TALLYNET_INI
bash "$repo/scripts/wine-prefix.sh" "$WINEPREFIX"
install_dir="$WINEPREFIX/drive_c/Program Files/TallyDesk"
mkdir -p "$install_dir"
unzip -q "$zip" -d "$work/unzipped"
cp -r "$work/unzipped/tallydesk-$version-win64/." "$install_dir/"
check "the zip holds the programs, the example ini, the schema, the documents, the README" \
    test -f "$install_dir/tallydesk.exe" -a -f "$install_dir/tallycmd.exe" \
    -a -f "$install_dir/tallynet-example.ini" -a -f "$install_dir/tallydesk.ldif" \
    -a -f "$install_dir/docs/tallycmd.txt" -a -f "$install_dir/README.txt"
bash "$repo/tools/samplenet/lay.sh" "$work/net" >/dev/null
tally_link_servers "$WINEPREFIX" "$work/net/tallynet.ini"
# The operator's way: tallynet.ini beside the programs, naming the store by its full path.
sed "s|^Path=.*|Path=$(tally_windows_path "$work/net/directory" | sed 's/\\/\\\\/g')|" \
    "$work/net/tallynet.ini" >"$install_dir/tallynet.ini"

installed='C:\Program Files\TallyDesk'
wine_tallycmd() { (cd "$work" && wine "$installed\tallycmd.exe" "$@" 2>"$work/err"); }
check "tallycmd.exe --version" test "$(wine_tallycmd --version | tr -d '\r')" == "$expected_version"
if wine_tallycmd stats --out - >"$work/User.txt" && cmp "$work/User.txt" "$expected/User.txt"; then
    pass "tallycmd.exe stats from the zip equals the golden User.txt"
else
    fail "tallycmd.exe stats from the zip equals the golden User.txt"
    cat "$work/err"
fi

if [[ -z ${DISPLAY:-} ]]; then
    fail "tallydesk.exe from the zip: no DISPLAY to start it on"
else
    (cd "$work" && exec wine "$installed\tallydesk.exe") >/dev/null 2>&1 &
    desk=$!
    main=$(timeout 60 xdotool search --sync --onlyvisible --name '^TallyDesk$' | head -n 1)
    if [[ -n $main ]]; then
        pass "tallydesk.exe from the zip opens its main window"
        sleep 1
        import -window root "$shots/package-main.png"
        # Help > About from the keyboard (there is no window manager: focus the window first).
        xdotool windowfocus --sync "$main" 2>/dev/null
        xdotool key --delay 150 alt+h b
        if about=$(timeout 20 xdotool search --sync --onlyvisible --name '^About TallyDesk$'); then
            pass "tallydesk.exe from the zip shows its About box"
            sleep 1
            import -window root "$shots/package-about.png"
            xdotool key --window "$about" Return
        else
            fail "tallydesk.exe from the zip shows its About box"
        fi
    else
        fail "tallydesk.exe from the zip opens its main window"
        import -window root "$shots/package-main.png"
    fi
    tally_stop_wine "$WINEPREFIX"
    wait "$desk" 2>/dev/null
fi
tally_stop_wine "$WINEPREFIX"

# --- The Debian package ----------------------------------------------------------------------
if command -v lintian >/dev/null; then
    check "lintian finds no error in the .deb" lintian --fail-on error "$deb"
else
    fail "lintian is not installed (scripts/lib/packages.sh)"
fi
if dpkg-query -W -f='${Status}' tallycmd 2>/dev/null | grep -q 'install ok installed'; then
    fail "a tallycmd package is installed on this machine already; not replacing it"
    finish
fi
export DEBIAN_FRONTEND=noninteractive
if ! tally_as_root apt-get install -y -qq -o DPkg::Lock::Timeout=300 "$(realpath "$deb")" \
    >"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    fail "apt-get install ./$(basename "$deb")"
    finish
fi
pass "apt-get install ./$(basename "$deb")"
bash "$repo/tools/samplenet/lay.sh" "$work/net" >/dev/null
check "tallycmd --version" test "$(/usr/bin/tallycmd --version)" == "$expected_version"
if (cd "$work" && /usr/bin/tallycmd --ini "$work/net/tallynet.ini" stats --out - \
    >"$work/User-deb.txt") && cmp "$work/User-deb.txt" "$expected/User.txt"; then
    pass "tallycmd stats from the .deb equals the golden User.txt"
else
    fail "tallycmd stats from the .deb equals the golden User.txt"
fi
check "man tallycmd: the manual page holds every command's help" \
    bash -c 'page=$(MANWIDTH=100 man tallycmd 2>/dev/null) &&
        for word in deposit charge set-balance set-limit show history stats balances; do
            grep -q "usage: tallycmd $word" <<<"$page" || exit 1; done'
check "the schema is in /usr/share/tallydesk" \
    cmp /usr/share/tallydesk/tallydesk.ldif "$repo/dirstore/schema/tallydesk.ldif"
if tally_as_root apt-get purge -y -qq -o DPkg::Lock::Timeout=300 tallycmd >"$work/apt.log" 2>&1 &&
    [[ ! -e /usr/bin/tallycmd ]]; then
    pass "apt-get purge tallycmd leaves nothing behind"
else
    cat "$work/apt.log"
    fail "apt-get purge tallycmd leaves nothing behind"
fi
finish
