#!/usr/bin/env bash
# Open-ended fuzzing, outside the test command: builds the libFuzzer targets in the test build
# (clang, ASan+UBSan, as scripts/test.sh does) and runs each for its own number of seconds (or
# --seconds N), starting from its committed corpus and crash inputs. New inputs go to
# build-test/fuzz-work/<target>, crashes to build-test/fuzz-crashes/<target>. A crash input
# belongs in the target's crash folder (printed below) once the fault is fixed, so the test
# command replays it from then on; inputs worth keeping are merged into the corpus with
# `<binary> -merge=1 <corpus> <work folder>`.
#
#   scripts/fuzz.sh [--seconds N] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=""
if [ "${1:-}" = "--seconds" ]; then
  seconds="$2"
  shift 2
fi

export CC=clang CXX=clang++
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLORAN_SANITIZE=ON -DVELLORAN_FUZZ=ON -DVELLORAN_TESTS=ON -DVELLORAN_BENCH=OFF >/dev/null

wanted=("$@")
selected=()
while read -r name binary target_seconds corpus crashes; do
  [ -n "$name" ] || continue
  if [ "${#wanted[@]}" -gt 0 ] && [[ ! " ${wanted[*]} " =~ " ${name} " ]]; then
    continue
  fi
  selected+=("$name $binary ${seconds:-$target_seconds} $corpus $crashes")
done <build-test/fuzz-targets.txt

if [ "${#selected[@]}" -eq 0 ]; then
  echo "no fuzz target matches: ${wanted[*]}" >&2
  exit 2
fi

targets=()
for line in "${selected[@]}"; do
  targets+=("${line%% *}")
done
cmake --build build-test -j"$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for line in "${selected[@]}"; do
  read -r name binary run_seconds corpus crashes <<<"$line"
  work="build-test/fuzz-work/$name"
  artifacts="build-test/fuzz-crashes/$name"
  mkdir -p "$work" "$artifacts"
  inputs=("$work" "$corpus")
  [ -d "$crashes" ] && inputs+=("$crashes")
  echo "== $name for ${run_seconds}s"
  if ! "$binary" -max_total_time="$run_seconds" -rss_limit_mb=4096 -malloc_limit_mb=1024 \
    -print_final_stats=1 -artifact_prefix="$artifacts/" "${inputs[@]}"; then
    echo "$name failed: the input is in $artifacts; once fixed, commit it to $crashes" >&2
    status=1
  fi
done
exit "$status"
