#!/usr/bin/env bash
# The sound stacks desktops run, each side by side with aplay:
#  - rig 7: PulseAudio with a null sink recorded at the recorder's default
#    latency, so that the sink mixes ahead as a desktop's does, and heard
#    through its tap (what the sink finally played);
#  - rig 8: PipeWire with WirePlumber and a null sink, unpacked by
#    tests/rigs/pipewire-rig.sh (scripts/test.sh does it into build/pipewire);
#  - rig 9: the same PipeWire serving PulseAudio's protocol, reached through
#    ALSA's pulse plug-in.
# For each: the pause between lines (line_player 1 against a shell loop of
# `sleep 1; aplay`), how long a play runs past what is heard of it (its wall
# time minus the heard length; the device's opening and start-up latency are
# in it too) and past the line's length, how much of the last tone of a short line (0.3 s, 22050 Hz) is
# heard at intervals 0 and 1, and the wake-ups (voluntary context switches,
# all threads) and CPU per audio second of one 20-second play.
#   bench/desktop_stacks.sh [BUILD_DIR] [SECONDS]    (default build/default, 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
seconds=${2:-30}
probe=$build/tests/sound_probe
[[ -x $probe ]] || { echo "build first: cmake --build --preset default" >&2; exit 1; }
tap_library=$build/tests/libpulse_tap.so
work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT

mkdir "$work/lines" "$work/short"
for tone in 300 500 700; do
  sox -n -r 44100 -c 1 -b 16 "$work/lines/line$tone.wav" synth 0.5 sine $tone vol 0.5
done
sox -n -r 44100 -c 1 -b 16 "$work/long.wav" synth 20 sine 440 vol 0.5
# A short line in two tones, 150 ms each: the last one's length tells
# whether its end was heard.
sox -n -r 22050 -c 1 -b 16 "$work/first.wav" synth 0.15 sine 300 vol 0.5
sox -n -r 22050 -c 1 -b 16 "$work/last.wav" synth 0.15 sine 600 vol 0.5
sox "$work/first.wav" "$work/last.wav" "$work/short/line.wav"

record() {  # NAME COMMAND...: records what is heard while COMMAND runs (or, for a pause or short-line run, for a while)
  local name=$1; shift
  listen_start
  sleep 3   # the first samples of an idle sink's monitor come late
  if [[ $name == pauses_* || $name == short_* ]]; then
    local folder=lines length=$seconds
    [[ $name == short_* ]] && folder=short length=8
    (cd "$work/$folder" && exec "$@") >/dev/null 2>&1 &
    local player=$!
    sleep "$length"
    kill "$player" 2>/dev/null || true; wait "$player" 2>/dev/null || true
  else
    (cd "$work" && exec "$@") >"$work/$name.times"
  fi
  sleep 3; listen_stop "$work/$name.raw"
}

median() { sort -n | awk '{v[NR]=$1} END {if (NR) printf "%.1f", v[int((NR+1)/2)]; else printf "n/a"}'; }

measure_rig() {  # RIG
  # Warm the sink and its recorder up.
  aplay -q "$work/lines/line300.wav"
  record pauses_player "$build/src/line_player" 1
  record pauses_aplay bash -c 'while :; do for f in line300.wav line500.wav line700.wav; do sleep 1; aplay -q "$f"; done; done'
  printf '  pause, line_player 1   '; "$build/bench/gaps" 1000 <"$work/pauses_player.raw" || true
  printf '  pause, sleep 1; aplay  '; "$build/bench/gaps" 1000 <"$work/pauses_aplay.raw" || true

  # Five plays a second apart; the first (after the idle start) is left out.
  local lines=("$work"/lines/line{300,500,700,300,500}.wav)
  record tail_player "$probe" play-timed 1000 "${lines[@]}"
  record tail_aplay bash -c 'for f in "$@"; do sleep 1; s=$(date +%s%N); aplay -q "$f"; echo $(( ($(date +%s%N) - s) / 100000 ))e-1; done' - "${lines[@]}"
  for who in player aplay; do
    "$build/bench/gaps" --spans <"$work/tail_$who.raw" >"$work/tail_$who.heard" || true
    printf '  play past what is heard, %-11s median %s ms\n' "$who" \
      "$(paste "$work/tail_$who.times" "$work/tail_$who.heard" | tail -n +2 | awk '{printf "%.1f\n", $1 - $2}' | median)"
  done
  # The same without the recording, which on rig 7 may lose the start of a
  # stream: the play's wall time past the line's 500 ms.
  for who in player aplay; do
    printf '  play past the line,      %-11s median %s ms\n' "$who" \
      "$(tail -n +2 "$work/tail_$who.times" | awk '{printf "%.1f\n", $1 - 500}' | median)"
  done

  # The last tone of the short line (150 ms, measured about 3 ms longer);
  # the last play of each run, cut by its end, left out.
  for interval in 0 1; do
    record "short_$interval" "$build/src/line_player" "$interval"
    printf '  short line, line_player %s  last tone heard, median %s ms of 150\n' "$interval" \
      "$("$build/bench/tone_ends" 300 600 <"$work/short_$interval.raw" | head -n -1 | median)"
  done
  record short_aplay bash -c 'for i in 1 2 3 4 5; do aplay -q line.wav; done'
  printf '  short line, aplay         last tone heard, median %s ms of 150\n' \
    "$("$build/bench/tone_ends" 300 600 <"$work/short_aplay.raw" | median)"

  for who in player aplay; do
    local cpu rss wakeups
    if [[ $who == player ]]; then
      read -r cpu rss wakeups < <("$build/bench/rusage_run" "$probe" play "$work/long.wav")
    else
      read -r cpu rss wakeups < <("$build/bench/rusage_run" aplay -q "$work/long.wav")
    fi
    printf '  20 s play, %-11s %6.1f wake-ups and %6.0f us CPU per audio second\n' "$who" \
      "$(echo "$wakeups / 20" | bc -l)" "$(echo "$cpu * 1000000 / 20" | bc -l)"
  done
}

echo "rig 7: PulseAudio, a null sink that mixes ahead"
start_pulse
measure_rig
stop_rigs; sleep 1

echo "rig 8: PipeWire 0.3 with WirePlumber, a null sink"
start_pipewire
measure_rig
stop_rigs; sleep 1

echo "rig 9: ALSA's pulse plug-in to PipeWire's PulseAudio server"
start_pipewire_pulse
measure_rig
