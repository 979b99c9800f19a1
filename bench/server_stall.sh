#!/usr/bin/env bash
# A sound server that stalls as a play begins (a busy machine): how much of a
# 0.6 s line is heard, for the player's PlaySoundA (tests/compat/sound_probe.cpp)
# and for aplay side by side, on PulseAudio with a null sink recorded at the
# recorder's default latency (so that the sink mixes ahead, as a desktop's
# does). The stall is made by tests/compat/stall_server.cpp, preloaded: SIGSTOP to
# the server at the first write, SIGCONT STALL_MS later.
#   bench/server_stall.sh [BUILD_DIR] [RUNS]    (default build/default, 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
runs=${2:-5}
probe=$build/tests/sound_probe
shim=$build/tests/libstall_server.so
[[ -x $probe && -f $shim ]] || { echo "build first: cmake --build --preset default" >&2; exit 1; }
work=$(mktemp -d)
source "$root/bench/lib.sh"
trap 'stop_rigs; rm -rf "$work"' EXIT

sox -n -r 44100 -c 1 -b 16 "$work/line.wav" synth 0.6 sine 300 vol 0.5
start_pulse
"${recorder[@]}" >"$work/heard.raw" &
pids+=($!)
sleep 3   # the monitor of an idle null sink starts late
aplay -q "$work/line.wav"
sleep 3

median() { sort -n | awk '{v[NR]=$1} END {printf "%.0f", v[int((NR+1)/2)]}'; }

printf '%-9s %-12s %s\n' stall player "heard of 600 ms (median), whole plays"
for stall in 0 50 100 150 200; do
  for who in line_player aplay; do
    : >"$work/spans"
    for _ in $(seq "$runs"); do
      from=$(stat -c %s "$work/heard.raw")
      if [[ $who == line_player ]]; then
        SERVER_PID=$server STALL_MS=$stall LD_PRELOAD=$shim "$probe" play "$work/line.wav" >/dev/null
      else
        SERVER_PID=$server STALL_MS=$stall LD_PRELOAD=$shim aplay -q "$work/line.wav"
      fi
      sleep 3   # what the sink mixed ahead reaches the recorder
      { tail -c +"$((from + 1))" "$work/heard.raw" | "$build/bench/gaps" --span || true; } |
        awk '{print $1 == "heard" ? $2 : 0}' >>"$work/spans"
    done
    printf '%-9s %-12s %s ms, %s of %s\n' "$stall ms" "$who" "$(median <"$work/spans")" \
      "$(awk '$1 >= 590' "$work/spans" | wc -l)" "$runs"
  done
done
