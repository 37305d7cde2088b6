#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test. The live play test
# plays through a private PulseAudio server with a null sink and records it;
# ALSA's default device reaches that server through the plugins package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh pulseaudio pulseaudio-utils libasound2-plugins
bash scripts/build.sh
ctest --test-dir build --output-on-failure -j2
