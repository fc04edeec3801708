#!/usr/bin/env bash
# Runs every libFuzzer target for the given time each.
#   fuzz/run.sh <build dir> [seconds]
# The growing corpus lives in the build dir; fuzz/corpus/ holds the seeds only.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
SECONDS_EACH="${2:-60}"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

rc=0
for target in json package datagram; do
  bin="$BUILD/fuzz/${target}_fuzz"
  work="$BUILD/fuzz/corpus-$target"
  artifacts="$BUILD/fuzz/artifacts-$target/"
  mkdir -p "$work" "$artifacts"
  dict=()
  [ -f "$HERE/$target.dict" ] && dict=(-dict="$HERE/$target.dict")
  echo "==> $target: ${SECONDS_EACH}s, corpus $work" >&2
  ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}" \
  "$bin" "$work" "$HERE/corpus/$target" "${dict[@]}" \
    -max_total_time="$SECONDS_EACH" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$artifacts" || rc=$?
done
exit $rc
