#!/usr/bin/env bash
# Prints the instructions one program message costs in ExecuteProgramMessage (the fake
# channel's callbacks included), counted by callgrind in a release build: the count for
# 2N messages minus the count for N, divided by N, so one-time costs drop out.
# Usage: bench/count_instructions.sh [build-dir]   (default: build-bench, configured here)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-bench}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target scpi_engine_count -j2 >/dev/null 2>&1
program="$build/bin/scpi_engine_count"
n=1000
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

count() {  # message iterations -> instructions inside ExecuteProgramMessage
  valgrind --tool=callgrind '--toggle-collect=ExecuteProgramMessage*' \
    --callgrind-out-file="$out/cg" "$program" "$1" "$2" >/dev/null 2>&1
  callgrind_annotate "$out/cg" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}'
}

for message in '*IDN?' 'SYST:ERR?' '*ESE 16' '*CLS;*ESE 16;*SRE 32;*ESR?' 'FOO:BAR'; do
  one="$(count "$message" "$n")"
  two="$(count "$message" "$((2 * n))")"
  printf '%-30s %8d instructions/message\n' "$message" "$(((two - one) / n))"
done
