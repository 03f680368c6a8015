#!/usr/bin/env bash
# Installs, with apt-get, whatever the build (and, with "all", every test) needs and the machine
# lacks. Safe to run again: it installs nothing when everything is there. It never changes the
# machine's architectures: the Windows check takes Wine from a private root of its own
# (tests/system/wine/root.sh).
#   scripts/install-deps.sh        the build and the sample discs
#   scripts/install-deps.sh all    also the unit tests, the references and the whole-system checks
set -euo pipefail
source "$(dirname "$0")/apt_retry.sh"

packages=(cmake g++ make xorriso pkgconf libflac-dev)   # libFLAC decodes the FLAC files of cue sheets
if [ "${1:-}" = all ]; then
  packages+=(
    flac                                                 # encodes the FLAC files of the tests and the benchmark
    libgtest-dev libgmock-dev libbenchmark-dev           # unit tests and benchmarks
    clang libclang-rt-dev                                # the second compiler, its sanitizers and libFuzzer
    libcdio-utils bchunk                                 # independent references for the image tests
    qemu-system-x86 linux-image-amd64 busybox-static cpio kmod xz-utils  # the Linux guest check
    g++-mingw-w64-i686                                   # the Windows build (Wine comes from its own root)
    dpkg-dev mandoc man-db lintian                       # the Debian package and its check
  )
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
apt_update
apt_install "${missing[*]}" install -y -qq --no-install-recommends "${missing[@]}"
