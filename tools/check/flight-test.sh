#!/usr/bin/env bash
# One emulated flight judged live: emulator -> host -> QuvorCheck --live.
#   flight-test.sh BIN_DIR MISSION OUT_DIR [CHECKS.toml] [--expect-failure]
# Writes OUT_DIR/MISSION.xml (JUnit), MISSION.json, MISSION-udp.txt and the
# programs' logs, and exits with QuvorCheck's status. With --expect-failure it
# exits 0 only when the checks failed (status 1) and the JUnit file says so.
# Headless: the host runs offscreen and starts no 3D view. Uses UDP port 5566.
set -uo pipefail
bin="$1" mission="$2" out="$3"
shift 3
checks="$(cd "$(dirname "${BASH_SOURCE[0]}")/../flight-emulator/checks" && pwd)/$mission.toml"
expect_failure=0
for arg in "$@"; do
  case "$arg" in
    --expect-failure) expect_failure=1 ;;
    *) checks="$arg" ;;
  esac
done
scale="${QUVOR_TEST_TIME_SCALE:-1}"
# Seconds, stretched on slow (sanitizer) builds; the flight itself takes about a minute.
scaled() { awk -v s="$1" -v k="$scale" 'BEGIN { printf "%d", s * (k >= 1 ? k : 1) }'; }
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

mkdir -p "$out"
name="$(basename "$checks" .toml)"
[ "$name" = "$mission" ] || name="$mission-$name"
link="$out/$name-fc"
rm -f "$out/$name.xml" "$out/$name.json" "$link"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null; done
}
trap cleanup EXIT

# Waits until the command succeeds, or gives up after the seconds given.
wait_for() {
  local limit; limit=$(( $(date +%s) + $(scaled "$1") )); shift
  until "$@"; do
    [ "$(date +%s)" -lt "$limit" ] || return 1
    sleep 0.1
  done
}

"$bin/QuvorCheck" "$checks" --live --timeout "$(scaled 240)" --junit "$out/$name.xml" --report "$out/$name.json" \
  --record "$out/$name-udp.txt" > "$out/$name-check.log" 2>&1 &
check=$!
if ! wait_for 30 grep -q '^listening' "$out/$name-check.log"; then
  echo "QuvorCheck did not start listening:"; cat "$out/$name-check.log"; exit 2
fi
"$bin/QuvorFlightEmulator" --link "$link" --mission "$mission" > "$out/$name-emulator.log" 2>&1 &
pids+=($!)
if ! wait_for 30 test -e "$link"; then
  echo "the emulator made no link:"; cat "$out/$name-emulator.log"; exit 2
fi
"$bin/QuvorSimulator" --port "$link" --auto-start --no-auto-ui > "$out/$name-host.log" 2>&1 &
pids+=($!)

wait "$check"
status=$?
cat "$out/$name-check.log"
if [ "$expect_failure" = 1 ]; then
  if [ "$status" = 1 ] && grep -q '<failure' "$out/$name.xml"; then
    echo "failed as expected"
    exit 0
  fi
  echo "expected the checks to fail with status 1 and a <failure> in $out/$name.xml, got status $status"
  exit 1
fi
exit "$status"
