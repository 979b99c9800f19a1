#!/usr/bin/env bash
# A new user's Debian, not ours: a clean root of RELEASE (bookworm, Debian
# 12, or trixie, Debian 13; mmdebstrap, minbase with git, sudo and man-db)
# in which an unprivileged user with sudo clones the project and takes the
# README's routes:
#   - the demo (scripts/demo.sh), until its messages are out;
#   - the by-hand CMake build with its tests, without locales, PulseAudio or
#     Wine: every test passes or skips, and no skip takes more than seconds;
#   - the releases (scripts/package.sh: built in the clean Debian 12 root
#     whose tarball, made beforehand, is handed in as a buildd's is);
#   - the package installed and checked by its autopkgtest (debian/tests),
#     purged, and the root compared with what it was before: nothing may be
#     left;
#   - with --realtime, the set-up of the README's test command
#     (scripts/setup.sh --tests) and the real-time tests on this release's
#     PulseAudio and PipeWire.
# The root is thrown away; the releases are copied out to OUT.
#   tests/release/new_user.sh RELEASE OUT RELEASE_ROOT_TARBALL [--realtime]
#     (as root, with Debian's mirror at hand)
# Inside the root the same script runs as the user: new_user.sh --inside [--realtime]
set -euo pipefail

if [[ "${1:-}" == --inside ]]; then
  cd "$HOME/line_player"
  apt=(sudo env DEBIAN_FRONTEND=noninteractive apt-get -y -qq --no-install-recommends)
  step() { echo "== $1 ($(date +%T))"; }

  step "the demo"
  scripts/demo.sh 1 >demo.out 2>demo.err &
  demo=$!
  for _ in $(seq 900); do
    grep -q "Have a nice dream!" demo.out && break
    kill -0 "$demo" 2>/dev/null || break
    sleep 1
  done
  kill -TERM "$demo" 2>/dev/null || true   # a background job ignores SIGINT
  wait "$demo" || true
  grep -q "Have a nice dream!" demo.out || { cat demo.err >&2; echo "the demo did not start" >&2; exit 1; }

  step "the by-hand build and its tests"
  "${apt[@]}" install libgtest-dev >/dev/null
  export CMAKE_BUILD_PARALLEL_LEVEL=$(nproc)   # the user's commands, on every core
  cmake -B build 2>&1 | tee configure.out
  ! grep -q "CMake Warning" configure.out || { echo "CMake warned (above)" >&2; exit 1; }
  cmake --build build
  ctest --test-dir build --output-on-failure | tee ctest.out
  # A test that skips says why and takes no time: seconds, not minutes.
  slow=$(grep -E '\*\*\*Skipped|Skipped ' ctest.out | awk '$(NF-1) + 0 > 5' || true)
  [[ -z "$slow" ]] || { echo "skips that took more than 5 s:" >&2; echo "$slow" >&2; exit 1; }

  step "the releases"
  scripts/package.sh
  version=$(dpkg-parsechangelog -S Version)
  deb="./dist/line-player_${version}_$(dpkg --print-architecture).deb"

  step "the package installed, checked by its autopkgtest, and purged"
  # What apt would bring with the package's Recommends, for the record.
  echo "with its Recommends the package would bring $("${apt[@]}" -s -o APT::Install-Recommends=true install "$deb" |
    grep -c '^Inst') packages"
  "${apt[@]}" install autopkgtest man-db >/dev/null
  # What the root holds but for what changes by itself: logs, caches (the
  # byte code Python writes as autopkgtest runs among them, and the AppStream
  # catalogue apt's update writes beside its lists), temporary files.
  snapshot() {
    sudo find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp -o -path /home \
      -o -path /root -o -path /var/log -o -path /var/cache -o -path /var/lib/apt/lists \
      -o -path /var/lib/app-info -o -path /var/lib/swcatalog -o -name __pycache__ \) \
      -prune -o -print | LC_ALL=C sort
  }
  snapshot >"$HOME/before"
  sudo autopkgtest --quiet "$deb" . -- null
  "${apt[@]}" purge line-player >/dev/null
  snapshot >"$HOME/after"
  if ! diff "$HOME/before" "$HOME/after"; then
    echo "installing and purging the package left the root changed (above)" >&2
    exit 1
  fi

  if [[ "${2:-}" == --realtime ]]; then
    step "the test command's set-up, and the real-time tests"
    scripts/setup.sh --tests
    tests/rigs/pipewire-rig.sh unpack build/pipewire
    cmake --preset default >/dev/null
    cmake --build --preset default
    ctest --preset default -L 'pulse|pipewire' | tee realtime.out
    # Each rig ran: none of its tests skipped.
    ! grep -E '\*\*\*Skipped|Skipped ' realtime.out || { echo "real-time tests skipped (above)" >&2; exit 1; }
  fi
  step "done"
  exit 0
fi

release=${1:?usage: $0 RELEASE OUT RELEASE_ROOT_TARBALL [--realtime]}
out=$(realpath -m "${2:?usage: $0 RELEASE OUT RELEASE_ROOT_TARBALL [--realtime]}")
release_root=$(realpath "${3:?usage: $0 RELEASE OUT RELEASE_ROOT_TARBALL [--realtime]}")
realtime=${4:-}
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The committed project, as a clone brings it.
git clone -q --no-hardlinks "$root" "$work/line_player"
mkdir -p "$out"
# copy-in and sync-out take their paths as they are written (no shell).
mmdebstrap --quiet --variant=minbase --include=git,sudo,man-db,ca-certificates \
  --customize-hook='chroot "$1" useradd --create-home --shell /bin/bash user' \
  --customize-hook='echo "user ALL=(ALL) NOPASSWD: ALL" >"$1/etc/sudoers.d/user"' \
  --customize-hook='echo "127.0.1.1 $(uname -n)" >>"$1/etc/hosts"' \
  --customize-hook="copy-in $work/line_player /srv" \
  --customize-hook='chroot "$1" chown -R user: /srv/line_player' \
  --customize-hook='chroot "$1" runuser -l user -c "git clone -q /srv/line_player && mkdir -p line_player/build/roots"' \
  --customize-hook="upload $release_root /home/user/line_player/build/roots/bookworm-release.tar" \
  --customize-hook="chroot \"\$1\" runuser -l user -c \"line_player/tests/release/new_user.sh --inside $realtime\"" \
  --customize-hook="sync-out /home/user/line_player/dist $out" \
  "$release" /dev/null
