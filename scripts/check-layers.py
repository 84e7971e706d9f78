#!/usr/bin/env python3
"""Checks that no source folder includes a folder above its own (docs/architecture.md draws the
stack). Prints every include that breaks the order with its file and line; exit status 1 when
there is one.

    scripts/check-layers.py [REPO]
"""
import os
import re
import subprocess
import sys

# Bottom to top. A folder may include its own files and those of the folders below it; the
# resources' ids (resources/resource.h) sit below everything.
LAYERS = [
    ["platform", "resources"],
    ["dirstore"],
    ["ldapstore"],
    ["directory"],
    ["program"],
    ["accounting"],
    ["browse"],
    ["reports"],
    ["app"],
    ["tools"],
]
RANK = {folder: rank for rank, folders in enumerate(LAYERS) for folder in folders}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/')


def main():
    repo = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    files = subprocess.run(["git", "-C", repo, "ls-files", "*.cpp", "*.h"], check=True,
                           capture_output=True, text=True).stdout.split()
    broken = 0
    for path in files:
        folder = path.split("/", 1)[0]
        if folder not in RANK:
            continue  # tests, fuzzers and benchmarks may reach every layer
        with open(os.path.join(repo, path), encoding="latin-1") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match or match.group(1) not in RANK:
                    continue
                if RANK[match.group(1)] > RANK[folder]:
                    print(f"{path}:{number}: {folder}/ includes {match.group(1)}/, a layer above "
                          "it")
                    broken += 1
    if broken:
        print(f"{broken} include(s) reach up the stack; move the code or the include down")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
