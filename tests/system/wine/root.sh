#!/usr/bin/env bash
# Prints the folder of a private 32-bit root holding Wine, assembling it first if need be: the
# packages wine32 and dash (for wineserver's /bin/sh wrapper) and what they depend on, resolved
# from the distribution's main i386 index alone and unpacked with dpkg-deb. This machine's package
# state is never touched: apt works on state and cache folders of its own, with an empty dpkg
# status, and nothing is installed or configured (no maintainer scripts run). So the check does not
# depend on this machine's architectures, nor on its amd64 library versions having i386 twins in an
# index that may be out of step.
#
# The root is kept under /var/cache/cdif-tools (as root; else the user's cache folder), keyed by
# what it was built from (the archive, the packages and this script), so that a second run neither
# downloads nor unpacks; a root of another key is removed. Progress goes to standard error.
#
# Usage: tests/system/wine/root.sh
set -euo pipefail
source "$(dirname "$0")/../../../scripts/apt_retry.sh"

packages=(wine32 dash)
if [ "$(id -u)" = 0 ]; then cache=/var/cache/cdif-tools; else cache=${XDG_CACHE_HOME:-$HOME/.cache}/cdif-tools; fi
suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
# The mirror apt already uses for the distribution's main component.
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Created-By: Packages' |
    awk -v suite="$suite" '$2 == suite && $3 == "main" { print $1; exit }')
[ -n "$suite" ] && [ -n "$mirror" ] || { echo "wine root: no main archive of '$suite' among apt's sources" >&2; exit 1; }
source_line="deb [arch=i386] $mirror $suite main"
key=$({ echo "$source_line ${packages[*]}"; cat "$0"; } | sha256sum | cut -c1-16)
root=$cache/wine-root-$key
if [ -d "$root" ]; then
    echo "wine root: $root, kept from an earlier run" >&2
    echo "$root"
    exit 0
fi

started=$SECONDS
mkdir -p "$cache"
work=$(mktemp -d "$cache/build.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work"/{state/lists/partial,cache/archives/partial,etc/sources.list.d,etc/preferences.d,root}
: >"$work/state/status"
echo "$source_line" >"$work/etc/sources.list"
apt=(-o Dir::State="$work/state" -o Dir::State::status="$work/state/status" -o Dir::Cache="$work/cache"
    -o Dir::Etc::SourceList="$work/etc/sources.list" -o Dir::Etc::SourceParts="$work/etc/sources.list.d"
    -o Dir::Etc::Preferences="$work/etc/preferences" -o Dir::Etc::PreferencesParts="$work/etc/preferences.d"
    -o APT::Architecture=i386 -o APT::Architectures::=i386 -o APT::Install-Recommends=false
    -o Debug::NoLocking=true)
apt_update "${apt[@]}"
apt_install "Wine's root (${packages[*]}, i386, from $mirror $suite main)" \
    "${apt[@]}" install -y -qq --download-only "${packages[@]}" || exit 1
debs=("$work"/cache/archives/*.deb)
for deb in "${debs[@]}"; do
    dpkg-deb -x "$deb" "$work/root" || { echo "wine root: cannot unpack $deb" >&2; exit 1; }
done
# The one step of the packages' configuration that Wine needs: it loads zlib1.dll (which
# user32.dll imports) only from its own folder and only as a builtin DLL, which it knows by a
# signature in the 32 bytes after the DOS header.
zlib=$work/root/usr/i686-w64-mingw32/lib/zlib1.dll
{ head -c 64 "$zlib" && printf 'Wine builtin DLL' && head -c 16 /dev/zero && tail -c +97 "$zlib"; } \
    >"$work/root/usr/lib/i386-linux-gnu/wine/i386-windows/zlib1.dll" ||
    { echo "wine root: cannot make zlib1.dll a builtin DLL" >&2; exit 1; }
# Mount points for the system the root is entered from, and the one user Wine runs as.
mkdir -p "$work"/root/{proc,sys,dev,tmp,root,run}
printf 'root:x:0:0:root:/root:/bin/sh\n' >"$work/root/etc/passwd"
printf 'root:x:0:\n' >"$work/root/etc/group"
[ -x "$work/root/usr/lib/wine/wine" ] && [ -x "$work/root/bin/sh" ] ||
    { echo "wine root: the packages hold no /usr/lib/wine/wine or /bin/sh" >&2; exit 1; }
rm -rf "$cache"/wine-root-*
mv "$work/root" "$root"
echo "wine root: $root, built from ${#debs[@]} packages ($(du -sm "$root" | cut -f1) MB) in $((SECONDS - started)) s" >&2
echo "$root"
