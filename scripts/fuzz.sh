#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs one or all of them for a while.
# Usage: scripts/fuzz.sh TARGET|all SECONDS
#   TARGET: line_reader, index_load or wave_reader. Seeds come from demo/; the corpus grows in
#   build/fuzz/corpus/TARGET, and an input that fails is kept in build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: scripts/fuzz.sh line_reader|index_load|wave_reader|all SECONDS"
target="${1:?$usage}"
seconds="${2:?$usage}"
build=build/fuzz

# The fuzz preset builds into $build. What the separate fuzz project of earlier versions left
# there is dropped; the corpus and the findings stay.
if grep -qsx 'CMAKE_PROJECT_NAME:STATIC=VoxtarFuzz' "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles" "$build/build.ninja"
fi
if [ ! -f "$build/build.ninja" ]; then
  cmake --preset fuzz >/dev/null
fi
cmake --build --preset fuzz -j "$(nproc)"

seeds_for() {
  case "$1" in
    line_reader | index_load) ls demo/Ini/* ;;
    wave_reader) find demo -name '*.wav' ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
}

run() {
  local name="$1"
  local corpus="$build/corpus/$name" seeds="$build/seeds/$name"
  mkdir -p "$corpus" "$seeds" "$build/findings"
  seeds_for "$name" | while read -r seed; do cp "$seed" "$seeds/"; done
  echo "fuzz_$name: $seconds s"
  # Several hundred MB of memory at most: a lesson file is bounded far below that.
  local log="$build/$name.log" status=0
  "$build/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
    -print_final_stats=1 -artifact_prefix="$build/findings/$name-" "$corpus" "$seeds" \
    >"$log" 2>&1 || status=$?
  # The run's own status decides (a crash, a timeout, a memory limit); grep only trims the log.
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==|SUMMARY|fuzz check|Done)' "$log" ||
    true
  if [ "$status" -ne 0 ]; then
    echo "fuzz_$name failed (status $status); the whole log is $log" >&2
  fi
  return "$status"
}

if [ "$target" = all ]; then
  for name in line_reader index_load wave_reader; do
    run "$name"
  done
else
  run "$target"
fi
