#!/usr/bin/env bash
# Runs the flight-controller emulator, the host and the visualiser together.
#   tools/demo.sh BIN_DIR [emulator options...]   e.g. --product vx7 --mission circle --rate 100
#   tools/demo.sh BIN_DIR --fleet N [emulator options...]
#       N aircraft (1 to 4): N emulators, each on a link of its own, and N hosts,
#       each run from a folder of its own with its own settings and a start
#       position 15 m north of the one before; one visualiser shows them all.
#   tools/demo.sh --check [options...]            only checks the options (exit 2 if bad)
# Ctrl+C (or SIGTERM) ends all of them: the hosts first, so that they can tell the
# aircraft to stop, then the emulators and the visualiser.
set -uo pipefail

say() { printf 'demo: %s\n' "$*"; }
bad_option() { say "$*" >&2; exit 2; }

CHECK_ONLY=0
if [ "${1:-}" = "--check" ]; then
  CHECK_ONLY=1
  shift
else
  BIN="$(cd "${1:?usage: demo.sh BIN_DIR [--fleet N] [emulator options]}" && pwd)" || exit 1
  shift
fi

# --fleet is the script's own; everything else goes to every emulator.
FLEET=""
FLEET_GIVEN=0
EMU_ARGS=()
while [ $# -gt 0 ]; do
  case "$1" in
    --fleet)
      [ $# -ge 2 ] || bad_option "--fleet needs the number of aircraft, 1 to 4"
      FLEET="$2" FLEET_GIVEN=1
      shift 2 ;;
    --fleet=*) FLEET="${1#--fleet=}" FLEET_GIVEN=1; shift ;;
    *) EMU_ARGS+=("$1"); shift ;;
  esac
done
if [ "$FLEET_GIVEN" = 1 ]; then
  [[ "$FLEET" =~ ^[1-4]$ ]] || bad_option "--fleet takes a number of aircraft from 1 to 4, not '$FLEET'"
  for a in "${EMU_ARGS[@]}"; do
    case "$a" in
      --link|--link=*) bad_option "--fleet gives each emulator a link of its own; leave out --link" ;;
    esac
  done
fi
[ "$CHECK_ONLY" = 1 ] && exit 0

for p in QuvorFlightEmulator QuvorSimulator; do
  [ -x "$BIN/$p" ] || { say "$BIN/$p is not built" >&2; exit 1; }
done
command -v setsid >/dev/null || { say "setsid (util-linux) is needed" >&2; exit 1; }

# name:pid of every program started, in start order.
STARTED=()
# The fleet's folder, removed at the end.
RUN=""

