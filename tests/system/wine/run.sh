#!/usr/bin/env bash
# The Windows check: cross-compiles the three programs for 32-bit Windows, checks their headers,
# and runs them under Wine on both transports (cases.sh says what each case proves).
#
# Usage: tests/system/wine/run.sh [Windows build folder] [Linux build folder]
#        (defaults build/windows and build/test; the Linux programs are built there if missing)
#
# Wine comes from a private 32-bit root (root.sh), entered with chroot. Its loader is a 32-bit
# program, and some kernels cannot execute 32-bit code: starting the loader is the probe. Where it
# starts, the Windows 9x cases run on this machine; where it does not (or chroot needs rights this
# user lacks), or when WINE_IN_GUEST is set, they run inside the Linux guest (tests/system/guest),
# whose kernel runs under QEMU's software emulation, with the host's root as its own. The NT
# family's pass-through to real drives always runs there, against the guest's CD-ROM drives.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build_dir=$(realpath -m "${1:-$source_dir/build/windows}")
linux_build=$(realpath -m "${2:-$source_dir/build/test}")
work=$build_dir/wine_check
check_name=wine
source "$here/../tally.sh"
source "$here/../guest/harness.sh"

require_tools cmake chroot unshare i686-w64-mingw32-objdump truncate
wine_root=$("$here/root.sh") || abort "cannot assemble Wine's root (see the lines above)"
configure() {  # configure <source> <folder> <cmake options...>, unless it is configured
    [ -f "$2/CMakeCache.txt" ] || cmake -S "$1" -B "$2" "${@:3}" >"$2.log" 2>&1 ||
        abort "$2 does not configure (see $2.log)"
}
toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release -DCDIF_WERROR=ON)
configure "$source_dir" "$build_dir" "${toolchain[@]}"
configure "$here/aspi" "$build_dir/test_aspi" "${toolchain[@]}"
configure "$source_dir" "$linux_build" -DCMAKE_BUILD_TYPE=Debug -DCDIF_WERROR=ON
build_targets "$build_dir" "$build_dir.log" all
build_targets "$build_dir/test_aspi" "$build_dir/test_aspi.log" all
build_targets "$linux_build" "$linux_build.log" quorlan palvane tremick sample_discs

# The executables: 32-bit console programs that import only from KERNEL32.DLL and MSVCRT.DLL, and
# only functions that Windows 95's KERNEL32.DLL and the MSVCRT.DLL of Windows 98 export (else
# those systems refuse to load them; win9x_exports/ says where the lists come from).
for program in quorlan palvane tremick; do
    headers=$(i686-w64-mingw32-objdump -p "$build_dir/programs/$program.exe" 2>/dev/null)
    summary=$(grep -o -e 'file format pei-i386' -e '(Windows CUI)' <<<"$headers"
        sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')
    check "$program.exe: a 32-bit console program, its DLLs" "$(echo $summary)" \
        "file format pei-i386 (Windows CUI) kernel32.dll msvcrt.dll"
    imports=$(awk '/DLL Name:/ { dll = tolower($3) } /^\t[0-9a-f]+\t +[0-9]+ +[^ ]+$/ { print dll, $3 }' \
        <<<"$headers")
    check "$program.exe: imports that Windows 95/98 lack" "$(while read -r dll name; do
        grep -qxF "$name" "$here/win9x_exports/${dll%.dll}.txt" 2>/dev/null || echo "$dll:$name"
    done <<<"${imports:-none: nothing}")" ""
done

rm -rf "$work"
mkdir -p "$work"
guest_groups="aspi drives"
if [ -n "${WINE_IN_GUEST:-}" ]; then
    echo "wine check: every case runs inside the Linux guest, with Wine from $wine_root (WINE_IN_GUEST is set)"
elif ! "$here/in_root.sh" "$wine_root" "$work" wine --version >"$work/loader.log" 2>&1; then
    echo "wine check: this machine cannot start Wine's loader from $wine_root ($(tail -n 1 "$work/loader.log"));" \
        "every case runs inside the Linux guest"
else
    echo "wine check: the Windows 9x cases run on this machine through $wine_root, the NT drive cases" \
        "inside the Linux guest"
    adopt "the cases on this machine" < <("$here/in_root.sh" "$wine_root" "$work/here" \
        "$here/cases.sh" "$build_dir" "$linux_build" "$work/here" aspi 2>&1)
    guest_groups=drives
fi

# Inside the guest, cases.sh runs in the host's root (read-only; it works on the guest's own
# /tmp) and Wine in its private root there; the guest's drives are the only real ones Wine sees. Its
# logs go to the shared folder.
guest_prepare "$work/guest" host
cp "$here/part.sh" "$guest_root/part.sh"
printf '%q ' env GUEST_DRIVES="${guest_images[*]}" WINE_CASES_WHERE="inside the guest" \
    WINE_RUN_TIMEOUT="${WINE_RUN_TIMEOUT:-600}" WINE_PREFIX_TIMEOUT=900 \
    "$here/in_root.sh" "$wine_root" /tmp/wine_check \
    "$here/cases.sh" "$build_dir" "$linux_build" /tmp/wine_check $guest_groups >"$guest_root/command"
guest_boot 3G "${WINE_GUEST_TIMEOUT:-1500}"
adopt "the cases inside the guest" < <(sed -n 's/^wine //p' "$guest_report")
finish
