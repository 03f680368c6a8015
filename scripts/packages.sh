#!/usr/bin/env bash
# Makes the Debian package (in a Release build of its own) and the Windows zip (from the Windows
# build the Wine check ran), and checks both as a user meets them:
# - the package's control fields and file list, with no error or warning from lintian; unpacked
#   into a temporary root, never installed, its programs write on the sample disc exactly what the
#   Linux build's programs write, and its manual pages pass mandoc's lint and show with man;
# - the zip holds exactly the three programs, byte for byte those the Wine check ran, a README.txt
#   and the licence as LICENSE.txt, both with CR LF line ends.
#
# Usage: scripts/packages.sh [package build] [Linux build] [Windows build]
#        (defaults build/package, build/test and build/windows; the last two must be built)
set -uo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
package_build=$(realpath -m "${1:-$source_dir/build/package}")
linux_build=$(realpath -m "${2:-$source_dir/build/test}")
windows_build=$(realpath -m "${3:-$source_dir/build/windows}")
programs=(quorlan palvane tremick)
work=$(mktemp -d "${TMPDIR:-/tmp}/cdif-packages.XXXXXX")
on_finish() { rm -rf "$work"; }
check_name=packages
source "$source_dir/tests/system/tally.sh"

require_tools cmake cpack dpkg-deb dpkg-shlibdeps lintian mandoc man cmp
sample=$linux_build/sample/sample.cue
[ -f "$sample" ] || abort "no sample disc $sample"
[ -f "$windows_build/CPackConfig.cmake" ] || abort "no Windows build in $windows_build"
# The executables as the Wine check left them, before CPack could touch the build.
mkdir -p "$work/ran"
for program in "${programs[@]}"; do cp "$windows_build/programs/$program.exe" "$work/ran/" || abort "no $program.exe"; done

# --- The Debian package -----------------------------------------------------------------------
mkdir -p "$package_build"
{ cmake -S "$source_dir" -B "$package_build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DCDIF_WERROR=ON -DCDIF_FLAC=ON &&
    cmake --build "$package_build" -j"${JOBS:-$(nproc)}" && (cd "$package_build" && cpack); } \
    >"$package_build.log" 2>&1 || abort "the Debian package does not build (see $package_build.log)"
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$package_build/CPackConfig.cmake")
deb=$package_build/cdif-tools_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || abort "no package $deb"
echo "packages check: $(basename "$deb"), $(stat -c %s "$deb") bytes"

field() { dpkg-deb -f "$deb" "$1"; }
check "Package" "$(field Package)" cdif-tools
check "Version" "$(field Version)" "$version"
check "Architecture" "$(field Architecture)" "$(dpkg --print-architecture)"
# Dependencies computed from the binaries (libFLAC's among them), a maintainer with an address, a
# section, and a description that tells that images stand in for drives.
[[ $(field Depends) == *"libc6 (>= "*"libflac"*"libstdc++6 (>= "* ]] && pass || fail "Depends: '$(field Depends)'"
[[ $(field Maintainer) == ?*" <"*@*">" ]] && pass || fail "Maintainer: '$(field Maintainer)'"
[ -n "$(field Section)" ] && pass || fail "no Section"
grep -q 'images.*stand in for drives' <<<"$(field Description | tr '\n' ' ')" && pass ||
    fail "the description does not say that disc images stand in for drives"

expected="-rw-r--r-- root/root ./usr/share/doc/cdif-tools/changelog.gz"$'\n'
expected+="-rw-r--r-- root/root ./usr/share/doc/cdif-tools/copyright"$'\n'
for program in "${programs[@]}"; do
    expected+="-rwxr-xr-x root/root ./usr/bin/$program"$'\n'
    expected+="-rw-r--r-- root/root ./usr/share/man/man1/$program.1.gz"$'\n'
done
check "files (dpkg-deb -c)" "$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $1, $2, $6 }' | sort)" \
    "$(sort <<<"${expected%$'\n'}")"

# Debian's own checker finds no error and no warning (its informational tags are not counted).
check "lintian" "$(lintian --fail-on none "$deb" 2>/dev/null | grep -E '^[EW]: ')" ""

root=$work/root
dpkg-deb -x "$deb" "$root" || abort "dpkg-deb -x fails"
# Each program runs from the unpacked package and from the Linux build, in fresh folders; its
# standard output, standard error and exit status go to dot files there, so that the folders
# compare as wholes.
run() {  # run <folder> <program>
    mkdir -p "$1"
    (cd "$1" && CDIF_DRIVES=$sample timeout 120 "$2" >.out 2>.err; echo $? >.status)
}
for program in "${programs[@]}"; do
    run "$work/package/$program" "$root/usr/bin/$program"
    run "$work/build/$program" "$linux_build/programs/$program"
    written=$(ls "$work/package/$program")
    if [ -z "$written" ]; then
        fail "the packaged $program writes nothing (see $work/package/$program/.err)"
    elif ! diff -r "$work/package/$program" "$work/build/$program" >/dev/null; then
        fail "the packaged $program writes other files or lines than the Linux build's"
    else
        pass
    fi
done

for program in "${programs[@]}"; do
    page=$root/usr/share/man/man1/$program.1.gz
    check "mandoc -Tlint $program.1" "$(gzip -dc "$page" | mandoc -Tlint 2>&1)" ""
    man -l "$page" 2>/dev/null | grep -A1 -x NAME | grep -q "^ *$program " && pass || fail "man -l does not show $program.1"
done

# --- The Windows zip --------------------------------------------------------------------------
(cd "$windows_build" && cpack) >"$windows_build.package.log" 2>&1 ||
    abort "the Windows zip does not build (see $windows_build.package.log)"
top=cdif-tools-$version-win32
zip=$windows_build/$top.zip
check "zip contents" "$(cmake -E tar tf "$zip" | sort | tr '\n' ' ')" \
    "$top/LICENSE.txt $top/README.txt $top/palvane.exe $top/quorlan.exe $top/tremick.exe "
(mkdir -p "$work/zip" && cd "$work/zip" && cmake -E tar xf "$zip") || abort "cannot unpack $zip"
for program in "${programs[@]}"; do
    cmp -s "$work/zip/$top/$program.exe" "$work/ran/$program.exe" && pass ||
        fail "$program.exe in the zip is not the one the Wine check ran"
done
for text in README.txt LICENSE.txt; do
    lines=$(wc -l <"$work/zip/$top/$text")
    check "$text lines ending in CR LF" "$(grep -c $'\r$' "$work/zip/$top/$text") of $lines" "$lines of $lines"
done
check "LICENSE.txt, as LICENSE" "$(tr -d '\r' <"$work/zip/$top/LICENSE.txt")" "$(cat "$source_dir/LICENSE")"
finish
