#!/usr/bin/env bash
# The whole check a newcomer or CI runs: install what is missing, configure, build,
# run every test. Pass a preset name (debug, asan, tsan, release) to use another build.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-debug}"
scripts/setup.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
