#!/usr/bin/env bash
# Sets up, builds, and runs line_player on the bundled sample recordings with
# a short interval (seconds, default 3). Ctrl+C ends it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
# The plain CMake build: the program alone, without the tests.
cmake -S "$root" -B "$root/build/demo" -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/demo" --target line_player
cd "$root/examples/lines"
exec "$root/build/demo/src/line_player" "${1:-3}"
