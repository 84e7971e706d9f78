#!/usr/bin/env bash
# Lays a fresh copy of the sample network at DEST:
#   DEST/tallynet.ini
#   DEST/directory/{schema.ldif,directory.ldif,journal.ldif}
#   DEST/servers/<NAME>/SYS/...
# Running it again gives the same folder: whatever an earlier run (or a test) changed there is
# thrown away. To keep a typo from wiping an unrelated folder, DEST must be absent, empty, or an
# earlier sample network (a folder holding tallynet.ini).
set -euo pipefail

usage() {
    echo "usage: $0 DEST" >&2
    exit 2
}
[[ $# -eq 1 && -n "$1" ]] || usage

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$here/../.." && pwd)
dest=$1

if [[ -e "$dest" && ! -d "$dest" ]]; then
    echo "$0: $dest exists and is not a folder" >&2
    exit 1
fi
if [[ -d "$dest" ]]; then
    dest_abs=$(cd "$dest" && pwd)
    if [[ "$dest_abs" == "$here" || "$dest_abs" == "$repo" || "$dest_abs" == / ]]; then
        echo "$0: refusing to lay the network over $dest_abs" >&2
        exit 1
    fi
    if [[ -n "$(ls -A "$dest")" && ! -f "$dest/tallynet.ini" ]]; then
        echo "$0: $dest is not empty and holds no tallynet.ini; not overwriting it" >&2
        exit 1
    fi
    rm -rf -- "$dest"
fi

mkdir -p "$dest/directory"
cp "$here/tallynet.ini" "$dest/tallynet.ini"
cp "$repo/dirstore/schema/tallydesk.ldif" "$dest/directory/schema.ldif"
cp "$here/directory.ldif" "$dest/directory/directory.ldif"
: >"$dest/directory/journal.ldif"

# Files on the servers' volumes are DOS text: the checked-in copies keep plain line ends so that
# they stay readable in diffs, and get CR LF here.
(cd "$here" && find servers -type d) | while read -r dir; do
    mkdir -p "$dest/$dir"
done
(cd "$here" && find servers -type f) | while read -r file; do
    sed 's/\r*$/\r/' "$here/$file" >"$dest/$file"
done
