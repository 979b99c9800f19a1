#!/usr/bin/env bash
# The pause heard between two lines at the intervals people use, on the
# stacks desktops run, side by side with peers in the same run:
# `line_player N` against loops of `sleep N; aplay` and of `sleep N; paplay`
# (PulseAudio's own client; pw-play on PipeWire). Lines of 1 s at
# 22,050 Hz. The pause is each line's start minus (the previous line's end
# + N) as heard (bench/gaps), from the first sound as long as a line on
# (line_player's start-up sound comes before). RIG is 7 (PulseAudio, its sink mixing ahead, heard
# through its tap), 8 (PipeWire) or 9 (ALSA's pulse plug-in to PipeWire's
# PulseAudio server); each rig runs in a process of its own.
#   bench/pause_at_intervals.sh RIG [BUILD_DIR] [INTERVALS] [PAUSES]
#   (default build/default, "0 1 5 30", 6 pauses each; about 15 minutes)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rig=$1
build=$(realpath "${2:-$root/build/default}")
intervals=${3:-0 1 5 30}
pauses=${4:-6}
[[ -x $build/bench/gaps && -f $build/tests/libpulse_tap.so ]] ||
  { echo "build first: cmake --build --preset default" >&2; exit 1; }
tap_library=$build/tests/libpulse_tap.so
work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT

mkdir "$work/lines"
sox -n -r 22050 -c 1 -b 16 "$work/lines/line.wav" synth 1 sine 440 vol 0.5

case $rig in
  7) start_pulse; peer=paplay ;;
  8) start_pipewire; peer=pw-play ;;
  9) start_pipewire_pulse; peer=paplay ;;
  *) echo "RIG is 7, 8 or 9" >&2; exit 2 ;;
esac

for interval in $intervals; do
  for who in line_player aplay "$peer"; do
    listen_start
    sleep 3
    if [[ $who == line_player ]]; then
      (cd "$work/lines" && exec "$build/src/line_player" "$interval") >/dev/null 2>&1 &
    else
      (cd "$work/lines" && exec bash -c 'while :; do sleep "$1"; $2 line.wav; done' - "$interval" "$who") >/dev/null 2>&1 &
    fi
    player=$!
    # Enough for the pauses wanted, and one line more.
    sleep "$(echo "($pauses + 2) * ($interval + 1.25) + 1" | bc)"
    pkill -P "$player" 2>/dev/null || true
    kill "$player" 2>/dev/null || true; wait "$player" 2>/dev/null || true
    sleep 1
    listen_stop "$work/heard.raw"
    printf 'rig %s, N %2s, %-11s ' "$rig" "$interval" "$who"
    "$build/bench/gaps" "$((interval * 1000))" 800 <"$work/heard.raw" || true
  done
done
