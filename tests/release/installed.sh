#!/usr/bin/env bash
# The installed package: line_player runs from PATH and plays the sample
# recordings through ALSA's file plug-in (a private configuration), and its
# manual page opens.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
rig=$(mktemp -d)
trap 'rm -rf "$rig"' EXIT

[[ $(command -v line_player) == /usr/bin/line_player ]]
MANPAGER=cat man line_player 2>/dev/null | grep -q "play a random recorded line"

mkdir "$rig/lines" "$rig/plays"
cp "$root"/examples/lines/*.wav "$rig/lines/"
cat >"$rig/.asoundrc" <<CONF
pcm.!default {
  type file
  slave.pcm "null"
  file "|cat >\$(mktemp -p $rig/plays)"
  format "raw"
}
CONF
status=0
(cd "$rig/lines" && HOME="$rig" LANG=C.UTF-8 timeout -s INT 4 line_player 1 >"$rig/out") || status=$?
# Ended by the timeout's Ctrl+C, after the messages and at least one line.
[[ $status -eq 124 ]] || { echo "line_player ended with status $status" >&2; exit 1; }
grep -q "Всего реплик 4." "$rig/out"
# Each play is a stream of its own: the start-up sound, then the lines.
plays=$(find "$rig/plays" -type f -size +0 | wc -l)
[[ $plays -ge 2 ]] || { echo "$plays plays reached the sound device, expected the start-up sound and a line" >&2; exit 1; }
echo "installed line_player: runs, plays, manual page opens"
