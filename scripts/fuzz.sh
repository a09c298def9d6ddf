#!/usr/bin/env bash
# Builds the fuzz preset (clang, libFuzzer with the address and undefined-behaviour
# sanitizers) and runs each fuzz target for SECONDS (default 30) on a scratch copy of
# its seed corpus in fuzz/corpus/<target>, so the repository's corpus never changes
# unless --merge asks for it. Prints one line per target with its executions per
# second, total runs and coverage features at the start (the corpus as it was) and at
# the end, and fails when any target finds a crash, a leak or a timeout; what it found
# is kept under build-fuzz/fuzz-findings/<target>/ with the target's log. CI runs
# `scripts/fuzz.sh 30` (scripts/test.sh fuzz).
#
#   scripts/fuzz.sh [OPTIONS] [SECONDS] [TARGET...]   fuzz every target, or the named ones
#   scripts/fuzz.sh --seeds [TARGET...]               only run each seed corpus once
#   options:  -j N      run N targets at a time (default 1)
#             --merge   afterwards, add to fuzz/corpus/<target> the inputs of the run
#                       that reach features the corpus did not (libFuzzer's -merge=1)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
seeds_only=0
jobs=1
merge=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --seeds) seeds_only=1 ;;
    --merge) merge=1 ;;
    -j) jobs=${2:?-j needs a count}; shift ;;
    -h | --help) sed -n '2,16p' "$0"; exit 0 ;;
    *) [[ $1 =~ ^[0-9]+$ ]] && seconds=$1 || break ;;
  esac
  shift
done

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

# One target: runs it, then prints its line to $work/<target>/line; a finding leaves
# $work/<target>/failed.
fuzz_one() {
  local target=$1
  local binary=build-fuzz/fuzz/${target}_fuzz
  local corpus=$work/$target/corpus
  mkdir -p "$corpus" "$work/$target/artifacts"
  cp fuzz/corpus/"$target"/* "$corpus"/ 2>/dev/null || true
  local options=(-max_len="${max_len[$target]:-4096}" -timeout=10 -rss_limit_mb=2048
                 -print_final_stats=1 -artifact_prefix="$work/$target/artifacts/")
  if ((seeds_only)); then
    options+=(-runs=0)
  else
    options+=(-max_total_time="$seconds")
  fi
  local log=$work/$target/log
  rm -rf "${findings:?}/$target"  # what is kept is what this run found
  local status=0
  "$binary" "${options[@]}" "$corpus" >"$log" 2>&1 || status=$?

  # libFuzzer's closing lines: "Done N runs in S second(s)" and the final stats; its
  # status lines carry "ft: N", the features reached, from INITED (the corpus loaded)
  # to the last.
  local runs rate done_line ft_start ft_end
  runs=$(sed -n 's/^stat::number_of_executed_units: *\([0-9]*\).*/\1/p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *\([0-9]*\).*/\1/p' "$log" | tail -1)
  done_line=$(grep -E '^Done [0-9]+ runs in [0-9]+ second' "$log" | tail -1 || true)
  if [[ -z $runs && -n $done_line ]]; then runs=$(awk '{print $2}' <<<"$done_line"); fi
  if [[ -z $rate && -n $done_line ]]; then
    rate=$(awk '{ s = $5 > 0 ? $5 : 1; printf "%d", $2 / s }' <<<"$done_line")
  fi
  ft_start=$(sed -n 's/^#[0-9]*[[:space:]]*INITED .* ft: \([0-9]*\).*/\1/p' "$log" | head -1)
  ft_end=$(sed -n 's/^#[0-9]*[[:space:]].* ft: \([0-9]*\).*/\1/p' "$log" | tail -1)
  local verdict=ok
  if [[ $status -ne 0 ]] || ls "$work/$target/artifacts"/* >/dev/null 2>&1; then
    verdict="FAILED (exit $status)"
    touch "$work/$target/failed"
    mkdir -p "$findings/$target"
    cp "$log" "$findings/$target/log"
    cp "$work/$target/artifacts"/* "$findings/$target/" 2>/dev/null || true
    grep -E 'ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error|SUMMARY' "$log" |
      head -5 >&2 || true
    echo "fuzz: $target: log and input kept in $findings/$target/" >&2
  elif ((merge && !seeds_only)); then
    # Only inputs that add features join the corpus; the seeds stay as they are named.
    local added
    added=$("$binary" -merge=1 -max_len="${max_len[$target]:-4096}" -timeout=10 \
              fuzz/corpus/"$target" "$corpus" 2>&1 |
            sed -n 's/^MERGE-OUTER: \([0-9]*\) new files.*/\1/p' | tail -1)
    verdict="ok, ${added:-0} inputs merged"
  fi
  printf '%-20s %10s exec/s %12s runs %8s -> %-8s features  %s\n' "$target" "${rate:-?}" \
    "${runs:-?}" "${ft_start:-?}" "${ft_end:-?}" "$verdict" >"$work/$target/line"
}

for target in "${targets[@]}"; do
  ((merge)) && mkdir -p fuzz/corpus/"$target"
  while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
  fuzz_one "$target" &
done
wait

failed=()
for target in "${targets[@]}"; do
  cat "$work/$target/line"
  [[ -e $work/$target/failed ]] && failed+=("$target")
done

if [[ ${#failed[@]} -gt 0 ]]; then
  echo "fuzz: findings in ${failed[*]}" >&2
  exit 1
fi
