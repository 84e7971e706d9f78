#!/usr/bin/env bash
# Makes what a site downloads, from the commit checked out:
#   dist/tallydesk-<version>-win64.zip   for operators' Windows workstations: tallydesk.exe,
#                                        tallycmd.exe, an example tallynet.ini, the schema, the
#                                        documents and an operator's README
#   dist/tallycmd_<version>_amd64.deb    tallycmd for a Debian or Ubuntu server, with its manual
#                                        page, the schema under /usr/share/tallydesk and the
#                                        documents
#   dist/SHA256SUMS                      the checksums of both
# Two runs from one commit give the same bytes: every time stamp is the commit's
# (SOURCE_DATE_EPOCH), archive entries are sorted with fixed owners and modes, and the builds
# are deterministic (CMakeLists.txt). The version is the build's (cmake/TallyVersion.cmake).
#
#   scripts/package.sh [--out DIR] [--build-root DIR] [--win-build DIR] [--native-build DIR]
#                      [--relink]
#
#   --out DIR           where the packages go (default <repo>/dist); older packages there go
#   --build-root DIR    the builds are made in DIR/win and DIR/native (default
#                       <repo>/build/package), incrementally
#   --win-build DIR     take tallydesk.exe and tallycmd.exe from this configured Windows build
#                       folder instead (scripts/test.sh hands in its own); likewise
#   --native-build DIR  tallycmd from this native build folder
#   --relink            link the programs and compile their resources again before packing
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/.." && pwd)
# shellcheck source=lib/packages.sh
source "$here/lib/packages.sh"

out=$repo/dist
build_root=$repo/build/package
win_build=
native_build=
relink=0
while [[ $# -gt 0 ]]; do
    case $1 in
        --out) out=$2; shift 2 ;;
        --build-root) build_root=$2; shift 2 ;;
        --win-build) win_build=$2; shift 2 ;;
        --native-build) native_build=$2; shift 2 ;;
        --relink) relink=1; shift ;;
        -h | --help) sed -n '2,23p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "package.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done

say() { printf '== %s\n' "$*"; }
die() { echo "package.sh: $*" >&2; exit 1; }

tally_ensure_packages || die "the packages that building needs are missing (see above)"

# Every time stamp in the packages: the commit's time, or the caller's SOURCE_DATE_EPOCH; a tree
# without git takes its VERSION file's time.
if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
    SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct 2>/dev/null ||
        stat -c %Y "$repo/VERSION")
fi
export SOURCE_DATE_EPOCH
export TZ=UTC LC_ALL=C.UTF-8
umask 022

# A build folder given is configured already (its own options stay); cmake runs again all the
# same, so that its version is this commit's.
configure() {
    local build=$1
    shift
    if [[ -f $build/CMakeCache.txt ]]; then
        local tree
        tree=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
        [[ $(realpath "$tree") == "$(realpath "$repo")" ]] ||
            die "$build is a build of $tree, not of $repo"
        cmake "$build" >"$build.configure.log" 2>&1
    else
        mkdir -p "$build"
        cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTALLY_TESTS=OFF \
            -DTALLY_BENCH=OFF "$@" >"$build.configure.log" 2>&1
    fi || { cat "$build.configure.log"; die "configuring $build failed"; }
}

# BUILD PROGRAM...: builds the programs (paths in the build folder); with --relink their links
# and the resource scripts are made again from the same objects.
build_programs() {
    local build=$1
    shift
    if [[ $relink -eq 1 ]]; then
        (cd "$build" && rm -f -- "$@")
        find "$build/CMakeFiles/tallydesk.dir" "$build/tools/tallycmd/CMakeFiles/tallycmd.dir" \
            -name '*.rc.res' -delete 2>/dev/null || true
    fi
    nice ninja -C "$build" -j2 "$@" || die "building $* in $build failed"
}

win_build=${win_build:-$build_root/win}
native_build=${native_build:-$build_root/native}
say "Windows build: $win_build"
configure "$win_build" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-mingw64.cmake"
build_programs "$win_build" tallydesk.exe tools/tallycmd/tallycmd.exe
say "Native build: $native_build"
configure "$native_build" -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
build_programs "$native_build" tools/tallycmd/tallycmd

version_of() {
    sed -n 's/^#define TALLY_VERSION_TEXT "\(.*\)"$/\1/p' "$1/generated/tally_version.h"
}
version=$(version_of "$win_build")
[[ -n $version ]] || die "$win_build/generated/tally_version.h names no version"
[[ $(version_of "$native_build") == "$version" ]] ||
    die "the builds disagree on the version: $version and $(version_of "$native_build")"
