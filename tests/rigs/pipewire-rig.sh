#!/bin/bash
# A headless PipeWire with WirePlumber and a null sink "rig", from Debian's
# packages unpacked into a folder of the project's (nothing installed, /etc
# untouched), for the real-time tests on PipeWire, and its PulseAudio server
# (pipewire-pulse) for those on ALSA's pulse plug-in to PipeWire.
#   pipewire-rig.sh unpack ROOT        downloads and unpacks the packages into ROOT
#   pipewire-rig.sh configure ROOT DIR [RATE [CHANNELS]]
#                                      writes a server, session manager and ALSA
#                                      configuration for one rig into DIR, its
#                                      sink at RATE Hz (48000) with CHANNELS (2)
#   pipewire-rig.sh env ROOT DIR       prints the environment of the rig's
#                                      processes, a NAME=VALUE a line
# tests/support (PipeWireRig) starts the server and the session manager with
# those files; DIR/home/.asoundrc sends ALSA's "default" to PipeWire's plug-in,
# DIR/pulse-client/.asoundrc to ALSA's pulse plug-in (libasound2-plugins),
# which reaches the PulseAudio server `pipewire -c pipewire-pulse.conf` runs.
set -euo pipefail
command=$1 root=$(realpath -m "$2")
case "$command" in
unpack)
  [[ -f $root/usr/share/pipewire/pipewire-pulse.conf ]] && exit 0
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  chmod 777 "$work"   # apt's download user (_apt) writes there
  # The server, its session manager, ALSA plug-in and PulseAudio server, as
  # this system's Debian release has them (PipeWire 0.3 and WirePlumber 0.4
  # on Debian 12, 1.4 and 0.5 on Debian 13), and, recursively, what they
  # depend on that is not installed here: of alternatives, one installed, or
  # else the first. Their libraries are found through LD_LIBRARY_PATH.
  installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
  queue=(pipewire pipewire-bin pipewire-alsa pipewire-pulse wireplumber)
  declare -A wanted=()
  while ((${#queue[@]})); do
    package=${queue[0]} queue=("${queue[@]:1}")
    [[ -z ${wanted[$package]:-} ]] || continue
    wanted[$package]=1
    alternatives=()
    while IFS= read -r line; do
      [[ $line =~ ^\ ([|\ ])(Pre)?Depends:\ (.*)$ ]] || continue
      alternatives+=("${BASH_REMATCH[3]}")
      [[ ${BASH_REMATCH[1]} == "|" ]] && continue   # more alternatives follow
      choice=
      for alternative in "${alternatives[@]}"; do
        if installed "$alternative"; then choice= && break; fi
        [[ -n $choice || $alternative == "<"* ]] || choice=$alternative
      done
      [[ -z $choice ]] || queue+=("$choice")
      alternatives=()
    done < <(apt-cache depends --no-recommends --no-suggests --no-conflicts --no-breaks --no-replaces \
      --no-enhances "$package" | tail -n +2)
  done
  (cd "$work" && apt-get -o DPkg::Lock::Timeout=600 download -q "${!wanted[@]}" >/dev/null)
  mkdir -p "$root"
  for package in "$work"/*.deb; do dpkg -x "$package" "$root"; done
  ;;
configure)
  dir=$(realpath -m "$3") lib=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  rate=${4:-48000} position="FL FR"
  [[ ${5:-2} == 1 ]] && position=MONO
  mkdir -p "$dir/conf" "$dir/home/.config/pulse" "$dir/runtime"
  chmod 700 "$dir/runtime"
  # The clients' configuration (ALSA's plug-in reads client-rt.conf before
  # PipeWire 1.0, client.conf since) and pipewire-pulse's.
  for conf in client.conf client-rt.conf pipewire-pulse.conf; do
    [[ ! -f $root/usr/share/pipewire/$conf ]] || cp "$root/usr/share/pipewire/$conf" "$dir/conf/"
  done
  rm -rf "$dir/wireplumber" && cp -r "$root/usr/share/wireplumber" "$dir/wireplumber"
  # No devices to look for, no Bluetooth: WirePlumber 0.4 is configured in
  # Lua, 0.5 in profiles of its configuration file.
  if [[ -f $dir/wireplumber/main.lua.d/90-enable-all.lua ]]; then
    sed -i -E 's/^(alsa|v4l2|libcamera)_monitor\.enable/-- &/' "$dir/wireplumber/main.lua.d/90-enable-all.lua"
    sed -i 's/^\(\s*{ name = bluetooth.lua\)/  # \1/' "$dir/wireplumber/wireplumber.conf"
  else
    mkdir -p "$dir/wireplumber/wireplumber.conf.d"
    cat >"$dir/wireplumber/wireplumber.conf.d/90-rig.conf" <<'CONF'
wireplumber.profiles = {
  main = {
    monitor.alsa = disabled
    monitor.alsa-midi = disabled
    monitor.bluez = disabled
    monitor.bluez-midi = disabled
    monitor.libcamera = disabled
    monitor.v4l2 = disabled
  }
}
CONF
  fi
  echo "autospawn = no" >"$dir/home/.config/pulse/client.conf"
  mkdir -p "$dir/pulse-client/.config/pulse"
  echo "autospawn = no" >"$dir/pulse-client/.config/pulse/client.conf"
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$dir/pulse-client/.asoundrc"
  cat >"$dir/conf/pipewire.conf" <<CONF
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    link.max-buffers = 16
    default.clock.rate = $rate
    default.clock.allowed-rates = [ $rate ]
}
context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access args = { } }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = adapter
        args = {
            factory.name     = support.null-audio-sink
            node.name        = rig
            node.description = "Rig null sink"
            media.class      = Audio/Sink
            audio.position   = [ $position ]
            object.linger    = true
            priority.driver  = 1000
            priority.session = 1000
            monitor.channel-volumes = true
        }
    }
]
CONF
  cat >"$dir/home/.asoundrc" <<ASOUNDRC
pcm_type.pipewire { lib "$lib/alsa-lib/libasound_module_pcm_pipewire.so" }
ctl_type.pipewire { lib "$lib/alsa-lib/libasound_module_ctl_pipewire.so" }
pcm.!default { type pipewire }
ctl.!default { type pipewire }
ASOUNDRC
  ;;
env)
  dir=$(realpath -m "$3") lib=$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)
  cat <<ENV
LD_LIBRARY_PATH=$lib
SPA_PLUGIN_DIR=$lib/spa-0.2
PIPEWIRE_MODULE_DIR=$lib/pipewire-0.3
PIPEWIRE_CONFIG_DIR=$dir/conf
WIREPLUMBER_MODULE_DIR=$(ls -d "$lib"/wireplumber-0.* | tail -n 1)
WIREPLUMBER_CONFIG_DIR=$dir/wireplumber
WIREPLUMBER_DATA_DIR=$dir/wireplumber
XDG_RUNTIME_DIR=$dir/runtime
HOME=$dir/home
XDG_CONFIG_HOME=$dir/home/.config
XDG_STATE_HOME=$dir/home/.local/state
XDG_DATA_HOME=$dir/home/.local/share
XDG_DATA_DIRS=$dir/none
PATH=$root/usr/bin:$PATH
ENV
  ;;
*)
  echo "usage: $0 unpack ROOT | configure ROOT DIR [RATE [CHANNELS]] | env ROOT DIR" >&2
  exit 2
  ;;
esac
