#!/usr/bin/env bash
# The whole check a newcomer or CI runs: install what is missing, then configure, build
# and run every test in the debug build and again under the address+undefined and the
# thread sanitizers. Name presets (debug, asan, tsan, release) to run only those.
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
((${#presets[@]})) || presets=(debug asan tsan)
scripts/setup.sh
for preset in "${presets[@]}"; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
