#!/usr/bin/env bash
# The Linux guest check: runs the static Linux programs inside a Linux guest booted with QEMU,
# against QEMU's emulated CD-ROM drives (IDE, and SCSI behind USB) and the real kernel's SG_IO
# path, checks that a user without rights to the drives is told so, and compares QEMU's drives
# with our emulated drive.
#
# Usage: tests/system/linux_guest/run.sh [build folder]   (default build/linux_guest)
# The build folder is configured with CDIF_STATIC=ON if it is not yet.
#
# The guest (tests/system/guest): Debian's kernel, an initramfs of busybox-static, the three
# programs, the probe and part.sh, with the guest's CD-ROM drives: an IDE drive without a disc,
# then an IDE drive and a USB drive, each holding its own ISO 9660 image of random files. part.sh
# writes its report to the second serial port; this script asserts on it. A missing tool is a
# failure, never a skip.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build_dir=${1:-$source_dir/build/linux_guest}

check_name="linux guest"
# A failed check's log ends with the programs' commands, as they traced them in the guest.
on_finish() {
    [ "$failed" -gt 0 ] && [ -f "${guest_report:-}" ] || return 0
    echo "--- the programs' commands in the guest (CDIF_TRACE): case, program, trace line ---"
    sed -n 's/^trace //p' "$guest_report"
}
source "$here/../tally.sh"
source "$here/../guest/harness.sh"

# --- Build ----------------------------------------------------------------------------------
require_tools cmake readelf strip
if ! grep -qs '^CDIF_STATIC:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    cmake -S "$source_dir" -B "$build_dir" -DCDIF_STATIC=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null ||
        abort "cannot configure the static build in $build_dir"
fi
build_targets "$build_dir" "$build_dir/linux_guest_build.log" quorlan palvane tremick linux_guest_probe linux_guest_compare
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
# The users of the rights checks: one outside the cdrom group, one in it.
mkdir -p "$guest_root/etc"
printf 'root:x:0:0::/:/bin/sh\noutsider:x:1000:1000::/:/bin/sh\nmember:x:1001:1001::/:/bin/sh\n' \
    >"$guest_root/etc/passwd"
printf 'root:x:0:\ncdrom:x:24:member\noutsider:x:1000:\nmember:x:1001:\n' >"$guest_root/etc/group"
guest_boot 256M "${LINUX_GUEST_TIMEOUT:-150}"
report=$guest_report

# One field of the report: the rest of the first line that starts with the given words.
field() { guest_field "$@"; }
centiseconds() { printf '%d.%02ds' $((${1:-0} / 100)) $((${1:-0} % 100)); }
# The files a run left in its folder: "name size sha256" lines.
files_after() { sed -n "s/^file $1 //p" "$report"; }
# host_run <drive> <program>: the Linux build's run on this machine on the drive's image, in a
# folder of the drive's own; the expected listing and progress lines are those of that run.
host_run() {
    local dir=$guest_work/host/$1 image program
    image=$(realpath "$(guest_disc "$1")") && program=$(realpath "$build_dir/programs/$2") || abort "no $1 image or $2"
    mkdir -p "$dir"
    (cd "$dir" && CDIF_DRIVES=$image "$program" >"$2.out" 2>/dev/null)
}
host_file() { text_to_hex <"$guest_work/host/$1/$2"; }
check_toc() {  # check_toc <description> <listing in hex> <expected listing in hex>
    if [ "$2" = "$3" ]; then
        pass
    else
        shown() { hex_to_text "$1" | od -An -c | tr -s ' \n' ' '; }
        fail "$1: expected $(shown "$3"), got $(shown "$2")"
    fi
}

