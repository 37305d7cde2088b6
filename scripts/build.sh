#!/usr/bin/env bash
# Configures and builds into build/ (Release, warnings fatal).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DZARNIK_WERROR=ON >/dev/null
cmake --build build -j2
