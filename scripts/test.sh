#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows executables (the release's
# 32-bit one run under 32-bit Wine in an i386 root, the 64-bit build under
# wine64), the Linux build with its tests on ALSA,
# PulseAudio and PipeWire, the Linux tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, a brief libFuzzer run of
# the file-playing path; a build with Clang, a plain CMake build and install
# without GoogleTest; the releases, built in a clean Debian 12 root; a new
# user's routes in clean Debian 12 and 13 roots (the demo, the by-hand build
# and its tests, the releases, compared byte for byte with these, the
# package installed, checked by its autopkgtest and purged there), and on
# Debian 13 the real-time tests on its PulseAudio and PipeWire. Nothing is
# installed on this machine but what setup.sh says.
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

for preset in mingw-i686 mingw-x64 clang; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

echo "== the releases, in a clean Debian 12 root"
scripts/package.sh
# The release's 32-bit exe runs under Debian 12's 32-bit Wine, in an i386
# root of its own (made once, kept under build/roots).
echo "== Debian 12's 32-bit Wine in an i386 root"
"${sudo[@]}" tests/rigs/wine32-root.sh make build/roots/wine32

# A new user's routes on Debian 12 and 13, the real-time tests on Debian
# 13's PulseAudio and PipeWire; their releases, built in the same pinned
# root, are the same bytes as these.
for release in bookworm trixie; do
  echo "== a new user's clean Debian ($release)"
  rm -rf "build/new-user-$release"
  realtime=()
  [[ $release == bookworm ]] || realtime=(--realtime)
  "${sudo[@]}" tests/release/new_user.sh "$release" "build/new-user-$release" build/roots/bookworm-release.tar \
    "${realtime[@]}"
  for release_file in dist/*; do
    cmp "$release_file" "build/new-user-$release/$(basename "$release_file")"
  done
done

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