# check_disc_drive <name>: the programs' runs on that drive. quorlan writes the TOC listing;
# tremick's 01.iso is the image, byte for byte, with progress lines as the track is read (both as
# the Linux build writes them for the image); QEMU's drives have no audio track, so palvane writes
# no file and prints nothing.
check_disc_drive() {
    local name=$1 sectors sha
    sectors=$(guest_disc_sectors "$name")
    sha=$(sha256sum "$(guest_disc "$name")" | cut -d' ' -f1)
    echo "linux guest: $name drive: quorlan took $(centiseconds "$(field "took $name quorlan")")," \
        "tremick $(centiseconds "$(field "took $name tremick")"), palvane $(centiseconds "$(field "took $name palvane")")"
    check "$name: quorlan exit status" "$(field "exit $name quorlan")" 1
    check "$name: quorlan output" "$(field "stdout $name quorlan")$(field "stderr $name quorlan")" ""
    check "$name: files after quorlan" "$(files_after "$name quorlan" | cut -d' ' -f1 | tr '\n' ' ')" "TOC "
    host_run "$name" quorlan
    host_run "$name" tremick
    check_toc "$name: TOC listing" "$(field "toc $name")" "$(host_file "$name" TOC)"

    check "$name: tremick exit status" "$(field "exit $name tremick")" 1
    check "$name: tremick standard error" "$(hex_to_text "$(field "stderr $name tremick")")" ""
    check "$name: 01.iso (size and SHA-256)" "$(files_after "$name tremick" | grep '^01.iso ' | cut -d' ' -f2-)" \
        "$((sectors * 2048)) $sha"
    check "$name: files after tremick" "$(files_after "$name tremick" | cut -d' ' -f1 | tr '\n' ' ')" "01.iso TOC "
    check "$name: tremick progress lines" "$(field "stdout $name tremick")" "$(host_file "$name" tremick.out)"

    check "$name: palvane exit status" "$(field "exit $name palvane")" 1
    check "$name: palvane output" "$(field "stdout $name palvane")$(field "stderr $name palvane")" ""
    check "$name: files after palvane (unchanged)" "$(files_after "$name palvane")" "$(files_after "$name tremick")"
}

echo "linux guest: booted in $(centiseconds "$(field booted)")"
# Each drive: a drive without a disc is present and says so (and the first disc drive's run shows
# it passed over); the first drive with a disc is found among the machine's drives, later ones are
# named in CDIF_DRIVES. compared lists the drives for the comparison below.
compared=()
first_disc=
for index in "${!guest_drives[@]}"; do
    read -r name _ <<<"${guest_drives[index]}"
    check "$name: probe exit status" "$(field "exit probe $name")" 0
    compared+=("$name=${guest_images[index]}")
    if [ "${guest_images[index]}" = empty ]; then
        check "$name: drive without a disc (TEST UNIT READY)" \
            "$(field "reply $name empty_test_unit_ready" | sed 's/^\(status=[0-9a-f]* sense=[0-9a-f]*\/[0-9a-f]*\).*/\1/')" \
            "status=02 sense=02/3a"
    else
        check_disc_drive "$name"
        first_disc=${first_disc:-$name}
    fi
done

# The trace: a device node's line has the host and driver status of SG_IO and the time taken.
grep -Eq '^trace disc quorlan E: /dev/sr1 \| 43 00 00 00 00 00 00 04 00 00 \| in 1024, got [0-9]+ \| status 00 \| host 00 driver 00 \| [0-9]+\.[0-9]{3} ms$' \
    "$report" && pass || fail "no trace line of quorlan's READ TOC on /dev/sr1"

# --- Rights: the device nodes are root:cdrom, mode 0660 ---------------------------------------------
# Outside the group, each drive is named once on standard error though the library opens it again
# after each failed command; in the group, the listing is that of the first disc.
denied=$(for ((number = 0; number < ${#guest_drives[@]}; number++)); do
    printf '/dev/sr%d: permission denied; add your user to the "cdrom" group (then log in again)\n' "$number"
done)
check "outside the cdrom group: quorlan exit status" "$(field 'exit outsider quorlan')" 1
check "outside the cdrom group: quorlan standard error" "$(hex_to_text "$(field 'stderr outsider quorlan')")" \
    "$denied"
check "outside the cdrom group: files" "$(files_after 'outsider quorlan')" ""
check "in the cdrom group: quorlan exit status and output" \
    "$(field 'exit member quorlan') $(field 'stdout member quorlan')$(field 'stderr member quorlan')" "1 "
check_toc "in the cdrom group: TOC listing" "$(field 'toc member')" "$(host_file "$first_disc" TOC)"

# --- QEMU's drive against our emulated drive ------------------------------------------------------
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
done < <("$build_dir/tests/system/linux_guest/linux_guest_compare" "$report" "${compared[@]}"; echo "exit $?")

finish
