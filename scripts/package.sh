#!/usr/bin/env bash
# Builds the releases into dist/: the Debian package line-player and the
# Windows zip (the 32-bit executable with its README and the licence). They
# are built in a clean Debian 12 root, as a buildd builds, whatever this
# system is, so that the same sources give the same bytes anywhere (times
# from debian/changelog) and the package installs on Debian 12 and 13 alike.
# The package is checked with this system's lintian, source and binary.
#   scripts/package.sh         both
#   scripts/package.sh --zip   the Windows zip alone
# The root is made once (mmdebstrap; sudo when not run as root) and kept in
# build/roots/bookworm-release.tar; scripts/package.sh --inside [--zip]
# builds in it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
version=$(dpkg-parsechangelog -S Version)

if [[ "${1:-}" == --inside ]]; then
  shift
  SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -S Timestamp)
  export SOURCE_DATE_EPOCH
  if [[ "${1:-}" != --zip ]]; then
    # dpkg-buildpackage writes into the tree it builds and beside it.
    rm -rf build/package
    mkdir -p build/package
    tar --exclude=./build --exclude=./dist -cf - . | tar -xf - -C build/package --one-top-level="line-player-$version"
    (cd "build/package/line-player-$version" && dpkg-buildpackage -us -uc)
    rm -rf "build/package/line-player-$version"
  fi
  # The Windows release: entries in name order, with fixed modes and times.
  cmake --preset mingw-i686 >/dev/null
  cmake --build --preset mingw-i686
  name="line_player-$version-win32"
  stage=build/package/$name
  mkdir -p "$stage"
  cp build/mingw-i686/src/line_player.exe "$stage/"
  sed 's/$/\r/' src/windows/README.txt >"$stage/README.txt"
  sed 's/$/\r/' LICENSE >"$stage/LICENSE.txt"
  chmod 644 "$stage"/*
  touch -h -d "@$SOURCE_DATE_EPOCH" "$stage"/* "$stage"
  (cd build/package && find "$name" -type f | LC_ALL=C sort | TZ=UTC zip -q -X -D "$name.zip" -@)
  strip-nondeterminism --type zip --timestamp "$SOURCE_DATE_EPOCH" "build/package/$name.zip"
  exit 0
fi

project_version=$(sed -n 's/^project(line_player VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [[ "$version" != "$project_version" ]]; then
  echo "debian/changelog says $version, CMakeLists.txt says $project_version" >&2
  exit 1
fi
scripts/setup.sh --package
sudo=()
[[ $(id -u) -eq 0 ]] || sudo=(sudo)

# The root: what debian/control's build needs, and the Windows cross
# compiler and zip tools.
tarball=build/roots/bookworm-release.tar
if [[ ! -f $tarball ]]; then
  mkdir -p build/roots
  "${sudo[@]}" mmdebstrap --quiet --variant=buildd \
    --include=g++-mingw-w64-i686-posix,binutils-mingw-w64-i686,zip,strip-nondeterminism \
    --customize-hook="copy-in $root/debian /tmp" \
    --customize-hook='chroot "$1" apt-get -y -qq --no-install-recommends build-dep /tmp >/dev/null' \
    --customize-hook='rm -rf "$1/tmp/debian" "$1"/var/cache/apt/archives/*.deb' \
    bookworm "${tarball%.tar}.partial.tar"
  "${sudo[@]}" chown "$(id -u):$(id -g)" "${tarball%.tar}.partial.tar"
  mv "${tarball%.tar}.partial.tar" "$tarball"
fi

# The committed and untracked files of the tree (not what .gitignore leaves
# out), built in a fresh copy of the root, and the releases copied out.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/src" "$work/out"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    while IFS= read -r -d '' file; do [[ -e "$file" ]] && printf '%s\0' "$file"; done |
    tar --null -T - -cf - | tar -xf - -C "$work/src"
else
  tar --exclude=./build --exclude=./dist -cf - . | tar -xf - -C "$work/src"
fi
"${sudo[@]}" mmdebstrap --quiet --variant=custom --skip=update,setup,cleanup,check/empty \
  --setup-hook="tar-in $root/$tarball /" \
  --customize-hook="copy-in $work/src /" \
  --customize-hook='chroot "$1" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 sh -c \
    "umask 022 && cd /src && scripts/package.sh --inside '"${1:-}"'"' \
  --customize-hook="sync-out /src/build/package $work/out" \
  bookworm /dev/null
"${sudo[@]}" chown -R "$(id -u):$(id -g)" "$work/out"

rm -rf build/package
mkdir -p build/package dist
cp -r "$work/out/." build/package/
rm -f "dist/line_player-$version-win32.zip"
if [[ "${1:-}" != --zip ]]; then
  rm -f dist/line-player_* dist/line-player-dbgsym_*
  # A package that claims today's Standards-Version is right, though an
  # older lintian does not know it yet.
  lintian --fail-on error,warning --suppress-tags newer-standards-version \
    build/package/line-player_"$version"_*.changes
  cp build/package/line-player_"$version"_*.deb build/package/line-player-dbgsym_"$version"_*.deb dist/
fi
cp "build/package/line_player-$version-win32.zip" dist/
ls -1 dist/
