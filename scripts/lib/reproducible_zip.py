#!/usr/bin/env python3
"""Writes a zip archive whose bytes depend only on the files' contents and names: entries in
sorted order, every time stamp SOURCE_DATE_EPOCH (at least 1980, the format's first year), the
same modes (folders 755, files 644, .exe 755), no extra fields.

    reproducible_zip.py ARCHIVE FOLDER TOP

packs FOLDER/TOP as TOP/... into ARCHIVE.
"""
import os
import sys
import time
import zipfile


def entries(folder, top):
    found = []
    for base, dirs, files in os.walk(os.path.join(folder, top)):
        for name in dirs + files:
            path = os.path.join(base, name)
            found.append((os.path.relpath(path, folder).replace(os.sep, "/"), path))
    found.append((top, os.path.join(folder, top)))
    return sorted(found)


def main():
    archive, folder, top = sys.argv[1:4]
    epoch = max(int(os.environ.get("SOURCE_DATE_EPOCH", "315532800")), 315532800)
    stamp = time.gmtime(epoch)[:6]
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as z:
        for name, path in entries(folder, top):
            if os.path.isdir(path):
                info = zipfile.ZipInfo(name + "/", stamp)
                info.external_attr = (0o40755 << 16) | 0x10  # and the MS-DOS folder flag
                info.create_system = 3
                z.writestr(info, b"")
                continue
            info = zipfile.ZipInfo(name, stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = (0o100755 if name.endswith(".exe") else 0o100644) << 16
            info.create_system = 3  # Unix, so that the modes above are read
            with open(path, "rb") as f:
                z.writestr(info, f.read(), compresslevel=9)


if __name__ == "__main__":
    main()
