#!/usr/bin/env bash
# Time from start to the first wait (the start-up messages out) in a folder of
# 10,000 and of 100,000 recordings (empty *.wav files), best of three.
#   bench/startup_entries.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")   # absolute: the runs below change directory
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# No sound device: the start-up sound fails at once and costs nothing here.
printf 'pcm.!default { type null }\n' >"$work/.asoundrc"
export HOME=$work
for count in 10000 100000; do
  mkdir "$work/$count"
  (cd "$work/$count" && seq -f "%07g.wav" "$count" | xargs touch)
  best=$(for run in 1 2 3; do "$build/bench/first_wait" "$build/src/line_player" "$work/$count"; done | sort -n | head -n 1)
  printf '%7d entries: %s\n' "$count" "$best"
done
