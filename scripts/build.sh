#!/usr/bin/env bash
# Configures and builds the program into build/ (executables in build/bin/).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLORAN_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)"
