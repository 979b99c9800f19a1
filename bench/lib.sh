# Shared by the benchmarks (sourced): the real-time sound rigs the tests use,
# from the shell. Set `work` (a temporary folder) and `root` first; each
# start_* leaves the environment of the shell ready for a client of the rig
# (ALSA's "default" reaches its null sink "rig") and `recorder`, a command
# that writes what reaches the sink to standard output as 44100 Hz mono
# 16-bit samples. stop_rigs ends every server started.

pids=()

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
# (norewinds=1, say), then more modules to load.
start_pulse() {  # [SINK_ARGUMENTS [MODULE...]]
  export XDG_RUNTIME_DIR=$work/pulse/runtime HOME=$work/pulse/home
  unset PULSE_SERVER
  mkdir -p -m 700 "$XDG_RUNTIME_DIR" "$HOME"
  local modules=(--load="module-null-sink sink_name=rig ${1:-}" --load=module-native-protocol-unix)
  for module in "${@:2}"; do modules+=(--load="$module"); done
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit "${modules[@]}" >/dev/null 2>&1 &
  server=$!
  pids+=("$server")
  await pactl info
  recorder=(parec -d rig.monitor --raw --format=s16le --rate=44100 --channels=1)
}

# The environment of the PipeWire rig's own processes, as an array of
# NAME=VALUE (tests/rigs/pipewire-rig.sh env).
pipewire_env=()

# Rig 8: PipeWire with WirePlumber and a null sink, unpacked into
# build/pipewire by tests/rigs/pipewire-rig.sh.
start_pipewire() {
  local pipewire=$root/build/pipewire dir=$work/pipewire
  "$root/tests/rigs/pipewire-rig.sh" unpack "$pipewire"
  "$root/tests/rigs/pipewire-rig.sh" configure "$pipewire" "$dir"
  mapfile -t pipewire_env < <("$root/tests/rigs/pipewire-rig.sh" env "$pipewire" "$dir")
  env "${pipewire_env[@]}" pipewire >/dev/null 2>&1 &
  pids+=($!)
  await env "${pipewire_env[@]}" pw-cli info 0
  env "${pipewire_env[@]}" dbus-run-session -- wireplumber >/dev/null 2>&1 &
  pids+=($!)
  await bash -c 'env "$@" wpctl status | grep -q "Rig null sink"' - "${pipewire_env[@]}"
  sleep 1
  local name
  for name in "${pipewire_env[@]}"; do export "${name?}"; done
  unset PULSE_SERVER
  recorder=(pw-record --target rig -P '{ stream.capture.sink = true }' --rate 44100 --channels 1 --format s16 -)
}

# Rig 9: rig 8's PipeWire serving PulseAudio's protocol (pipewire-pulse),
# which a client reaches through ALSA's pulse plug-in (libasound2-plugins).
start_pipewire_pulse() {
  start_pipewire
  env "${pipewire_env[@]}" pipewire -c pipewire-pulse.conf >/dev/null 2>&1 &
  pids+=($!)
  local dir=$work/pipewire
  export PULSE_SERVER=unix:$dir/runtime/pulse/native HOME=$dir/pulse-client XDG_RUNTIME_DIR=$work/pulse-client
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  unset LD_LIBRARY_PATH SPA_PLUGIN_DIR PIPEWIRE_MODULE_DIR PIPEWIRE_CONFIG_DIR
  await pactl info
  recorder=(parec -d rig.monitor --raw --format=s16le --rate=44100 --channels=1)
}
