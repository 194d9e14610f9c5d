#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The service's unit as systemd reads it: systemd-analyze verify has nothing to say about it (an
# unknown key or a value it cannot parse is only a warning, and fails here too). The program it
# runs is this build's, where the installed unit names the installed one. Exits 77 (skipped)
# where systemd-analyze is missing.
#   tests/unit_file.sh UNIT PROGRAM
set -euo pipefail
unit=$1 program=$2
command -v systemd-analyze >/dev/null || { echo "unit_file: no systemd-analyze: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy="$work/$(basename "$unit")"
sed "s#^ExecStart=[^ ]*#ExecStart=$program#" "$unit" > "$copy"
grep -q "^ExecStart=$program --bridge --machine %i " "$copy" || { echo "unit_file: no ExecStart"; exit 1; }
status=0
said=$(systemd-analyze verify --man=no "$copy" 2>&1) || status=$?
if [[ $status -ne 0 || -n "$said" ]]; then
    printf 'unit_file: systemd-analyze verify %s (status %d):\n%s\n' "$(basename "$unit")" \
        "$status" "$said"
    exit 1
fi
echo "unit_file: $(basename "$unit") verified"
