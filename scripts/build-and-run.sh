#!/usr/bin/env bash
# Installs what is needed, builds everything and starts the program from its folder.
# Extra arguments are passed to the program; set RAVENDO_DISKS to point it at disks or images.
set -euo pipefail
ORIGIN="$PWD"
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh
# The program runs from its own folder: entries of RAVENDO_DISKS given relative to where the
# script was started are made absolute first.
if [ -n "${RAVENDO_DISKS:-}" ]; then
  IFS=':' read -r -a entries <<< "$RAVENDO_DISKS"
  absolute=()
  for entry in "${entries[@]}"; do
    [ -z "$entry" ] && continue
    case "$entry" in
      /*) absolute+=("$entry") ;;
      *) absolute+=("$ORIGIN/$entry") ;;
    esac
  done
  RAVENDO_DISKS="$(IFS=':'; echo "${absolute[*]}")"
  export RAVENDO_DISKS
fi
cd build/bin
exec ./RVDUI "$@"
