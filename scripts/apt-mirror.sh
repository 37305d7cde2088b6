#!/usr/bin/env bash
# Prints the address of the Debian archive this machine's apt already uses
# (the first binary-package entry of its sources), so that the scripts that
# need an archive of their own (a source package, a fresh root) reach the same
# one. Prints nothing when none is configured.
set -euo pipefail
shopt -s nullglob
for file in /etc/apt/sources.list.d/*.sources; do
  awk 'tolower($1) == "types:" { binary = 0; for (i = 2; i <= NF; i++) if ($i == "deb") binary = 1 }
       tolower($1) == "uris:" && binary { print $2; found = 1; exit }
       END { exit !found }' "$file" && exit 0
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] || continue
  awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i ~ /^[a-z+]+:\/\//) { print $i; found = 1; exit } }
       END { exit !found }' "$file" && exit 0
done
exit 0
