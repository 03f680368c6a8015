#!/usr/bin/env bash
# Runs a command with Wine from its private root (root.sh): in a mount namespace of the command's
# own, the root gets this system's /proc, /sys, /dev and /tmp and the given folder at their own
# paths, and `wine` and `wineserver` on the command's PATH are each a chroot into the root.
#
# Usage: tests/system/wine/in_root.sh <root> <folder> <command>...
set -euo pipefail
root=$1 folder=$2
shift 2
[ -n "${WINE_ROOT_ENTERED:-}" ] || exec unshare --mount --propagation private env WINE_ROOT_ENTERED=1 "$0" "$root" "$folder" "$@"

[ -x "$root/usr/lib/wine/wine" ] || { echo "no Wine root in $root" >&2; exit 1; }
mount -t proc proc "$root/proc"
mount --rbind /sys "$root/sys"
mount --rbind /dev "$root/dev"
mount --bind /tmp "$root/tmp"
if [[ $folder != /tmp/* ]]; then
    mkdir -p "$folder" "$root$folder"
    mount --bind "$folder" "$root$folder"
fi
# The wrappers, and the cache folder Wine's fontconfig writes to (the root itself may be read-only,
# as in the guest), under /tmp, which the root shows.
bin=$(mktemp -d /tmp/wine-root.XXXXXX)
trap 'rm -rf "$bin"' EXIT
mkdir "$bin/cache"
for command in wine wineserver; do
    cat >"$bin/$command" <<EOF
#!/bin/sh
exec chroot "$root" /bin/sh -c 'cd "\$0" 2>/dev/null || cd /; exec "\$@"' "\$PWD" /usr/lib/wine/$command "\$@"
EOF
done
chmod +x "$bin"/*
PATH=$bin:$PATH XDG_CACHE_HOME=$bin/cache "$@"