# Asks every running program of that name to end, then waits for them together.
stop_all() { # name
  local name="$1" entry pid waiting=()
  for entry in "${STARTED[@]}"; do
    [ "${entry%%:*}" = "$name" ] || continue
    pid="${entry##*:}"
    kill -0 "$pid" 2>/dev/null || continue
    say "stopping $name (pid $pid)"
    kill -TERM "$pid" 2>/dev/null
    waiting+=("$pid")
  done
  [ ${#waiting[@]} -eq 0 ] && return 0
  local alive
  for _ in $(seq 50); do
    alive=0
    for pid in "${waiting[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && break
    sleep 0.1
  done
  for pid in "${waiting[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      say "$name did not end within 5 s; killing it"
      kill -KILL "$pid" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
  done
}

cleaned=0
cleanup() {
  [ "$cleaned" = 1 ] && return
  cleaned=1
  trap '' INT TERM
  # The hosts first: closing one sends the stop command to its aircraft.
  local name
  for name in QuvorSimulator QuvorFlightEmulator QuvorSimulatorUI; do
    stop_all "$name"
  done
  if [ -n "$RUN" ]; then
    rm -rf -- "$RUN"
    say "removed $RUN"
  fi
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

wait_for_link() { # link emulator-pid
  for _ in $(seq 50); do
    [ -e "$1" ] && return 0
    kill -0 "$2" 2>/dev/null || { say "the emulator ended at start-up"; exit 1; }
    sleep 0.1
  done
  say "the emulator made no port at $1" >&2
  exit 1
}

# Where each aircraft starts. The host sends its saved position to the aircraft,
# so the fleet starts where this build's host would, or at the host's defaults.
LATITUDE=22.537018
LONGITUDE=113.95364
# 15 m of latitude (15/111320 degrees) to the 6 decimals the host's position has.
FLEET_STEP=0.000135
settings_number() { # key file
  sed -n "s/.*\"$1\"[[:space:]]*:[[:space:]]*\(-\{0,1\}[0-9][0-9.]*\).*/\1/p" "$2" 2>/dev/null | head -n 1
}
if [ -n "$FLEET" ] && [ -r "$BIN/config.ini" ]; then
  lat="$(settings_number m_latitude "$BIN/config.ini")"
  lon="$(settings_number m_longitude "$BIN/config.ini")"
  if [ -n "$lat" ] && [ -n "$lon" ]; then LATITUDE="$lat"; LONGITUDE="$lon"; fi
fi

# A fleet's host k runs from RUN/host<k>: a copy of the host program (it keeps
# its settings beside itself), its config.ini, its emulator's link "fc" and its
# device-log folder LOG_FILES/.
make_fleet_folder() {
  local base="${XDG_RUNTIME_DIR:-}"
  [ -n "$base" ] && [ -d "$base" ] && [ -w "$base" ] || base="${TMPDIR:-/tmp}"
  RUN="$base/quvor-demo-fleet.$$"
  mkdir -m 700 "$RUN" || { RUN=""; say "cannot make the fleet's folder $base/quvor-demo-fleet.$$" >&2; exit 1; }
  local k dir lat
  for k in $(seq "$FLEET"); do
    dir="$RUN/host$k"
    # Southwards instead where northwards would pass the pole.
    lat="$(awk -v base="$LATITUDE" -v step="$FLEET_STEP" -v k="$k" -v n="$FLEET" \
      'BEGIN { if (base + (n - 1) * step > 90) step = -step; printf "%.6f", base + (k - 1) * step }')"
    if ! mkdir "$dir" || ! cp "$BIN/QuvorSimulator" "$dir/"; then
      say "cannot fill $dir" >&2
      exit 1
    fi
    [ -e "$BIN/QuvorSimulator.ico" ] && cp "$BIN/QuvorSimulator.ico" "$dir/"
    printf '{ "mAutoUI" : false, "mFontSize" : 12, "mUdpBroadcast" : false, "m_info" : false, "m_latitude" : %s, "m_longitude" : %s, "m_save" : false, "m_show" : false, "m_time" : true }\n' \
      "$lat" "$LONGITUDE" >"$dir/config.ini"
    say "aircraft $k: host folder $dir, start position latitude $lat, longitude $LONGITUDE"
  done
}

LINKS=()
if [ -z "$FLEET" ]; then
  LINKS=("${QUVOR_DEMO_LINK:-/tmp/quvor-fc}")
else
  make_fleet_folder
  for k in $(seq "$FLEET"); do LINKS+=("$RUN/host$k/fc"); done
fi

for link in "${LINKS[@]}"; do
  start QuvorFlightEmulator "$BIN/QuvorFlightEmulator" --link "$link" "${EMU_ARGS[@]}"
  wait_for_link "$link" "${STARTED[-1]##*:}"
done

# The demo starts the visualiser itself (the hosts are told not to), so exactly
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

if [ -z "$FLEET" ]; then
  start QuvorSimulator "${HOST_ENV[@]}" "$BIN/QuvorSimulator" --port "${LINKS[0]}" --auto-start --no-auto-ui --side-by-side
  say "running: the host presses \"Start Simulation\" once it is connected; Ctrl+C ends the demo"
else
  for k in $(seq "$FLEET"); do
    dir="$RUN/host$k"
    start QuvorSimulator "${HOST_ENV[@]}" env -C "$dir" "$dir/QuvorSimulator" --port "$dir/fc" --auto-start --no-auto-ui --side-by-side
  done
  say "running $FLEET aircraft: each host presses \"Start Simulation\" once it is connected; Ctrl+C ends the demo"
fi

# Ends when any program ends by itself; the others follow.
wait -n
say "a program ended; stopping the others"
exit 0
