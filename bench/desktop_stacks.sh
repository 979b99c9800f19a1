#!/usr/bin/env bash
# The sound stacks desktops run, each side by side with aplay:
#  - rig 7: PulseAudio with a null sink recorded at the recorder's default
#    latency, so that the sink mixes ahead as a desktop's does;
#  - rig 8: PipeWire with WirePlumber and a null sink, unpacked by
#    tests/rigs/pipewire-rig.sh (scripts/test.sh does it into build/pipewire).
# For each: the pause between lines (line_player 1 against a shell loop of
# `sleep 1; aplay`), how long a play runs past what is heard of it (its wall
# time minus the heard length; the device's opening and start-up latency are
# in it too), and the wake-ups (voluntary context switches, all threads) and
# CPU per audio second of one 20-second play.
#   bench/desktop_stacks.sh [BUILD_DIR] [SECONDS]    (default build/default, 30)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "${1:-$root/build/default}")
seconds=${2:-30}
pipewire=$root/build/pipewire
probe=$build/tests/sound_probe
[[ -x $probe ]] || { echo "build first: cmake --build --preset default" >&2; exit 1; }
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; sleep 0.5; rm -rf "$work"' EXIT

mkdir "$work/lines"
for tone in 300 500 700; do
  sox -n -r 44100 -c 1 -b 16 "$work/lines/line$tone.wav" synth 0.5 sine $tone vol 0.5
done
sox -n -r 44100 -c 1 -b 16 "$work/long.wav" synth 20 sine 440 vol 0.5

start_pulse() {
  export XDG_RUNTIME_DIR=$work/pulse/runtime HOME=$work/pulse/home
  mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$HOME"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --load="module-null-sink sink_name=rig" \
    --load="module-native-protocol-unix" >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.2; done
  recorder=(parec -d rig.monitor --raw --format=s16le --rate=44100 --channels=1)
}

start_pipewire() {
  [[ -x $pipewire/usr/bin/pipewire ]] || "$root/tests/rigs/pipewire-rig.sh" unpack "$pipewire"
  "$root/tests/rigs/pipewire-rig.sh" configure "$pipewire" "$work/pw"
  local lib=$pipewire/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  export LD_LIBRARY_PATH=$lib SPA_PLUGIN_DIR=$lib/spa-0.2 PIPEWIRE_MODULE_DIR=$lib/pipewire-0.3 \
    PIPEWIRE_CONFIG_DIR=$work/pw/conf WIREPLUMBER_MODULE_DIR=$lib/wireplumber-0.4 \
    WIREPLUMBER_CONFIG_DIR=$work/pw/wireplumber WIREPLUMBER_DATA_DIR=$work/pw/wireplumber \
    XDG_RUNTIME_DIR=$work/pw/runtime HOME=$work/pw/home XDG_CONFIG_HOME=$work/pw/home/.config \
    XDG_STATE_HOME=$work/pw/home/.local/state XDG_DATA_HOME=$work/pw/home/.local/share \
    PATH=$pipewire/usr/bin:$PATH
  unset PULSE_SERVER
  pipewire >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do pw-cli info 0 >/dev/null 2>&1 && break; sleep 0.2; done
  dbus-run-session -- wireplumber >/dev/null 2>&1 &
  pids+=($!)
  for _ in $(seq 50); do wpctl status 2>/dev/null | grep -q 'Rig null sink' && break; sleep 0.2; done
  sleep 1
  recorder=(pw-record --target rig -P '{ stream.capture.sink = true }' --rate 44100 --channels 1 --format s16 -)
}

record() {  # NAME COMMAND...: records the sink while COMMAND runs (or $seconds for line_player)
  local name=$1; shift
  "${recorder[@]}" >"$work/$name.raw" 2>/dev/null &
  local recorder_pid=$!
  sleep 3   # the first samples of an idle sink's monitor come late
  if [[ $name == pauses_* ]]; then
    (cd "$work/lines" && exec "$@") >/dev/null 2>&1 &
    local player=$!
    sleep "$seconds"
    kill "$player"; wait "$player" 2>/dev/null || true
  else
    (cd "$work" && exec "$@") >"$work/$name.times"
  fi
  sleep 3; kill -INT "$recorder_pid"; wait "$recorder_pid" 2>/dev/null || true
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
kill "${pids[@]}" 2>/dev/null; pids=(); sleep 1

echo "rig 8: PipeWire 0.3 with WirePlumber, a null sink"
start_pipewire
measure_rig
