#!/usr/bin/env bash
# CPU time and peak memory of one PlaySoundA against aplay on the same file,
# side by side:
#  - through ALSA's file plug-in into /dev/null (not real time: the cost of
#    decoding and writing; the player's play lasts as long as its sound
#    there too, aplay's does not), for a 60-second recording;
#  - through a PulseAudio server with a null sink (real time, as on a
#    desktop), for a 60-second recording;
#  - through PipeWire (rig 8), for a 10-second 48 kHz stereo recording,
#    what desktops play at;
# then the CPU that a 60-second Sleep costs.
#   bench/play_vs_aplay.sh [BUILD_DIR]     (default build/default)
# Takes about 5 minutes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
probe=$build/tests/sound_probe
[[ -x $probe ]] || { echo "build first: cmake --build --preset default" >&2; exit 1; }

work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT
printf 'pcm.!default {\n  type file\n  slave.pcm "null"\n  file "/dev/null"\n  format "raw"\n}\n' > "$work/.asoundrc"

sox -n -r 44100 -c 2 -b 16 "$work/one_minute.wav" synth 60 sine 440 sine 660 vol 0.5
sox -n -r 48000 -c 2 -b 16 "$work/ten_seconds.wav" synth 10 sine 440 sine 660 vol 0.5

measure() {  # prints: user+sys seconds, peak RSS KiB (best of $runs runs)
  for ((run = 0; run < runs; run++)); do
    HOME=$home "$build/bench/rusage_run" "$@" 2>/dev/null || true
  done | sort -n | head -n 1
}

compare() {  # FILE: one line per player
  local seconds cpu rss
  seconds=$(soxi -D "$work/$1.wav")
  for player in line_player aplay; do
    if [[ $player == aplay ]]; then
      read -r cpu rss _ < <(measure aplay -q "$work/$1.wav")
    else
      read -r cpu rss _ < <(measure "$probe" play "$work/$1.wav")
    fi
    printf '%-12s %-12s %10s %16.1f %10s\n' "$1" "$player" "$cpu" \
      "$(echo "$cpu * 1000000 / $seconds" | bc -l)" "$rss"
  done
}

printf '%-12s %-12s %10s %16s %10s\n' recording player "cpu s" "cpu us/audio s" "peak KiB"
echo "ALSA file plug-in into /dev/null (one run each)"
home=$work runs=1
compare one_minute

echo
echo "PulseAudio null sink, real time (one run each)"
start_pulse
home=$HOME runs=1
compare one_minute
stop_rigs

echo
echo "PipeWire with WirePlumber, a null sink (one run each)"
start_pipewire
home=$HOME
compare ten_seconds
stop_rigs
echo
"$build/bench/idle_cpu" 60000
