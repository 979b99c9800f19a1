#!/usr/bin/env bash
# Builds the releases into dist/: the Debian package line-player (checked
# with lintian) and the Windows zip, the 32-bit executable with its README
# and the licence. Both are reproducible: the same sources give the same
# bytes (times from debian/changelog).
#   scripts/package.sh         both
#   scripts/package.sh --zip   the Windows zip alone
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
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -S Timestamp)
export SOURCE_DATE_EPOCH

work=build/package
rm -rf "$work"
mkdir -p "$work/line-player-$version" dist

if [[ "${1:-}" != --zip ]]; then
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
fi

# The Windows release: entries in name order, with fixed modes and times.
cmake --preset mingw-i686 >/dev/null
cmake --build --preset mingw-i686
name="line_player-$version-win32"
stage="$work/$name"
mkdir -p "$stage"
cp build/mingw-i686/src/line_player.exe "$stage/"
sed 's/$/\r/' src/windows/README.txt >"$stage/README.txt"
sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
chmod 644 "$stage"/*
touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/* "$stage"
zip="$root/dist/$name.zip"
rm -f "$zip"
(cd "$work" && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "$zip" -@)
strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" "$zip"

ls -1 dist/
