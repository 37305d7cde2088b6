#!/usr/bin/env bash
# Whole-process render speed over a varied set of songs, as ratios to the
# same build's tick-by-tick path: for each log the least CPU time (user +
# system) of `zarnik LOG -o /dev/null` over 10 runs and of
# `bench/render_file ticks LOG /dev/null` over 5, and their ratio; then the
# median ratio over the songs. With BEFORE=DIR (a folder holding an older
# build's zarnik and render_file) the older build is measured in the same run,
# log by log, for a before/after table.
#
# The set (written into out/songs/): the demo song; three generated tunes and
# two pieces of noise drum music (bench/stress_logs.h); each of the twelve
# reference vectors played over and over for a minute; and the sparse and
# dense stress logs, reported apart from the songs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
out=out/songs
mkdir -p "$out"
./build/bench/make_stress_logs "$out" ../shared/vectors/v*.txt
cp examples/demo/demo.bin "$out/demo.bin"
songs="demo.bin tune1.txt tune2.txt tune3.txt drums1.txt drums2.txt"
for v in ../shared/vectors/v*.txt; do songs="$songs loop-$(basename "$v")"; done
cpu=./build/bench/cpu_time
export PROMPT=

# Prints "zarnik_ms ticks_ms ratio" for one build folder and one log.
measure() {
  local zarnik=$1 render_file=$2 log=$3 fast slow
  fast=$($cpu 10 "$zarnik" "$log" -o /dev/null | cut -d' ' -f1)
  slow=$($cpu 5 "$render_file" ticks "$log" /dev/null | cut -d' ' -f1)
  awk -v f="$fast" -v s="$slow" 'BEGIN { printf "%.2f %.1f %.1f\n", f, s, s / f }'
}

table() {
  local header="| Log | zarnik ms | ticks ms | ratio |"
  [ -n "${BEFORE:-}" ] && header="| Log | before: zarnik ms | ticks ms | ratio | after: zarnik ms | ticks ms | ratio |"
  echo "$header"
  for log in "$@"; do
    local row="| ${log%.*} |"
    if [ -n "${BEFORE:-}" ]; then
      row="$row $(measure "$BEFORE/zarnik" "$BEFORE/render_file" "$out/$log" | sed 's/ / | /g') |"
    fi
    row="$row $(measure build/zarnik build/bench/render_file "$out/$log" | sed 's/ / | /g') |"
    echo "$row"
  done
}

echo "== songs (CPU ms, least of 10 / 5 runs; ratio = ticks / zarnik)"
table $songs | tee "$out/songs.md"
# The median of each ratio column (the 4th and, with BEFORE, the 7th field).
for column in 5 8; do
  values=$(tail -n +2 "$out/songs.md" | cut -d'|' -f$column | tr -d ' ' | grep . | sort -g) || continue
  echo "$values" | awk -v c="$column" '{ v[NR] = $1 } END {
    m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
    printf "median ratio%s: %.1f over %d songs\n", (c == 8 ? " after" : ""), m, NR }'
done
echo "== stress logs"
table sparse.txt dense.txt
