#!/usr/bin/env bash
# Runs the flight-controller emulator, the host and the visualiser together.
#   tools/demo.sh BIN_DIR [emulator options...]   e.g. --product vx7 --mission circle --rate 100
# Ctrl+C (or SIGTERM) ends all of them: the host first, so that it can tell the
# aircraft to stop, then the emulator and the visualiser.
set -uo pipefail

BIN="$(cd "${1:?usage: demo.sh BIN_DIR [emulator options]}" && pwd)"
shift
LINK="${QUVOR_DEMO_LINK:-/tmp/quvor-fc}"

say() { printf 'demo: %s\n' "$*"; }

for p in QuvorFlightEmulator QuvorSimulator; do
  [ -x "$BIN/$p" ] || { say "$BIN/$p is not built" >&2; exit 1; }
done
command -v setsid >/dev/null || { say "setsid (util-linux) is needed" >&2; exit 1; }

# name:pid of every program started, in start order.
STARTED=()

stop_one() { # name pid
  local name="$1" pid="$2"
  kill -0 "$pid" 2>/dev/null || return 0
  say "stopping $name (pid $pid)"
  kill -TERM "$pid" 2>/dev/null
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    say "$name did not end within 5 s; killing it"
    kill -KILL "$pid" 2>/dev/null
  fi
  wait "$pid" 2>/dev/null
}

cleaned=0
cleanup() {
  [ "$cleaned" = 1 ] && return
  cleaned=1
  trap '' INT TERM
  local entry
  # The host first: closing it sends the stop command to the aircraft.
  for name in QuvorSimulator QuvorFlightEmulator QuvorSimulatorUI; do
    for entry in "${STARTED[@]}"; do
      [ "${entry%%:*}" = "$name" ] && stop_one "$name" "${entry##*:}"
    done
  done
  say "all stopped"
}
trap 'cleanup; exit 0' INT TERM
trap cleanup EXIT

# Each program runs in a session of its own, so Ctrl+C reaches only this
# script, which then ends them in order.
start() { # name args...
  local name="$1"
  shift
  say "starting $name: $*"
  setsid "$@" &
  STARTED+=("$name:$!")
}

start QuvorFlightEmulator "$BIN/QuvorFlightEmulator" --link "$LINK" "$@"
for _ in $(seq 50); do
  [ -e "$LINK" ] && break
  kill -0 "${STARTED[0]##*:}" 2>/dev/null || { say "the emulator ended at start-up"; exit 1; }
  sleep 0.1
done
[ -e "$LINK" ] || { say "the emulator made no port at $LINK" >&2; exit 1; }

# The demo starts the visualiser itself (the host is told not to), so exactly
# one runs and Ctrl+C ends it too.
HOST_ENV=()
if [ -z "${DISPLAY:-}" ]; then
  say "no display (DISPLAY is unset): the visualiser QuvorSimulatorUI needs one and is not started;"
  say "the host runs with its window off screen, its state datagrams still go to UDP port 5566"
  HOST_ENV=(env QT_QPA_PLATFORM=offscreen)
elif [ -x "$BIN/QuvorSimulatorUI" ]; then
  # Beside the host's dialog (which moves aside too), with the camera following
  # the aircraft for this run only: the saved "movable camera" choice stays.
  start QuvorSimulatorUI env -C "$BIN" ./QuvorSimulatorUI --side-by-side --follow-camera
else
  say "the visualiser $BIN/QuvorSimulatorUI is not built; running without it"
fi

start QuvorSimulator "${HOST_ENV[@]}" "$BIN/QuvorSimulator" --port "$LINK" --auto-start --no-auto-ui --side-by-side
say "running: the host presses \"Start Simulation\" once it is connected; Ctrl+C ends the demo"

# Ends when any program ends by itself; the others follow.
wait -n
say "a program ended; stopping the others"
exit 0
