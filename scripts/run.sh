#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -x build/bin/velloran ]; then
  exec build/bin/velloran "$@"
fi
exec build/bin/velloran-cli "$@"
