#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows executables (32- and 64-bit,
# the 64-bit one run under Wine), the Linux build with its tests on ALSA,
# PulseAudio and PipeWire, the Linux tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a brief libFuzzer run of
# the file-playing path; a build with Clang, a plain CMake build and install
# without GoogleTest; a new user's routes in a clean Debian root (the demo,
# the by-hand build and its tests, the releases, the package installed, run
# and purged there); the Windows zip built again here and compared byte for
# byte. Nothing is installed on this machine but what setup.sh says.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
started=$(date +%s)
scripts/setup.sh --tests
# PipeWire for the real-time tests on it, unpacked from Debian's packages.
tests/rigs/pipewire-rig.sh unpack build/pipewire
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

echo "== plain CMake build and install, without GoogleTest"
rm -rf build/plain
cmake -S . -B build/plain -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
cmake --build build/plain
DESTDIR="$root/build/plain/staging" cmake --install build/plain >/dev/null
for file in bin/line_player share/man/man1/line_player.1 share/doc/line_player/README.md; do
  [[ -f "build/plain/staging/usr/local/$file" ]] || { echo "not installed: $file" >&2; exit 1; }
done

for preset in mingw-x64 clang; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== a new user's clean Debian 12"
rm -rf build/new-user
"${sudo[@]}" tests/release/new_user.sh build/new-user

echo "== the Windows zip, built again here, is the same bytes"
scripts/package.sh --zip
version=$(dpkg-parsechangelog -S Version)
cmp "dist/line_player-$version-win32.zip" "build/new-user/line_player-$version-win32.zip"

for preset in default asan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  rm -f build/asan/sanitizer/*
  ctest --preset "$preset"
done
# The sanitizers write their reports to files (the asan test preset), so that
# one raised while standard error was pointed elsewhere is not lost: any
# report fails the run, whether or not its test noticed.
if [[ -n $(find build/asan/sanitizer -type f) ]]; then
  find build/asan/sanitizer -type f -exec cat {} +
  echo "== the sanitizers reported errors (build/asan/sanitizer)" >&2
  exit 1
fi
echo "== every test passed in $(($(date +%s) - started)) s"
