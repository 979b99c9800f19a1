#!/usr/bin/env bash
# Resident memory of `line_player 0` over a run on PipeWire (rig 8), beside
# aplay's peak on the same line: one 10-second 48 kHz stereo line, played
# again and again (about 6 plays a minute), VmRSS and VmHWM read from
# /proc every SAMPLE seconds.
#   bench/memory_over_a_night.sh [MINUTES] [BUILD_DIR] [SAMPLE]
#   (default 60 minutes, build/default, a sample every 300 s)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
minutes=${1:-60}
build=$(realpath "${2:-$root/build/default}")
sample=${3:-300}
[[ -x $build/src/line_player ]] || { echo "build first: cmake --build --preset default" >&2; exit 1; }
work=$(mktemp -d)
source "$root/bench/lib.sh"
player=
trap '[[ -n $player ]] && kill "$player" 2>/dev/null; stop_rigs; rm -rf "$work"' EXIT

start_pipewire
mkdir "$work/lines"
sox -n -r 48000 -c 2 -b 16 "$work/lines/line.wav" synth 10 sine 440 vol 0.5
/usr/bin/time -f "aplay, one play: peak %M KiB" aplay -q "$work/lines/line.wav"

(cd "$work/lines" && exec "$build/src/line_player" 0 >/dev/null 2>&1) &
player=$!
for ((at = sample; at <= minutes * 60; at += sample)); do
  sleep "$sample"
  kill -0 "$player" 2>/dev/null || { echo "line_player ended at $at s" >&2; exit 1; }
  printf 'line_player at %5d s: %s\n' "$at" "$(awk '/^Vm(RSS|HWM)/ {printf "%s %s KiB  ", $1, $2}' "/proc/$player/status")"
done
