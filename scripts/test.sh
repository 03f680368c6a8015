#!/usr/bin/env bash
# Builds and runs every test: the unit and program tests, the whole-system checks (the Linux build
# in a QEMU guest, the Windows build under Wine: here where this machine can run Wine, and always
# against the guest's drives), the Debian package and the Windows zip, then the unit and program
# tests again under AddressSanitizer and UndefinedBehaviorSanitizer, built with clang so that both
# compilers see the code. Stops at the first failure. WINE_IN_GUEST=1 runs all of Wine in the guest.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

jobs=$(nproc)
# CDIF_FLAC=ON: the tests' FLAC cases run, so the build must have libFLAC.
cmake -S . -B build/test -DCMAKE_BUILD_TYPE=Debug -DCDIF_WERROR=ON -DCDIF_FLAC=ON >/dev/null
cmake --build build/test -j"$jobs"
ctest --test-dir build/test --output-on-failure -j"$jobs"

tests/system/linux_guest/run.sh build/linux_guest
tests/system/wine/run.sh build/windows build/test
# After the Wine check: the zip packs the executables that check ran.
scripts/packages.sh build/package build/test build/windows

cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DCDIF_SANITIZE=ON -DCDIF_WERROR=ON -DCDIF_FLAC=ON -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/sanitize -j"$jobs"
ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
