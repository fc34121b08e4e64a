#!/usr/bin/env bash
# Screenshots of the main window (at its designed size, filling a 1920 x 1080 screen, while it
# sends with Cancel showing, and at QT_SCALE_FACTOR=2, with three objects waiting in the outbox
# for a PACS that does not answer) and of the settings dialog's PACS and Local tabs, taken of the
# real program under Xvfb with a worklist search and a folder of mixed files, into docs/ (or the
# folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs}
bash scripts/setup.sh
bash scripts/build.sh
exec dbus-run-session -- /usr/bin/python3 desktop/tests/e2e/screenshots.py \
  --program build/bin/velloran --out "$out"
