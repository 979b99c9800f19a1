#!/usr/bin/env bash
# Installs the Debian packages that line_player needs and that are missing:
# always the package's own build dependencies as debian/control declares them
# (build-essential among them), and what else a task needs:
#   scripts/setup.sh            to build and run the player
#   scripts/setup.sh --windows  to cross-build the Windows executables
#   scripts/setup.sh --package  what building the releases needs (they are built
#                               in a clean Debian 12 root: scripts/package.sh)
#   scripts/setup.sh --tests    all of that, and what the tests and benchmarks need
# Uses sudo when not run as root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

packages=()
windows32=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)   # the release
windows64=(g++-mingw-w64-x86-64-posix)                           # the build that runs under Wine here
package=(mmdebstrap lintian)
case "${1:-}" in
  --windows) packages+=("${windows32[@]}" "${windows64[@]}") ;;
  --package) packages+=("${package[@]}") ;;
  --tests)
    packages+=(
      "${windows32[@]}" "${windows64[@]}" "${package[@]}"
      wine64                                  # the 64-bit Windows build runs under Wine
      arch-test unzip                         # the released 32-bit exe, run under 32-bit Wine in an
                                              # i386 root of its own (tests/rigs/wine32-root.sh)
      libgtest-dev
      pulseaudio pulseaudio-utils             # a real-time sound server with a null sink
      libasound2-plugins                      # ALSA's "default" device reaches that server
      dbus-daemon                             # the unpacked PipeWire rig's session bus (it unpacks
                                              # the libraries it needs beside)
      locales                                 # localedef, for a Windows-1251 locale
      unicode-data                            # Unicode's own data, to check the upper-case table against
      clang libclang-rt-dev                   # the Clang build, libFuzzer
      alsa-utils sox bc                       # benchmarks: aplay as the peer, recordings
    ) ;;
  "") ;;
  *) echo "usage: $0 [--windows|--package|--tests]" >&2; exit 2 ;;
esac

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
# dpkg-checkbuilddeps (dpkg-dev) tells whether the build dependencies are
# there; without it they are not.
build_deps=1
if command -v dpkg-checkbuilddeps >/dev/null && (cd "$root" && dpkg-checkbuilddeps) 2>/dev/null; then
  build_deps=0
fi
[[ $build_deps -eq 0 && ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
# sudo drops the environment: debconf is told inside it not to ask.
apt=("${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends)
"${apt[@]}" update
if [[ $build_deps -eq 1 ]]; then
  echo "Installing the build dependencies of debian/control"
  "${apt[@]}" build-dep "$root" >/dev/null
fi
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}"
  "${apt[@]}" install "${missing[@]}" >/dev/null
fi
