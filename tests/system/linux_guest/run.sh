#!/usr/bin/env bash
# The Linux guest check: runs the static Linux programs inside a Linux guest booted with QEMU,
# against QEMU's emulated IDE CD-ROM drives and the real kernel's SG_IO path, and compares QEMU's
# drive with our emulated drive.
#
# Usage: tests/system/linux_guest/run.sh [build folder]   (default build/linux_guest)
# The build folder is configured with CDIF_STATIC=ON if it is not yet.
#
# The guest (tests/system/guest): Debian's kernel, an initramfs of busybox-static, the three
# programs, the probe and part.sh, with the guest's two IDE CD-ROM drives: the first without a
# disc, the second holding an ISO 9660 image of random files. part.sh writes its report to the
# second serial port; this script asserts on it. A missing tool is a failure, never a skip.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build_dir=${1:-$source_dir/build/linux_guest}

check_name="linux guest"
source "$here/../tally.sh"
source "$here/../guest/harness.sh"

# --- Build ----------------------------------------------------------------------------------
for tool in cmake readelf strip; do
    command -v "$tool" >/dev/null || abort "$tool is missing (scripts/install-deps.sh installs it)"
done
if ! grep -qs '^CDIF_STATIC:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    cmake -S "$source_dir" -B "$build_dir" -DCDIF_STATIC=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null ||
        abort "cannot configure the static build in $build_dir"
fi
cmake --build "$build_dir" -j"$(nproc)" --target quorlan palvane tremick linux_guest_probe linux_guest_compare \
    >"$build_dir/linux_guest_build.log" 2>&1 ||
    { tail -n 30 "$build_dir/linux_guest_build.log"; abort "the build failed"; }
guest_programs=(programs/quorlan programs/palvane programs/tremick tests/system/linux_guest/linux_guest_probe)
for program in "${guest_programs[@]}"; do
    [ -x "$build_dir/$program" ] || abort "$build_dir/$program was not built"
    if LC_ALL=C readelf -l "$build_dir/$program" | grep -q 'program interpreter'; then
        abort "$build_dir/$program is not linked statically"
    fi
done

# --- Boot -------------------------------------------------------------------------------------
guest_prepare "$build_dir/linux_guest_run"
mkdir -p "$guest_root/programs"
cp "$here/part.sh" "$guest_root/part.sh"
for program in "${guest_programs[@]}"; do
    strip -o "$guest_root/programs/$(basename "$program")" "$build_dir/$program" || abort "cannot copy $program"
done
guest_boot 256M "${LINUX_GUEST_TIMEOUT:-150}"
image=$(guest_disc disc)
image_sectors=$(guest_disc_sectors disc)
image_bytes=$((image_sectors * 2048))
image_sha=$(sha256sum "$image" | cut -d' ' -f1)
report=$guest_report

# One field of the report: the rest of the first line that starts with the given words.
field() { guest_field "$@"; }
centiseconds() { printf '%d.%02ds' $((${1:-0} / 100)) $((${1:-0} % 100)); }
echo "linux guest: booted in $(centiseconds "$(field booted)"); quorlan took $(centiseconds "$(field 'took quorlan')"),"\
    "tremick $(centiseconds "$(field 'took tremick')"), palvane $(centiseconds "$(field 'took palvane')")"
# The files a step left in the run folder: "name size sha256" lines.
files_after() { sed -n "s/^file $1 //p" "$report"; }

check "files in the run folder before the programs" "$(files_after before)" ""

# --- quorlan: exit status 1, a TOC listing of the disc in the second drive -------------------------
check "quorlan exit status" "$(field 'exit quorlan')" 1
check "quorlan standard output" "$(field 'stdout quorlan')" ""
check "quorlan standard error" "$(hex_to_text "$(field 'stderr quorlan')")" ""
check "files after quorlan" "$(files_after quorlan | cut -d' ' -f1 | tr '\n' ' ')" "TOC "
toc=$(field toc)
lead_out=$((image_sectors + 150))
expected_toc=$(printf 'Track 01 Data 00:02:00 LBA=000000\r\nTrack 02 Data %02d:%02d:%02d LBA=%06d\r\n' \
    $((lead_out / 4500)) $((lead_out % 4500 / 75)) $((lead_out % 75)) "$image_sectors" | text_to_hex)
