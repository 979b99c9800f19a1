#!/usr/bin/env bash
# Builds the releases into dist/: the Debian package line-player (checked
# with lintian) and the Windows zip, the 32-bit executable with its README
# and the licence.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
scripts/setup.sh --package

version=$(dpkg-parsechangelog -S Version)
project_version=$(sed -n 's/^project(line_player VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [[ "$version" != "$project_version" ]]; then
  echo "debian/changelog says $version, CMakeLists.txt says $project_version" >&2
  exit 1
fi

work=build/package
rm -rf "$work"
mkdir -p "$work/line-player-$version" dist

# The package is built from a copy of the sources, as dpkg-buildpackage
# writes into the tree it builds and beside it.
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [[ -e "$file" ]] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -xf - -C "$work/line-player-$version"
else
  tar --exclude=./build --exclude=./dist -cf - . | tar -xf - -C "$work/line-player-$version"
fi
(cd "$work/line-player-$version" && dpkg-buildpackage -us -uc -b)
lintian --fail-on error,warning "$work"/line-player_"$version"_*.changes
shopt -s nullglob
mv "$work"/line-player_"$version"_* "$work"/line-player-dbgsym_"$version"_* dist/

# The Windows release.
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686
stage="$work/line_player-$version-win32"
mkdir -p "$stage"
cp build/mingw-i686/src/line_player.exe "$stage/"
sed 's/$/\r/' src/windows/README.txt >"$stage/README.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
rm -f "dist/line_player-$version-win32.zip"
(cd "$work" && zip -q -r -X "$root/dist/line_player-$version-win32.zip" "line_player-$version-win32")

ls -1 dist/
