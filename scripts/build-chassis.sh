#!/usr/bin/env bash
# Builds what a virtual chassis runs (the firmware programs, vchassis and mknonvol) with
# the debug preset, after installing what is missing; configures the build when needed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
[ -f build/build.ninja ] || cmake --preset debug >/dev/null
cmake --build --preset debug --target vchassis instctl lanlink buslink usblink mknonvol
