#!/usr/bin/env bash
# The whole check a newcomer or CI runs: install what is missing, then, stage by stage,
# configure, build and run every test in the debug build; run every example of
# examples/ against a fresh virtual chassis; run every test again under the
# address+undefined and the thread sanitizers; build the unit tests for big-endian
# s390x and run them under qemu-user; cross-build the firmware programs for the
# board's armhf; and run every fuzz target briefly. Name stages (debug, examples,
# asan, tsan, release, s390x, armhf, fuzz) to run only those. Each stage's time is
# printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
stages=("$@")
((${#stages[@]})) || stages=(debug examples asan tsan s390x armhf fuzz)
scripts/setup.sh

# The compiler cache serves any checkout of the tree: paths are hashed relative to it.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

fuzz_seconds="${CHASSIS_FUZZ_SECONDS:-30}"
declare -a report=()
run_stage() {
  local stage="$1" start=$SECONDS
  echo "== $stage"
  case "$stage" in
    armhf)
      cmake --preset armhf >/dev/null
      cmake --build --preset armhf
      ;;
    fuzz)
      scripts/fuzz.sh "$fuzz_seconds"
      ;;
    examples)
      /usr/bin/python3 scripts/examples.py
      ;;
    *)
      cmake --preset "$stage" >/dev/null
      cmake --build --preset "$stage"
      ctest --preset "$stage"
      ;;
  esac
  report+=("$(printf '%-8s %4d s' "$stage" $((SECONDS - start)))")
}

trap 'echo "== stage times"; printf "%s\n" "${report[@]}"' EXIT
for stage in "${stages[@]}"; do
  run_stage "$stage"
done
