#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build/fuzz and runs each for SECONDS seconds (default 30) on a copy of its seed corpus in
# fuzz/corpus/<target>, so that the committed seeds stay small. Fails on the first target that
# finds a crash, a leak, a timeout or an out-of-memory; the input that did it is kept in
# build/fuzz/findings/<target>/.
# usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-30}"
case "$seconds" in
  ''|*[!0-9]*) echo "usage: scripts/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac

build="${BUILD_ROOT:-build}/fuzz"
targets=(manifest_records_fuzz string_text_fuzz version_stamp_fuzz lzma_unpack_fuzz
  http_head_fuzz part_record_fuzz manifest_names_fuzz command_line_fuzz)

cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DREPAIR_FUZZ=ON -DREPAIR_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  findings="$build/findings/$target"
  rm -rf "$corpus"
  mkdir -p "$corpus" "$findings"
  cp fuzz/corpus/"$target"/* "$corpus"/
  echo "=== $target: ${seconds}s"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" 2>"$build/$target.log"; then
    tail -n 40 "$build/$target.log" >&2
    echo "fuzz.sh: $target failed; input kept in $findings/" >&2
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' \
    "$build/$target.log" || true
done
echo "=== no findings"
