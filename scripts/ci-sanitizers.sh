#!/usr/bin/env bash
# Builds the project twice more, with sanitizers, and runs the tests there:
#   AddressSanitizer + UndefinedBehaviorSanitizer over the whole suite, any
#   finding fatal;
#   ThreadSanitizer over the tests where two threads share the sample ring.
# Usage: scripts/ci-sanitizers.sh [asan|tsan]...   (both when none given)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(asan tsan)

configure() {  # build dir, sanitizer flags
  cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZARNIK_WERROR=ON \
    -DZARNIK_BENCHMARKS=OFF \
    -DCMAKE_CXX_FLAGS="-O1 -g -fno-omit-frame-pointer $2" \
    -DCMAKE_EXE_LINKER_FLAGS="$2" >/dev/null
  cmake --build "$1" -j2
}

for stage in "${stages[@]}"; do
  case "$stage" in
    asan)
      echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
      configure build-asan "-fsanitize=address,undefined -fno-sanitize-recover=all"
      ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
      UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure -j2 --timeout 600
      ;;
    tsan)
      echo "== ThreadSanitizer: the ring and everything that runs beside it"
      configure build-tsan "-fsanitize=thread"
      # The live engine and pacing tests join this filter when they exist.
      TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
        ctest --test-dir build-tsan --output-on-failure -j2 --timeout 600 \
        -R "SampleRing|RingStress|AudioEngine|PlayLoop|Pacing" --no-tests=error
      ;;
    *)
      echo "unknown stage: $stage" >&2
      exit 2
      ;;
  esac
done
