#!/usr/bin/env bash
# Sets up, builds, and runs line_player on the bundled sample recordings with
# a short interval (seconds, default 3). Ctrl+C ends it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake --preset default -S "$root" >/dev/null
cmake --build --preset default --target line_player
cd "$root/examples/lines"
exec "$root/build/default/src/line_player" "${1:-3}"
