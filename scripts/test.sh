#!/usr/bin/env bash
# Installs what is missing, builds every test with AddressSanitizer and UndefinedBehaviorSanitizer
# (clang, so the libFuzzer targets build too) and runs them all.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
export CC=clang CXX=clang++
cmake -S . -B build-test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLORAN_SANITIZE=ON -DVELLORAN_FUZZ=ON -DVELLORAN_TESTS=ON -DVELLORAN_BENCH=OFF >/dev/null
cmake --build build-test -j"$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd build-test
ctest --output-on-failure -j"$(nproc)" "$@"
