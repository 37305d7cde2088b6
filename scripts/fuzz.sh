#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour checks)
# into build-fuzz/ and runs each for SECONDS seconds, starting from the seed
# corpora in fuzz/corpus/. Fails when any target finds a crash, a hang, a leak
# or a broken property; the input that did it is kept in build-fuzz/artifacts/.
# Usage: scripts/fuzz.sh [SECONDS] [TARGET...]    (60 s, every target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(text_reader binary_reader hex_byte converter renderer
  failures ym_import psg_import vgm_import vtx_import pt3_replay log_scan studio_engine)

bash scripts/install-deps.sh clang libclang-rt-14-dev
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DZARNIK_FUZZ=ON -DBUILD_TESTING=OFF \
  -DZARNIK_BENCHMARKS=OFF -DZARNIK_WERROR=ON >/dev/null
cmake --build build-fuzz -j2

mkdir -p build-fuzz/artifacts
failed=()
summary=()
for target in "${targets[@]}"; do
  echo "== fuzz_${target} for ${seconds} s"
  work="build-fuzz/corpus/${target}"
  mkdir -p "$work"
  log="build-fuzz/fuzz_${target}.log"
  # New inputs go to the work corpus (first folder); the seeds stay as they are.
  # The programs' own messages are silenced (-close_fd_mask=3); findings are
  # still reported.
  if ./build-fuzz/fuzz/"fuzz_${target}" -max_total_time="$seconds" -timeout=25 \
      -close_fd_mask=3 -print_final_stats=1 -max_len=4096 \
      -artifact_prefix="build-fuzz/artifacts/${target}-" \
      "$work" "fuzz/corpus/${target}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    failed+=("$target")
    tail -n 60 "$log"
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 || true)
  summary+=("fuzz_${target}: ${result}, ${runs:-?} executions, ${cov:-cov: ?}")
done

echo "== fuzzing summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
