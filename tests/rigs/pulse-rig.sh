#!/bin/bash
# A PulseAudio server of a rig's own, as the tests (tests/support, PulseRig)
# and the benchmarks (bench/lib.sh) start it: a null sink "rig", its only and
# so its default sink, and the native protocol on the rig's XDG_RUNTIME_DIR,
# open to any client that reaches its socket (the socket's folder is the
# rig's own; a client in another root, 32-bit Wine's, has no cookie).
# Runs in the foreground; the caller sets the environment (XDG_RUNTIME_DIR,
# HOME; LD_PRELOAD and TAP_FILE for tests/rigs/pulse_tap.cpp).
#   pulse-rig.sh [SINK_ARGUMENTS [MODULE...]]
# SINK_ARGUMENTS: more of the null sink's (rate=48000 channels=1, say), or
# "none" for a server without a sink; then more modules to load.
set -euo pipefail
modules=(--load="module-native-protocol-unix auth-anonymous=1")
if [[ ${1:-} != none ]]; then
  modules+=(--load="module-null-sink sink_name=rig ${1:-}" --load=module-always-sink)
fi
for module in "${@:2}"; do modules+=(--load="$module"); done
exec pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit "${modules[@]}"