say "Version $version (time stamps: $(date -u -d "@$SOURCE_DATE_EPOCH" +%FT%TZ))"
if [[ -n $(git -C "$repo" status --porcelain --untracked-files=no 2>/dev/null) ]]; then
    echo "package.sh: warning: the tree has changes not committed; the packages hold them," \
        "but their version names only the commit" >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tally-package.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
mkdir -p "$out"
rm -f -- "$out"/tallydesk-*-win64.zip "$out"/tallycmd_*_amd64.deb "$out/SHA256SUMS"

# The documents a site reads (the others are about the source).
site_docs=(tallycmd directory-client directory-store accounting-log)

# --- The Windows zip -------------------------------------------------------------------------
zip_name=tallydesk-$version-win64
stage=$work/zip/$zip_name
mkdir -p "$stage/docs"
x86_64-w64-mingw32-strip -o "$stage/tallydesk.exe" "$win_build/tallydesk.exe"
x86_64-w64-mingw32-strip -o "$stage/tallycmd.exe" "$win_build/tools/tallycmd/tallycmd.exe"
cp "$repo/dirstore/schema/tallydesk.ldif" "$stage/tallydesk.ldif"
# Text files with CR LF line ends, for Notepad.
crlf() { sed -e 's/\r$//' -e 's/$/\r/' "$1" >"$2"; }
crlf "$repo/packaging/windows/tallynet-example.ini" "$stage/tallynet-example.ini"
sed "s/@VERSION@/$version/g" "$repo/packaging/windows/README.txt" >"$work/README.txt"
crlf "$work/README.txt" "$stage/README.txt"
for doc in "${site_docs[@]}"; do
    crlf "$repo/docs/$doc.md" "$stage/docs/$doc.txt"
done
python3 "$here/lib/reproducible_zip.py" "$out/$zip_name.zip" "$work/zip" "$zip_name"
say "$out/$zip_name.zip"

# --- The Debian package ----------------------------------------------------------------------
root=$work/deb
doc=$root/usr/share/doc/tallycmd
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$root/usr/share/tallydesk" "$doc"
strip --remove-section=.comment --remove-section=.note --strip-unneeded \
    -o "$root/usr/bin/tallycmd" "$native_build/tools/tallycmd/tallycmd"
cp "$repo/dirstore/schema/tallydesk.ldif" "$root/usr/share/tallydesk/tallydesk.ldif"
python3 "$here/lib/tallycmd_manpage.py" "$native_build/tools/tallycmd/tallycmd" \
    "$SOURCE_DATE_EPOCH" >"$work/tallycmd.1"
gzip -9nc "$work/tallycmd.1" >"$root/usr/share/man/man1/tallycmd.1.gz"
sed "s/@YEAR@/$(date -u -d "@$SOURCE_DATE_EPOCH" +%Y)/" "$repo/packaging/debian/copyright" \
    >"$doc/copyright"
# A native package's changelog: one entry for this version, dated by the commit.
{
    printf 'tallycmd (%s) unstable; urgency=medium\n\n' "$version"
    printf '  * Built from commit %s.\n\n' "$(git -C "$repo" rev-parse --short=12 HEAD 2>/dev/null ||
        echo "of an unpacked source tree")"
    printf ' -- TallyDesk developers <tallydesk@example.org>  %s\n' \
        "$(date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -9n >"$doc/changelog.gz"
for name in "${site_docs[@]}"; do
    gzip -9nc "$repo/docs/$name.md" >"$doc/$name.md.gz"
done

# Dependencies as the shared libraries the program was linked with require them.
mkdir -p "$work/shlibs/debian"
printf 'Source: tallycmd\n\nPackage: tallycmd\nArchitecture: amd64\n' >"$work/shlibs/debian/control"
depends=$(cd "$work/shlibs" && dpkg-shlibdeps -O "$root/usr/bin/tallycmd" 2>/dev/null |
    sed -n 's/^shlibs:Depends=//p')
[[ -n $depends ]] || die "dpkg-shlibdeps found no dependencies of tallycmd"
installed_size=$(du -sk --apparent-size --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@DEPENDS@/$depends/" -e "s/@SIZE@/$installed_size/" \
    "$repo/packaging/debian/control" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$root/DEBIAN/md5sums"

find "$root" -type d -exec chmod 0755 {} +
find "$root" -type f -exec chmod 0644 {} +
chmod 0755 "$root/usr/bin/tallycmd"
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=$out/tallycmd_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
say "$deb"

(cd "$out" && sha256sum "$zip_name.zip" "$(basename "$deb")") >"$out/SHA256SUMS"
say "$out/SHA256SUMS"
