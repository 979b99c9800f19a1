#!/usr/bin/env bash
# Sets up and cross-builds the Windows executable: a 32-bit console program,
# statically linked, that runs on a bare Windows.
#   scripts/windows.sh          -> build/mingw-i686/src/line_player.exe
#   scripts/windows.sh x64      -> build/mingw-x64/src/line_player.exe
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --windows
preset=mingw-i686
[[ "${1:-}" == x64 ]] && preset=mingw-x64
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
echo "$root/build/$preset/src/line_player.exe"
