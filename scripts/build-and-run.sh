#!/usr/bin/env bash
# Installs what is needed, builds everything and starts the program.
# Extra arguments are passed to the program; set RAVENDO_DISKS to point it at images.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
cd build/bin
if [ -x ./RVDUI ]; then
  exec ./RVDUI "$@"
fi
# The recovery program's window is not part of this build yet: the engine and its modules are
# driven from the command line by rvd-bench.
echo "The graphical program is not built yet. Recover from an image on the command line with:" >&2
echo "  $(pwd)/rvd-bench IMAGE [--mode quick] [--volume N] [--copy-to DIR] [--deleted-only]" >&2
if [ "$#" -gt 0 ]; then
  exec ./rvd-bench "$@"
fi
