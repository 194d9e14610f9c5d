#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The service's unit as systemd reads it: systemd-analyze verify has nothing to say about it (an
# unknown key or a value it cannot parse is only a warning, and fails here too). The program it
# runs is this build's, where the installed unit names the installed one. The spool the bridge is
# given must be the folder made for it before the start as the group's, and left writable by the
# sandbox: else nobody but root could drop a job, or the bridge could not remove a printed one.
# Exits 77 (skipped) where systemd-analyze is missing.
#   tests/unit_file.sh UNIT PROGRAM
set -euo pipefail
unit=$1 program=$2
command -v systemd-analyze >/dev/null || { echo "unit_file: no systemd-analyze: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy="$work/$(basename "$unit")"
sed "s#^ExecStart=[^ ]*#ExecStart=$program#" "$unit" > "$copy"
grep -q "^ExecStart=$program --bridge --machine %i --spool /var/spool/quorlix/%i --link " "$copy" ||
    { echo "unit_file: no ExecStart with the spool"; exit 1; }
spool=/var/spool/quorlix/%i
grep -qx "ExecStartPre=+[^ ]*install -d -m 2770 -g quorlix $spool" "$copy" ||
    { echo "unit_file: $spool is not made as the group quorlix's before the start"; exit 1; }
grep -qx "ReadWritePaths=$spool" "$copy" || { echo "unit_file: $spool is left read-only"; exit 1; }
status=0
said=$(systemd-analyze verify --man=no "$copy" 2>&1) || status=$?
if [[ $status -ne 0 || -n "$said" ]]; then
    printf 'unit_file: systemd-analyze verify %s (status %d):\n%s\n' "$(basename "$unit")" \
        "$status" "$said"
    exit 1
fi
echo "unit_file: $(basename "$unit") verified"
