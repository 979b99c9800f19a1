# Shared by the benchmarks (sourced): the real-time sound rigs the tests use,
# from the shell. Set `work` (a temporary folder) and `root` first; each
# start_* leaves the environment of the shell ready for a client of the rig
# (ALSA's "default" reaches its null sink "rig") and `recorder`, a command
# that writes what reaches the sink to standard output as 44100 Hz mono
# 16-bit samples. listen_start and listen_stop record what a listener hears.
# stop_rigs ends every server started.

pids=()

# The rigs' servers and recorders run with a real-time priority where they
# may (as root), as a desktop's do through rtkit.
rt=()
chrt -f 20 true 2>/dev/null && rt=(chrt -f 20)

stop_rigs() {
  [[ ${#pids[@]} -gt 0 ]] || return 0
  kill -CONT "${pids[@]}" 2>/dev/null || true
  kill "${pids[@]}" 2>/dev/null || true
  wait "${pids[@]}" 2>/dev/null || true
  pids=()
}

# Waits up to ten seconds for COMMAND to succeed.
await() {
  for _ in $(seq 50); do "$@" >/dev/null 2>&1 && return 0; sleep 0.2; done
  echo "not ready: $*" >&2
  return 1
}

# Rigs 2 and 7: PulseAudio with a null sink. Arguments: more of the sink's
# (norewinds=1, rate=48000 channels=1, say), then more modules to load. With
# tap_library set to the tests' tap (build/PRESET/tests/libpulse_tap.so), the
# server writes to $tap what its sink finally played, rewinds applied
# (tests/rigs/pulse_tap.cpp): what a listener hears, where the monitor of a
# sink that mixes ahead keeps what was taken back and loses starts.
start_pulse() {  # [SINK_ARGUMENTS [MODULE...]]
  export XDG_RUNTIME_DIR=$work/pulse/runtime HOME=$work/pulse/home
  unset PULSE_SERVER
  mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$HOME"
  local preload=()
  tap=
  if [[ -n ${tap_library:-} ]]; then
    tap=$work/pulse/tap.$((++taps)).raw tap_settled=0
    preload=(env LD_PRELOAD="$tap_library" TAP_FILE="$tap")
    sink_rate=$(sed -n 's/.*rate=\([0-9]*\).*/\1/p' <<<"${1:-}") sink_channels=$(sed -n 's/.*channels=\([0-9]*\).*/\1/p' <<<"${1:-}")
    sink_rate=${sink_rate:-44100} sink_channels=${sink_channels:-2}
  fi
  "${preload[@]}" "${rt[@]}" "$root/tests/rigs/pulse-rig.sh" "$@" >/dev/null 2>&1 &
  server=$!
  pids+=("$server")
  await pactl info
  recorder=("${rt[@]}" parec -d rig.monitor --raw --format=s16le --rate=44100 --channels=1)
}
taps=0

# Records what a listener hears until listen_stop FILE, which writes it to
# FILE as 44100 Hz mono 16-bit samples: the tap's part since listen_start
# (the recorder runs meanwhile, so that the sink mixes ahead as a desktop's
# does), or what the recorder took.
listen_start() {
  if [[ -n ${tap:-} ]]; then
    # What the sink mixed ahead in the last two seconds may still change.
    local bytes_per_second=$((sink_rate * sink_channels * 2)) size
    size=$(stat -c %s "$tap" 2>/dev/null || echo 0)
    listen_from=$((size - 21 * bytes_per_second / 10))
    ((listen_from > tap_settled)) || listen_from=$tap_settled
    listen_from=$((listen_from / (sink_channels * 2) * sink_channels * 2))
    "${recorder[@]}" >/dev/null 2>&1 &
  else
    "${recorder[@]}" >"$work/listening.raw" 2>/dev/null &
  fi
  listener=$!
}
listen_stop() {  # FILE
  if [[ -n ${tap:-} ]]; then
    sleep 2.5   # until the sink can no longer take back what it has played
    tap_settled=$(stat -c %s "$tap")
    tail -c +$((listen_from + 1)) "$tap" | head -c $((tap_settled - listen_from)) |
      sox -t raw -r "$sink_rate" -c "$sink_channels" -e signed -b 16 - -t raw -r 44100 -c 1 - remix 1 >"$1"
  fi
  kill -INT "$listener" 2>/dev/null || true; wait "$listener" 2>/dev/null || true
  [[ -n ${tap:-} ]] || mv "$work/listening.raw" "$1"
}

# The environment of the PipeWire rig's own processes, as an array of
# NAME=VALUE (tests/rigs/pipewire-rig.sh env).
pipewire_env=()

# Rig 8: PipeWire with WirePlumber and a null sink, unpacked into
# build/pipewire by tests/rigs/pipewire-rig.sh, its sink at RATE (48000) and
# CHANNELS (2).
start_pipewire() {  # [RATE [CHANNELS]]
  local pipewire=$root/build/pipewire dir=$work/pipewire
  tap=
  "$root/tests/rigs/pipewire-rig.sh" unpack "$pipewire"
  "$root/tests/rigs/pipewire-rig.sh" configure "$pipewire" "$dir" "${1:-48000}" "${2:-2}"
  mapfile -t pipewire_env < <("$root/tests/rigs/pipewire-rig.sh" env "$pipewire" "$dir")
  env "${pipewire_env[@]}" "${rt[@]}" pipewire >/dev/null 2>&1 &
  pids+=($!)
  await env "${pipewire_env[@]}" pw-cli info 0
  env "${pipewire_env[@]}" dbus-run-session -- wireplumber >/dev/null 2>&1 &
  pids+=($!)
  await bash -c 'env "$@" wpctl status | grep -q "Rig null sink"' - "${pipewire_env[@]}"
  sleep 1
  local name
  for name in "${pipewire_env[@]}"; do export "${name?}"; done
  unset PULSE_SERVER
  recorder=("${rt[@]}" pw-record --target rig -P '{ stream.capture.sink = true }' --rate 44100 --channels 1 --format s16 -)
}

# Rig 9: rig 8's PipeWire serving PulseAudio's protocol (pipewire-pulse),
# which a client reaches through ALSA's pulse plug-in (libasound2-plugins).
start_pipewire_pulse() {  # [RATE [CHANNELS]]
  start_pipewire "$@"
  env "${pipewire_env[@]}" "${rt[@]}" pipewire -c pipewire-pulse.conf >/dev/null 2>&1 &
  pids+=($!)
  local dir=$work/pipewire
  export PULSE_SERVER=unix:$dir/runtime/pulse/native HOME=$dir/pulse-client XDG_RUNTIME_DIR=$work/pulse-client
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  unset LD_LIBRARY_PATH SPA_PLUGIN_DIR PIPEWIRE_MODULE_DIR PIPEWIRE_CONFIG_DIR
  await pactl info
  recorder=("${rt[@]}" parec -d rig.monitor --raw --format=s16le --rate=44100 --channels=1)
}
