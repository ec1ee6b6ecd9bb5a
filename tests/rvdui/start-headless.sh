#!/usr/bin/env bash
# Starts RVDUI from its folder as the README's run command does, headless, on one image; the
# program must come up, write its start-up log and stay up until it is stopped.
set -euo pipefail
BIN="$1"
IMAGE="$2"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
cd "$BIN"
RAVENDO_DISKS="$IMAGE" RAVENDO_LOG_FILE="$WORK/RVDLog.log" RAVENDO_RESULT_DB="$WORK/Corrand.db" ./RVDUI &
PID=$!
for _ in $(seq 1 50); do
  if grep -q "Install - " "$WORK/RVDLog.log" 2>/dev/null; then break; fi
  sleep 0.1
done
sleep 1
if ! kill -0 "$PID" 2>/dev/null; then
  wait "$PID" || true
  echo "RVDUI ended by itself" >&2
  exit 1
fi
kill -TERM "$PID"
wait "$PID" || true
grep -q "Ravendo 1.0" "$WORK/RVDLog.log" || { echo "no start-up block in the log" >&2; cat "$WORK/RVDLog.log" >&2; exit 1; }
echo "RVDUI started and stopped"
