#!/usr/bin/env bash
# The Windows check: cross-compiles the three programs for 32-bit Windows, checks their headers,
# and runs them under Wine on both transports (cases.sh says what each case proves).
#
# Usage: tests/system/wine/run.sh [Windows build folder] [Linux build folder]
#        (defaults build/windows and build/test; the Linux programs are built there if missing)
#
# Wine's loader is a 32-bit program, and some kernels cannot execute 32-bit code: starting the
# loader is the probe. Where it starts, the Windows 9x and NT cases run on this machine; where it
# does not, or when WINE_IN_GUEST is set, they run inside the Linux guest (tests/system/guest),
# whose kernel runs under QEMU's software emulation, with the host's root as its own. The NT
# family's pass-through to real drives always runs there, against the guest's CD-ROM drives.
#
# A missing tool is a failure, never a skip.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build_dir=$(realpath -m "${1:-$source_dir/build/windows}")
linux_build=$(realpath -m "${2:-$source_dir/build/test}")
jobs=${JOBS:-$(nproc)}
work=$build_dir/wine_check
programs=(quorlan palvane tremick)

check_name=wine
source "$here/../tally.sh"
source "$here/../guest/harness.sh"

# --- What the check needs on this machine ---------------------------------------------------
require_tools cmake wine wineserver i686-w64-mingw32-objdump cmp truncate
command -v i686-w64-mingw32-g++-win32 >/dev/null || command -v i686-w64-mingw32-g++ >/dev/null ||
    abort "i686-w64-mingw32-g++ is missing (scripts/install-deps.sh installs g++-mingw-w64-i686)"

# --- Builds -----------------------------------------------------------------------------------
build() {  # build <source> <folder> <what> [cmake options...]
    local source=$1 folder=$2 what=$3
    shift 3
    if ! { cmake -S "$source" -B "$folder" "$@" && cmake --build "$folder" -j"$jobs"; } \
        >"$folder.log" 2>&1; then
        abort "$what does not build (see $folder.log)"
    fi
}
mkdir -p "$build_dir"
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release)
build "$source_dir" "$build_dir" "the Windows programs" "${toolchain[@]}"
build "$here/aspi" "$build_dir/test_aspi" "the test ASPI layer" "${toolchain[@]}"
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
    cmake -S "$source_dir" -B "$linux_build" -DCMAKE_BUILD_TYPE=Debug >"$linux_build.log" 2>&1 ||
        abort "the Linux build does not configure (see $linux_build.log)"
fi
build_targets "$linux_build" "$linux_build.log" "${programs[@]}" sample_discs

# The executables: 32-bit console programs that need no DLL beyond the system's.
for program in "${programs[@]}"; do
    exe=$build_dir/programs/$program.exe
    headers=$(i686-w64-mingw32-objdump -p "$exe" 2>/dev/null)
    dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
    if ! grep -q 'file format pei-i386' <<<"$headers"; then
        fail "$program.exe: not a 32-bit Windows executable"
    elif ! grep -q 'Subsystem.*(Windows CUI)' <<<"$headers"; then
        fail "$program.exe: not a console program"
    elif [ "$dlls" != "kernel32.dll msvcrt.dll " ]; then
        fail "$program.exe: imports $dlls(expected only kernel32.dll and msvcrt.dll)"
    else
        pass
    fi
done
# Windows 95 and 98 load a program only if each function it imports exists: in Windows 95's
# KERNEL32.DLL and in the MSVCRT.DLL that Windows 98 ships (win9x_exports/ says where the lists
# come from).
for program in "${programs[@]}"; do
    imports=$(i686-w64-mingw32-objdump -p "$build_dir/programs/$program.exe" |
        awk '/DLL Name:/ { dll = tolower($3) } /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $3 }')
    missing=$(while read -r dll name; do
        grep -qxF "$name" "$here/win9x_exports/${dll%.dll}.txt" 2>/dev/null || printf '%s ' "$dll:$name"
    done <<<"${imports:-none: nothing}")
    check "$program.exe: imports that Windows 95/98 lack" "$missing" ""
done
exports() { i686-w64-mingw32-objdump -p "$1" | sed -n 's/^\s*\[ *[0-9]*\] \([A-Za-z]\)/\1/p' | sort | tr '\n' ' '; }
aspi=$build_dir/test_aspi
for variant in complete:"GetASPI32SupportInfo SendASPI32Command " no_support_info:"SendASPI32Command " \
               no_send_command:"GetASPI32SupportInfo "; do
    name=${variant%%:*}
    actual=$(exports "$aspi/$name/WNASPI32.dll")
    [ "$actual" = "${variant#*:}" ] && pass || fail "test ASPI layer $name: exports '$actual'"
done


# --- Where Wine runs ----------------------------------------------------------------------------
# A server left by an interrupted run would outlive its prefix.
[ -d "$work/prefix" ] && WINEPREFIX=$work/prefix wineserver -k 2>/dev/null
rm -rf "$work"
mkdir -p "$work"
guest_groups=drives
if [ -n "${WINE_IN_GUEST:-}" ]; then
    echo "wine check: every case runs inside the Linux guest (WINE_IN_GUEST is set)"
    guest_groups="aspi nt drives"
elif ! wine --version >"$work/loader.log" 2>&1; then
    echo "wine check: this machine cannot start Wine's loader ($(tail -n 1 "$work/loader.log"));" \
        "every case runs inside the Linux guest"
    guest_groups="aspi nt drives"
else
    echo "wine check: the Windows 9x and NT cases run on this machine, the drive cases inside the Linux guest"
    adopt "the cases on this machine" < <("$here/cases.sh" "$build_dir" "$linux_build" "$work/here" aspi nt 2>&1)
fi

# --- Inside the Linux guest ---------------------------------------------------------------------
# Wine runs in the host's root (read-only; cases.sh works on the guest's own /tmp), and the guest's
# drives are the only real ones it sees. The guest's part copies the logs to the shared folder.
guest_prepare "$work/guest" host
cp "$here/part.sh" "$guest_root/part.sh"
printf '%q ' env GUEST_DRIVES="${guest_images[*]}" WINE_CASES_WHERE="inside the guest" WINE_RUN_TIMEOUT="${WINE_RUN_TIMEOUT:-600}" \
    WINE_PREFIX_TIMEOUT=900 "$here/cases.sh" "$build_dir" "$linux_build" /tmp/wine_check $guest_groups \
    >"$guest_root/command"
guest_boot 2G "${WINE_GUEST_TIMEOUT:-1500}"
adopt "the cases inside the guest" < <(sed -n 's/^wine //p' "$guest_report")
finish
