#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and the machine lacks.
# Safe to run again: it installs nothing when everything is there.
set -euo pipefail

packages=(
  cmake g++ make libgtest-dev libgmock-dev            # build and unit tests
  libcdio-utils bchunk xorriso                         # independent references for the image tests
  qemu-system-x86 linux-image-amd64 busybox-static cpio kmod  # the Linux guest check
  g++-mingw-w64-i686 wine wine32:i386                  # the Windows build and its check under Wine
)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  need_update=1
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
