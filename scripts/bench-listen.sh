#!/usr/bin/env bash
# Figures for mova's listening commands, on 20 minute-long songs written by
# build/bench/make_songs:
#   - mova render -j 1 against -j 2 (medians of RUNS wall times each, run in
#     turn, into OUT, a folder on the disk by default);
#   - the CPU time of a minute of mova play on a terminal (script(1) gives it
#     one) against the same with the standard output a file, both through a
#     private PulseAudio daemon with a null sink, as scripts/bench-live.sh.
# Usage: scripts/bench-listen.sh [RUNS] [OUT]
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-9}
mova=$PWD/build/mova
dir=$(mktemp -d)
out=${2:-$dir/out}
daemon=
cleanup() {
  if [ -n "$daemon" ]; then kill "$daemon" 2>/dev/null || true; wait "$daemon" 2>/dev/null || true; fi
  rm -rf "$dir" "$out-1" "$out-2"
}
trap cleanup EXIT
mkdir "$dir/songs"
build/bench/make_songs "$dir/songs"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for _ in $(seq "$runs"); do
  for jobs in 1 2; do
    rm -rf "$out-$jobs"
    start=$(date +%s.%N)
    "$mova" render "$dir/songs" -d "$out-$jobs" -j "$jobs" >/dev/null
    echo "$(date +%s.%N) - $start" | bc >>"$dir/wall-$jobs"
  done
done
one=$(median <"$dir/wall-1")
two=$(median <"$dir/wall-2")
awk -v a="$one" -v b="$two" -v n="$runs" 'BEGIN {
  printf "render of 20 minute-long songs: -j 1 %.3f s, -j 2 %.3f s (medians of %d): %.2fx\n",
    a, b, n, a / b }'

source "$(dirname "$0")/sound-server.sh"
start_sound_server "$dir"
# Both at once, so that they share whatever else the machine is doing.
song=$dir/songs/song00.psg
TERM=xterm script -qfec "/usr/bin/time -f '%e %U %S' -o $dir/terminal $mova play $song" \
  /dev/null >/dev/null </dev/null &
/usr/bin/time -f '%e %U %S' -o "$dir/plain" "$mova" play "$song" >/dev/null 2>&1 </dev/null
wait $!
for kind in terminal plain; do
  read -r wall user sys <"$dir/$kind"
  awk -v k="$kind" -v w="$wall" -v u="$user" -v s="$sys" 'BEGIN {
    printf "play of a minute, %s: wall %.2f s, CPU %.2f s: %.2f %% of one core\n",
      k, w, u + s, 100 * (u + s) / w }'
done
