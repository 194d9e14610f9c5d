#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The format and licence check in a copy of the tree without .git, as a source archive unpacks:
# it lists the files from the tree, passes, and still finds a file that lacks its licence line.
#   source_archive.sh SOURCE_DIR
set -euo pipefail
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
tar -C "$1" --exclude='./build*' --exclude=./.git --exclude=./.cache -cf - . | tar -C "$copy" -xf -
bash "$copy/tools/check-format"
echo '// nothing' > "$copy/uart/Unlicensed.h"
if bash "$copy/tools/check-format" 2> "$copy/said"; then
    echo "source_archive: a file without its licence line passed"
    exit 1
fi
grep -q '^uart/Unlicensed.h$' "$copy/said" || { cat "$copy/said"; exit 1; }
echo "source_archive: the check lists the tree's files without git"
