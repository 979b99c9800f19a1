#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows executables (32- and 64-bit,
# the 64-bit one run under Wine), the Linux build with its tests on ALSA,
# PulseAudio and PipeWire, the Linux tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a brief libFuzzer run of
# the file-playing path; a build with Clang, a plain CMake build and install
# without GoogleTest, and the releases (the Debian package, checked with
# lintian, installed and run once; the Windows zip).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --tests
# PipeWire for the real-time tests on it, unpacked from Debian's packages.
tests/rigs/pipewire-rig.sh unpack build/pipewire

echo "== plain CMake build and install, without GoogleTest"
rm -rf build/plain
cmake -S . -B build/plain -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build build/plain
DESTDIR="$root/build/plain/staging" cmake --install build/plain >/dev/null
for file in bin/line_player share/man/man1/line_player.1 share/doc/line_player/README.md; do
  [[ -f "build/plain/staging/usr/local/$file" ]] || { echo "not installed: $file" >&2; exit 1; }
done

for preset in mingw-i686 mingw-x64 clang; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== releases"
scripts/package.sh
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)
version=$(dpkg-parsechangelog -S Version)
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
  "./dist/line-player_${version}_$(dpkg --print-architecture).deb" >/dev/null
tests/installed.sh

for preset in default asan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
