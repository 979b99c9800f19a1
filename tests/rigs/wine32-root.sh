#!/bin/bash
# Debian 12's 32-bit Wine in an i386 root of its own, for running the 32-bit
# Windows executable the release ships (nothing of i386 added to this
# system's own apt, whose i386 index can lag the amd64 one).
#   wine32-root.sh make ROOT          makes the root (as root; once: an
#                                     existing one is kept): wine32, libpulse0
#                                     and a ru_RU.CP1251 locale
#   wine32-root.sh run ROOT COMMAND...  runs COMMAND in it, in a private mount
#                                     namespace with this system's /proc, /dev
#                                     and /tmp, in the environment and the
#                                     working folder given (one under /tmp);
#                                     as root, or in a user namespace of its own
set -euo pipefail
command=$1 root=$(realpath -m "$2")
shift 2
case "$command" in
make)
  [[ -x $root/usr/lib/wine/wine ]] && exit 0
  arch-test i386 >/dev/null || { echo "this system runs no 32-bit programs (arch-test i386)" >&2; exit 1; }
  rm -rf "$root.partial"
  mmdebstrap --quiet --architectures=i386 --variant=apt --include=wine32,libpulse0,locales \
    --customize-hook='chroot "$1" localedef -i ru_RU -f CP1251 ru_RU.CP1251' \
    bookworm "$root.partial"
  mv "$root.partial" "$root"
  ;;
run)
  namespaces=(--mount --propagation private)
  [[ $(id -u) -eq 0 ]] || namespaces=(--user --map-root-user "${namespaces[@]}")
  # chroot starts in the root's /: the command goes back to where it was.
  exec unshare "${namespaces[@]}" sh -c 'mount --rbind /proc "$0/proc" && mount --rbind /dev "$0/dev" &&
    mount --rbind /tmp "$0/tmp" && exec chroot "$0" /bin/sh -c '\''cd "$0" && exec "$@"'\'' "$PWD" "$@"' \
    "$root" "$@"
  ;;
*)
  echo "usage: $0 make ROOT | run ROOT COMMAND..." >&2
  exit 2
  ;;
esac
