#!/usr/bin/env bash
# The pause between two lines on a real-time sound server (PulseAudio, a null
# sink without rewinds, which would cost the recording the start of each
# stream, recorded from its monitor): each line's start minus (the previous
# line's end + the interval), for line_player and for a shell loop of
# `sleep N; aplay FILE`, side by side.
#   bench/gap_accuracy.sh [BUILD_DIR] [SECONDS]    (default build/default, 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")   # absolute: the runs below change directory
seconds=${2:-30}
work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT

for tone in 300 500 700; do
  sox -n -r 44100 -c 1 -b 16 "$work/line$tone.wav" synth 0.5 sine $tone vol 0.5
done
start_pulse norewinds=1

record() {  # NAME COMMAND...: runs COMMAND for $seconds while recording the sink
  local name=$1; shift
  "${recorder[@]}" --latency-msec=10 >"$work/$name.raw" &
  local recorder=$!
  sleep 3   # the monitor of an idle null sink starts late
  (cd "$work" && exec "$@") >/dev/null 2>&1 &
  local player=$!
  sleep "$seconds"
  kill "$player"; wait "$player" 2>/dev/null || true
  sleep 1; kill -INT "$recorder"; wait "$recorder" 2>/dev/null || true
}

record line_player "$build/src/line_player" 1
record shell_loop bash -c 'while :; do for f in line300.wav line500.wav line700.wav; do sleep 1; aplay -q "$f"; done; done'

printf '%-12s ' line_player; "$build/bench/gaps" 1000 <"$work/line_player.raw"
printf '%-12s ' shell_loop;  "$build/bench/gaps" 1000 <"$work/shell_loop.raw"
