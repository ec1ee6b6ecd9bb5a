#!/usr/bin/env bash
# Installs what is needed, builds everything and starts the program.
# Extra arguments are passed to the program; set RAVENDO_DISKS to point it at images.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd build/bin
exec ./RVDUI "$@"