if [ "$toc" = "$expected_toc" ]; then
    pass
else
    shown() { hex_to_text "$1" | od -An -c | tr -s ' \n' ' '; }
    fail "TOC listing: expected $(shown "$expected_toc"), got $(shown "$toc")"
fi
# The same listing, taken apart, so that a failure says which property is broken.
lines=$(hex_to_text "$toc" | grep -c '')
crlf_lines=$(hex_to_text "$toc" | grep -c $'\r$')
check "TOC lines ending in CR LF" "$crlf_lines of $lines" "2 of 2"
check "TOC track 1" "$(hex_to_text "$toc" | sed -n 1p | tr -d '\r')" "Track 01 Data 00:02:00 LBA=000000"
check "TOC lead-out LBA (the image's sector count)" \
    "$(hex_to_text "$toc" | sed -n 2p | tr -d '\r' | sed 's/.*LBA=//')" "$(printf %06d "$image_sectors")"

# --- tremick: 01.iso is the image, byte for byte; progress lines as the track is read -------------
check "tremick exit status" "$(field 'exit tremick')" 1
check "tremick standard error" "$(hex_to_text "$(field 'stderr tremick')")" ""
check "01.iso (size and SHA-256)" "$(files_after tremick | grep '^01.iso ' | cut -d' ' -f2-)" \
    "$image_bytes $image_sha"
check "files after tremick" "$(files_after tremick | cut -d' ' -f1 | tr '\n' ' ')" "01.iso TOC "
expected_progress=$(printf 'Reading Track 01 ( remainder %d ).\n' $((image_sectors / 100 + 1)) | text_to_hex)$(
    remaining=$image_sectors
    while [ "$remaining" -gt 0 ]; do
        remaining=$((remaining > 32 ? remaining - 32 : 0))
        printf 'Reading Track 01 ( remainder %d ).\n' $((remaining / 100))
    done | text_to_hex)
check "tremick progress lines" "$(field 'stdout tremick')" "$expected_progress"

# --- palvane: no audio track on QEMU's drive, so no file and no output --------------------------
check "palvane exit status" "$(field 'exit palvane')" 1
check "palvane standard output" "$(hex_to_text "$(field 'stdout palvane')")" ""
check "palvane standard error" "$(hex_to_text "$(field 'stderr palvane')")" ""
check "files after palvane (unchanged)" "$(files_after palvane)" "$(files_after tremick)"

# --- The empty first drive: present, without a disc, and passed over ------------------------------
check "first drive without a disc (TEST UNIT READY)" \
    "$(sed -n 's/^reply empty_test_unit_ready \(status=[0-9a-f]* sense=[0-9a-f]*\/[0-9a-f]*\).*/\1/p' "$report")" \
    "status=02 sense=02/3a"

# --- QEMU's drive against our emulated drive ------------------------------------------------------
check "probe exit status" "$(field 'exit probe')" 0
comparer_failures=0
while read -r verdict rest; do
    case $verdict in
        pass) pass ;;
        fail)
            comparer_failures=$((comparer_failures + 1))
            fail "drive comparison, $rest"
            ;;
        note) echo "note: $rest" ;;
        exit)
            [ "$rest" = 0 ] || [ "$comparer_failures" -gt 0 ] ||
                fail "drive comparison: the comparer ended with status $rest"
            ;;
        *) fail "drive comparison: unexpected line '$verdict $rest'" ;;
    esac
done < <("$build_dir/tests/system/linux_guest/linux_guest_compare" "$image" "$report"; echo "exit $?")

finish
