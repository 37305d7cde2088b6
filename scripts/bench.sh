#!/usr/bin/env bash
# Measures render speed: Google Benchmark in-process (both render paths), then
# whole processes with hyperfine and /usr/bin/time -v, to /dev/null and to a
# real file next to dd writing the same number of bytes in 6144-byte blocks.
# Logs and WAV files go to out/bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh hyperfine time
bash scripts/build.sh
out=out/bench
mkdir -p "$out"
./build/bench/make_stress_logs "$out"
cp examples/demo/demo.bin "$out/demo.bin"

echo "== Google Benchmark (x_realtime = seconds of sound per second)"
./build/bench/render_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E "Benchmark|_median|_min"

export PROMPT=
# The demo song as it ships (binary); the generated logs as text.
for log in demo.bin sparse.txt dense.txt; do
  echo "== $log: compute, -o /dev/null"
  hyperfine -N -w 2 -m 10 \
    "./build/zarnik $out/$log -o /dev/null" \
    "./build/bench/render_file stretches $out/$log /dev/null"
  # The tick-by-tick path takes seconds a run: three runs are enough.
  hyperfine -N -w 0 -m 3 -M 3 "./build/bench/render_file ticks $out/$log /dev/null"
  /usr/bin/time -v ./build/zarnik "$out/$log" -o /dev/null 2>&1 >/dev/null |
    grep -E 'Elapsed|Maximum resident'
done

for log in demo.bin sparse.txt; do
  ./build/zarnik "$out/$log" -o "$out/$log.wav" >/dev/null
  blocks=$(( ($(stat -c %s "$out/$log.wav") + 6143) / 6144 ))
  echo "== $log: to a real file ($blocks blocks of 6144 bytes)"
  hyperfine -N -w 2 -m 10 \
    "./build/zarnik $out/$log -o $out/$log.wav" \
    "dd if=/dev/zero of=$out/dd.wav bs=6144 count=$blocks status=none"
done
