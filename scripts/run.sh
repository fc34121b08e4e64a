#!/usr/bin/env bash
# Installs what is missing, builds, and starts the window. When the PACS in the settings is the
# default one on this machine and nothing answers there, a local demo PACS and worklist (Orthanc)
# runs beside the window until it closes. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}${QT_QPA_PLATFORM:-}" ]; then
  # The program explains itself and shows what velloran-cli can do instead.
  exec build/bin/velloran "$@"
fi

# The PACS address from the settings beside the program (defaults when there are none).
setting() {
  local value=""
  if [ -f build/bin/velloran.ini ]; then
    value=$(sed -n "s/^[[:space:]]*$1[[:space:]]*=[[:space:]]*\([^[:space:]]*\).*/\1/Ip" \
      build/bin/velloran.ini | head -n 1)
  fi
  echo "${value:-$2}"
}
host=$(setting remoteIP 127.0.0.1)
port=$(setting remotePort 11112)

demo=""
if [ "$host" = "127.0.0.1" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  /usr/bin/python3 scripts/demo_pacs.py --port "$port" &
  demo=$!
  trap 'kill "$demo" 2>/dev/null; wait "$demo" 2>/dev/null || true' EXIT
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.3
  done
fi
build/bin/velloran "$@"
