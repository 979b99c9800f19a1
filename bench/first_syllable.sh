#!/usr/bin/env bash
# How much of the start of a sound a sleeping sink swallows: PulseAudio with
# module-suspend-on-idle (suspending after 1 s), a 500 ms tone played into
# the suspended sink by aplay and by PlaySoundA (whose play after a pause
# begins with a quarter second of silence; and one after a wait, which wakes
# the device in its last moments instead), recorded from the sink's monitor;
# on a null sink without rewinds (as in gap_accuracy.sh), then with them.
#   bench/first_syllable.sh [BUILD_DIR] [ROUNDS]    (default build/default, 3)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
rounds=${2:-3}
work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT
sox -n -r 44100 -c 1 -b 16 "$work/tone.wav" synth 0.5 sine 440 vol 0.5

heard() {  # COMMAND...: plays into the suspended sink, prints what was heard of 500 ms
  sleep 3
  local state; state=$(pactl list short sinks | awk '{print $NF}')
  "${recorder[@]}" --latency-msec=10 >"$work/heard.raw" &
  local recorder=$!
  "$@" >/dev/null 2>&1 || true
  sleep 0.5; kill -INT "$recorder"; wait "$recorder" 2>/dev/null || true
  printf '(sink was %s) ' "$state"; "$build/bench/gaps" --span <"$work/heard.raw" || true
}

for sink in norewinds=1 norewinds=0; do
  echo "null sink $sink"
  start_pulse "$sink" "module-suspend-on-idle timeout=1"
  for ((round = 1; round <= rounds; round++)); do
    printf '%-12s ' aplay;       heard aplay -q "$work/tone.wav"
    printf '%-12s ' line_player; heard "$build/tests/sound_probe" play "$work/tone.wav"
    # A wait of 3 s, in whose last moments the device is woken, then the
    # play, with no lead-in.
    printf '%-12s ' 'after a wait'; heard "$build/tests/sound_probe" play-after 3000 "$work/tone.wav"
  done
  stop_rigs
done
