#!/usr/bin/env bash
# CPU time and peak memory of one PlaySoundA against aplay on the same file,
# side by side, through ALSA's file plug-in into /dev/null (not real time,
# so the figures are the cost of decoding and writing, not of waiting).
#   bench/play_vs_aplay.sh [BUILD_DIR]     (default build/default)
# Makes a 10-minute and a 1 GiB 44.1 kHz stereo 16-bit recording in a
# temporary folder first (about 1.2 GB of disk).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
probe=$build/tests/sound_probe
[[ -x $probe ]] || { echo "build first: cmake --build --preset default" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'pcm.!default {\n  type file\n  slave.pcm "null"\n  file "/dev/null"\n  format "raw"\n}\n' > "$work/.asoundrc"

sox -n -r 44100 -c 2 -b 16 "$work/ten_minutes.wav" synth 600 sine 440 sine 660 vol 0.5
sox "$work/ten_minutes.wav" "$work/one_gib.wav" repeat 9   # 100 minutes, 1.06 GB

measure() {  # prints: user+sys seconds, peak RSS KiB (best of three runs)
  for run in 1 2 3; do
    HOME=$work "$build/bench/rusage_run" "$@" 2>/dev/null || true
  done | sort -n | head -n 1
}

printf '%-12s %-12s %10s %16s %10s\n' file player "cpu s" "cpu us/audio s" "peak KiB"
for file in ten_minutes one_gib; do
  seconds=$(soxi -D "$work/$file.wav")
  for player in line_player aplay; do
    if [[ $player == aplay ]]; then
      read -r cpu rss < <(measure aplay -q "$work/$file.wav")
    else
      read -r cpu rss < <(measure "$probe" play "$work/$file.wav")
    fi
    printf '%-12s %-12s %10s %16.1f %10s\n' "$file" "$player" "$cpu" \
      "$(echo "$cpu * 1000000 / $seconds" | bc -l)" "$rss"
  done
done
echo
"$build/bench/idle_cpu" 10000
