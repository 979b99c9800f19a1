#!/usr/bin/env bash
# Whether short lines are heard to their end on the sinks desktops run, side
# by side with aplay: rig 7 (PulseAudio, its sink mixing ahead, heard through
# its tap) at 44.1 kHz stereo, its default, and 48 kHz mono; rigs 8 and 9
# (PipeWire, and ALSA's pulse plug-in to PipeWire's PulseAudio server) at
# 48 kHz, their default, and 44.1 kHz. Lines of 0.5 s in two tones of
# 250 ms at 8000 Hz, 22050 Hz and the sink's own rate; `line_player N`
# against a loop of `sleep N; aplay`, N 0, 1 and 3 (a pause: the player's
# lines then begin with a lead-in). For each: how long the last tone of each
# line was heard (measured about 3 ms longer than it is; the last line of a
# run, cut by its end, left out), and how many lines were heard whole.
#   bench/short_lines.sh [BUILD_DIR]    (default build/default; about 20 minutes)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
[[ -x $build/bench/tone_ends && -f $build/tests/libpulse_tap.so ]] ||
  { echo "build first: cmake --build --preset default" >&2; exit 1; }
tap_library=$build/tests/libpulse_tap.so
work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT

run() {  # SECONDS INTERVAL WHO: one run in $work/lines, heard into $work/heard.raw
  listen_start
  sleep 2
  if [[ $3 == line_player ]]; then
    (cd "$work/lines" && exec "$build/src/line_player" "$2") >/dev/null 2>&1 &
  else
    (cd "$work/lines" && exec bash -c 'while :; do sleep "$1"; aplay -q line.wav; done' - "$2") >/dev/null 2>&1 &
  fi
  local player=$!
  sleep "$1"
  pkill -P "$player" 2>/dev/null || true
  kill "$player" 2>/dev/null || true; wait "$player" 2>/dev/null || true
  sleep 1
  listen_stop "$work/heard.raw"
}

measure() {  # SINK_RATE SECONDS_AT_INTERVALS_0_1_3
  local seconds=($2)
  for line_rate in 8000 22050 "$1"; do
    mkdir -p "$work/lines"
    sox -n -r "$line_rate" -c 1 -b 16 "$work/first.wav" synth 0.25 sine 300 vol 0.5
    sox -n -r "$line_rate" -c 1 -b 16 "$work/last.wav" synth 0.25 sine 600 vol 0.5
    sox "$work/first.wav" "$work/last.wav" "$work/lines/line.wav"
    for i in 0 1 2; do
      local interval=$((i == 2 ? 3 : i))
      for who in line_player aplay; do
        run "${seconds[$i]}" "$interval" "$who"
        "$build/bench/tone_ends" 300 600 <"$work/heard.raw" | head -n -1 >"$work/ends"
        printf '  lines at %5s Hz, interval %s, %-11s last tone heard %s ms; %s of %s whole\n' \
          "$line_rate" "$interval" "$who" "$(tr '\n' ' ' <"$work/ends" | sed 's/ $//')" \
          "$(awk '$1 >= 245' "$work/ends" | wc -l)" "$(wc -l <"$work/ends")"
      done
    done
  done
}

for sink in "rate=44100 channels=2" "rate=48000 channels=1"; do
  echo "rig 7: PulseAudio, a null sink at $sink that mixes ahead, heard through its tap"
  start_pulse "$sink"
  measure "$(sed 's/rate=\([0-9]*\).*/\1/' <<<"$sink")" "9 12 17"
  stop_rigs; sleep 1
done
for rate in 48000 44100; do
  echo "rig 8: PipeWire 0.3 with WirePlumber, a null sink at $rate Hz"
  start_pipewire "$rate"
  measure "$rate" "4 7 13"
  stop_rigs; sleep 1
  echo "rig 9: ALSA's pulse plug-in to PipeWire's PulseAudio server, a null sink at $rate Hz"
  start_pipewire_pulse "$rate"
  measure "$rate" "4 7 13"
  stop_rigs; sleep 1
done
