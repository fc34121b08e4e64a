#!/usr/bin/env bash
# Builds the program as scripts/build.sh does and makes the Debian package from that build:
# build/velloran_<version>_<arch>.deb, to install with `apt-get install ./velloran_…deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
(cd build && cpack -G DEB >/dev/null)
ls build/velloran_*.deb
