#!/usr/bin/env bash
# Starts a virtual chassis on this PC: installs what is missing, builds the firmware
# programs and vchassis with the debug preset when needed, then runs `vchassis run`
# with the given options (--root DIR, --port-base N, --bind ADDR, --chassis FILE).
# Ctrl-C stops the chassis and removes what it made.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-chassis.sh
exec build/bin/vchassis run "$@"
