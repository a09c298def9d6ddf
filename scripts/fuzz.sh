#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer with the address and undefined-behaviour
# sanitizers) and runs each fuzz target for SECONDS (default 30) on a scratch copy of
# its seed corpus in fuzz/corpus/<target>, so the repository's corpus never changes.
# Prints one line per target with its executions per second and total runs, and fails
# when any target finds a crash, a leak or a timeout; what it found is kept under
# build-fuzz/fuzz-findings/<target>/ with the target's log. CI runs `scripts/fuzz.sh 30`
# (scripts/test.sh fuzz).
#
#   scripts/fuzz.sh [SECONDS] [TARGET...]   fuzz every target, or the named ones
#   scripts/fuzz.sh --seeds [TARGET...]     only run each seed corpus once (a quick check)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
seeds_only=0
if [[ $# -gt 0 && $1 == --seeds ]]; then
  seeds_only=1
  shift
elif [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
if [[ $# -gt 0 && ($1 == -h || $1 == --help) ]]; then
  sed -n '2,11p' "$0"
  exit 0
fi

# The longest input worth trying, per target: a little beyond what the parser can
# hold, so that its limits are met.
declare -A max_len=(
  [pipe_frame]=24576          # two frame buffers' worth (10246 bytes each)
  [line_cutter]=16384         # several lines beyond the 10240-byte line limit
  [block_header]=4096         # a transfer command and what follows it in its chunk
  [program_message]=16384     # a message beyond the 10248-byte command text
  [chassis_description]=4096  # twelve slot lines and comments
  [card_eprom]=1100           # two control bytes and a 1024-byte EPROM image
  [event_log]=16384           # fifty lines of 255-character entries
  [channel_list]=8192         # lists of hundreds of channels, ranges and paths
  [interlock_list]=16384      # thirteen slot lines and groups of hundreds of relays
  [path_file]=16384           # definition lines of paths with hundreds of channels
  [relay_store_files]=16384   # twelve mask, name or state lines of long cards
  [scan_list]=16384           # hundreds of channel and path lines
  [fan_threshold]=64          # a number and what follows it in the file
  [lan_settings]=512          # a setting file or a service log line, beyond their limits
)

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
  for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    targets+=("$name")
  done
fi
for target in "${targets[@]}"; do
  if [[ ! -f fuzz/${target}_fuzz.cpp ]]; then
    echo "fuzz: no target named $target (fuzz/${target}_fuzz.cpp)" >&2
    exit 2
  fi
done

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work=$(mktemp -d /tmp/chassis-fuzz.XXXXXX)
trap 'rm -rf "$work"' EXIT
findings=build-fuzz/fuzz-findings
# Leaks count as findings; the sanitizers stop at the first error.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for target in "${targets[@]}"; do
  binary=build-fuzz/fuzz/${target}_fuzz
  corpus=$work/$target/corpus
  mkdir -p "$corpus" "$work/$target/artifacts"
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  options=(-max_len="${max_len[$target]:-4096}" -timeout=10 -rss_limit_mb=2048
           -print_final_stats=1 -artifact_prefix="$work/$target/artifacts/")
  if ((seeds_only)); then
    options+=(-runs=0)
  else
    options+=(-max_total_time="$seconds")
  fi
  log=$work/$target/log
  rm -rf "${findings:?}/$target"  # what is kept is what this run found
  status=0
  "$binary" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?

  # libFuzzer's closing lines: "Done N runs in S second(s)" and the final stats.
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *\([0-9]*\).*/\1/p' "$log" | tail -1)
  done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1 || true)
  if [[ -z $runs && -n $done_line ]]; then runs=$(awk '{print $2}' <<<"$done_line"); fi
  if [[ -z $rate && -n $done_line ]]; then
    rate=$(awk '{ s = $5 > 0 ? $5 : 1; printf "%d", $2 / s }' <<<"$done_line")
  fi
  verdict=ok
  if [[ $status -ne 0 ]] || ls "$work/$target/artifacts"/* >/dev/null 2>&1; then
    verdict="FAILED (exit $status)"
    failed+=("$target")
    mkdir -p "$findings/$target"
    cp "$log" "$findings/$target/log"
    cp "$work/$target/artifacts"/* "$findings/$target/" 2>/dev/null || true
    grep -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY' "$log" |
      head -5 >&2 || true
    echo "fuzz: $target: log and input kept in $findings/$target/" >&2
  fi
  printf '%-20s %10s exec/s %12s runs  %s\n' "$target" "${rate:-?}" "${runs:-?}" "$verdict"
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
