#!/usr/bin/env bash
# Installs the Debian packages that line_player needs and that are missing.
#   scripts/setup.sh            to build and run the player
#   scripts/setup.sh --windows  to cross-build the Windows executables
#   scripts/setup.sh --package  that, and what building the releases needs
#   scripts/setup.sh --tests    all of that, and what the tests and benchmarks need
set -euo pipefail

packages=(
  cmake ninja-build make g++ pkg-config
  libsndfile1-dev libasound2-dev
  libasound2-plugins   # ALSA's "default" device reaches PulseAudio or PipeWire
)
windows=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686)
package=(debhelper dpkg-dev lintian zip)
case "${1:-}" in
  --windows) packages+=("${windows[@]}") ;;
  --package) packages+=("${windows[@]}" "${package[@]}") ;;
  --tests)
    packages+=(
      "${windows[@]}" "${package[@]}"
      wine64                                  # the 64-bit Windows build runs under Wine
      libgtest-dev
      pulseaudio pulseaudio-utils             # a real-time sound server with a null sink
      dbus-daemon libglib2.0-0 libavahi-client3 libwebrtc-audio-processing1 libreadline8
                                              # what the unpacked PipeWire rig needs beside
      locales                                 # localedef, for a Windows-1251 locale
      unicode-data                            # Unicode's own data, to check the upper-case table against
      clang libclang-rt-14-dev                # the Clang build, libFuzzer
      alsa-utils sox bc                       # benchmarks: aplay as the peer, recordings
      man-db                                  # the installed manual page opened
    ) ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
