#!/usr/bin/env bash
# Runs the flight-controller emulator, the host and the visualiser together.
set -euo pipefail
BIN="$1"; shift || true
for p in QuvorFlightEmulator QuvorSimulator QuvorSimulatorUI; do
  [ -x "$BIN/$p" ] || { echo "demo: $BIN/$p is not built yet" >&2; exit 1; }
done
echo "demo: not wired yet" >&2
exit 1
