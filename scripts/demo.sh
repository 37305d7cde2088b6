#!/usr/bin/env bash
# Installs what is missing, builds, and renders the demo song to out/demo.wav.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
mkdir -p out
# PROMPT set: render and return, without waiting for a key.
PROMPT= ./build/zarnik examples/demo/demo.bin -o out/demo.wav
echo "The demo song is in $(pwd)/out/demo.wav"
