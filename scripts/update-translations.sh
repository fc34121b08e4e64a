#!/usr/bin/env bash
# Brings the window's translations up to date with the sources: lupdate adds every new text of
# the window (tr()) and every new message kind (app/usermessage.cpp) to
# desktop/translations/velloran_{de,fr,es}.ts, marked unfinished, and drops the texts no source
# holds any more. Translate the unfinished entries (Qt Linguist: `linguist FILE.ts`, or any text
# editor: write the <translation> and remove type="unfinished"), then build; the test
# desktop_translations_complete says what is still missing.
# Usage: scripts/update-translations.sh [BUILD_DIR]   (default build-test, configured if needed)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build-test}"
if [[ ! -f "$build/CMakeCache.txt" ]]; then
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
cmake --build "$build" --target update_translations
