#!/usr/bin/env bash
# The Linux guest check: runs the static Linux programs inside a Linux guest booted with QEMU,
# against QEMU's emulated CD-ROM drives (IDE, and SCSI behind USB) and the real kernel's SG_IO
# path, checks that a user without rights to the drives is told so, and compares QEMU's drives
# with our emulated drive.
#
# Usage: tests/system/linux_guest/run.sh [build folder]   (default build/linux_guest)
# The build folder is configured with CDIF_STATIC=ON if it is not yet.
#
# The guest (tests/system/guest) has an IDE drive without a disc, then an IDE drive and a USB
# drive, each holding its own ISO 9660 image of random files; part.sh runs the programs and
# drive_reply there and reports, this script checks the report. At the end the guest asks for
# faults, which this script gives to QEMU's monitor while tremick reads: a longer disc put in,
# then ejected, changed for another or unplugged mid-track.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build_dir=${1:-$source_dir/build/linux_guest}

check_name="linux guest"
# A failed check's log ends with the programs' commands, as they traced them in the guest.
on_finish() {
    [ "$failed" -eq 0 ] || sed -n 's/^trace //p' "${guest_report:-/dev/null}"
}
source "$here/../tally.sh"
source "$here/../guest/harness.sh"

require_tools cmake strip
if ! grep -qs '^CDIF_STATIC:BOOL=ON' "$build_dir/CMakeCache.txt"; then
    cmake -S "$source_dir" -B "$build_dir" -DCDIF_STATIC=ON -DCMAKE_BUILD_TYPE=Debug -DCDIF_WERROR=ON >/dev/null ||
        abort "cannot configure the static build in $build_dir"
fi
build_targets "$build_dir" "$build_dir/linux_guest_build.log" quorlan palvane tremick drive_reply
guest_prepare "$build_dir/linux_guest_run"
mkdir -p "$guest_root/programs" "$guest_root/discs" "$guest_root/etc"
for program in programs/{quorlan,palvane,tremick} tests/system/linux_guest/drive_reply; do
    strip -o "$guest_root/programs/${program##*/}" "$build_dir/$program" || abort "cannot copy $program"
done
cp "$here/part.sh" "$guest_root/part.sh"
for image in "${guest_images[@]}"; do [ "$image" = empty ] || cp "$image" "$guest_root/discs/"; done
# The users of the rights checks: one outside the cdrom group, one in it.
printf 'root:x:0:0::/:/bin/sh\noutsider:x:1000:1000::/:/bin/sh\nmember:x:1001:1001::/:/bin/sh\n' \
    >"$guest_root/etc/passwd"
printf 'root:x:0:\ncdrom:x:24:member\noutsider:x:1000:\nmember:x:1001:\n' >"$guest_root/etc/group"
# The commands sent to QEMU's drives and to the emulated drive: name, drive (disc or empty),
# allocation length, CDB. READ TOC: byte 1 bit 1 asks for MSF, byte 2 is the format, byte 6 the
# starting track or session, bytes 7-8 the allocation length; the library sends toc0_lba, the
# extraction programs toc2_msf (the format also in bits 6-7 of byte 9, where QEMU's IDE drive
# looks for it).
cat >"$guest_root/probes" <<EOF
inquiry disc 96 12 00 00 00 60 00
toc0_lba disc 1024 43 00 00 00 00 00 00 04 00 00
toc0_clipped disc 12 43 00 00 00 00 00 00 00 0c 00
toc2_msf disc 1024 43 02 02 00 00 00 01 04 00 80
read10_past_leadout disc 2048 28 00 00 06 1a 80 00 00 01 00
test_unit_ready empty 0 00 00 00 00 00 00
toc0_lba empty 1024 43 00 00 00 00 00 00 04 00 00
EOF
# The faults' discs: two of the same layout, long enough to be stopped at 40%.
guest_make_disc long 6000001,4097
guest_make_disc other 6000001,4097
discs=$(cd "$guest_work/discs" && pwd)  # as QEMU's monitor takes them, from wherever
long=$discs/long.iso
printf 'long=%s\nother=%s\nmidway_bytes=%s\n' "$long" "$discs/other.iso" \
    $(($(stat -c %s "$long") / 2048 * 2 / 5 * 2048)) >"$guest_root/faults"

# Gives QEMU's monitor each command of the report's "monitor" lines, as the guest writes them.
relay_monitor() {
    local line
    while IFS= read -r line && [ "${line%$'\r'}" != "end guest report" ]; do
        line=${line%$'\r'}
        [[ $line != "monitor "* ]] || printf '%s\n' "${line#monitor }" >"$guest_work/monitor.in"
    done < <(exec timeout "$1" tail -n +1 -F "$guest_work/report.txt" 2>/dev/null)
    kill "$!" 2>/dev/null
}
timeout=${LINUX_GUEST_TIMEOUT:-300}
relay_monitor "$timeout" &
relay=$!
guest_boot 256M "$timeout"
wait "$relay"

# --- The programs on each drive with a disc do as on its image; 01.iso is the disc -------------
run_of() { guest_field "run $1"; }
for image in "${guest_images[@]}"; do
    [ "$image" != empty ] || continue
    name=$(basename "$image" .iso)
    for program in quorlan tremick palvane; do
        check "$name: $program as on the image" "$(run_of "$name $program")" "$(run_of "$name-image $program")"
    done
    [[ $(run_of "$name tremick") == *"01.iso $(stat -c %s "$image") $(sha256sum <"$image" | cut -c1-64) "* ]] &&
        pass || fail "$name: 01.iso is not the disc"
done
# A device node's trace line has the host and driver status of SG_IO and the time taken.
grep -Eq '^trace disc quorlan E: /dev/sr1 \| 43 00 00 00 00 00 00 04 00 00 \| in 1024, got [0-9]+ \| status 00 \| host 00 driver 00 \| [0-9]+\.[0-9]{3} ms$' \
    "$guest_report" && pass || fail "no trace line of quorlan's READ TOC on /dev/sr1"

# --- Rights: outside the cdrom group each drive is named once, though the library opens it again
# after each failed command; in the group, the listing is that of the first disc --------------------
hex() { od -An -v -tx1 | tr -d ' \n'; }
# Then the line naming each drive tried.
denied=$(for index in "${!guest_drives[@]}"; do
    echo "/dev/sr$index: permission denied; add your user to the \"cdrom\" group (then log in again)"
done
echo "No drive holds a readable disc: D: (/dev/sr0) cannot be opened: Permission denied; E: (/dev/sr1)" \
    "cannot be opened: Permission denied; F: (/dev/sr2) cannot be opened: Permission denied.")
check "outside the cdrom group: quorlan" "$(run_of "outsider quorlan")" "1 out= err=$(hex <<<"$denied") files="
check "in the cdrom group: quorlan" "$(run_of "member quorlan")" "$(run_of "disc-image quorlan")"
[[ $(run_of "member_0600 quorlan") == "1 out= err=$(printf '/dev/sr0: permission denied (owner root, group root, mode 0600)\n' | hex)"* ]] &&
    pass || fail "a node of mode 0600 root:root: the line does not show it: $(run_of "member_0600 quorlan")"

# --- Faults from QEMU's monitor: ejected, changed or unplugged mid-track, tremick stops within a
# minute with the line and leaves 01.iso short, holding only the first disc's sectors; with the
# tray open each program says so; the disc put back (or the drive plugged in again), the next run
# writes the disc -----------------------------------------------------------------------------
unhex() { printf '%b' "$(sed 's/../\\x&/g' <<<"$1")"; }
fault() {  # fault <case> <what the line says>: tremick ended within a minute with the line, leaving
    # 01.iso short of the disc, the first part of the disc it read
    [[ $(run_of "$1 tremick") =~ ^1\ took=([0-9]+)\ out=([0-9a-f]*)\ err=\ files=01\.iso\ ([0-9]+)\ ([0-9a-f]{64})\ $ ]] &&
        [ "${BASH_REMATCH[1]}" -le 60 ] && [ "${BASH_REMATCH[3]}" -lt "$(stat -c %s "$long")" ] &&
        [ "$(head -c "${BASH_REMATCH[3]}" "$long" | sha256sum | cut -c1-64)" = "${BASH_REMATCH[4]}" ] &&
        [[ $(unhex "${BASH_REMATCH[2]}" | tail -n 1) =~ ^Track\ 01:\ $2\ at\ LBA\ [0-9]+\;\ 01\.iso\ is\ incomplete,\ and\ the\ next\ run\ writes\ it\ again\.$ ]] &&
        pass || fail "$1: tremick did not stop as it should: $(run_of "$1 tremick" | cut -c1-400)"
}
complete="01.iso $(stat -c %s "$long") $(sha256sum <"$long" | cut -c1-64) "
fault ide_eject "the disc was removed from D: \(/dev/sr1\)"
fault ide_swap "the disc (in D: \(/dev/sr1\) was changed|was removed from D: \(/dev/sr1\))"
fault usb_unplug "the drive D: \(/dev/sr2\) could not be opened again \(No such file or directory\)"
for again in ide_again usb_again; do check "$again: tremick" "$(run_of "$again tremick" | sed 's/ out=.* files=/ files=/')" "1 files=$complete"; done
no_disc="No drive holds a readable disc: D: (/dev/sr1) has no disc."
check "tray open: quorlan" "$(run_of "tray_open quorlan")" "1 out= err=$(hex <<<"$no_disc The TOC in this folder is from an earlier run.") files=TOC 8 $(echo earlier | sha256sum | cut -c1-64) "
for program in tremick palvane; do check "tray open: $program" "$(run_of "tray_open $program" | sed 's/ files=.*//')" "1 out= err=$(hex <<<"$no_disc")"; done

# --- QEMU's drives against the emulated drive ------------------------------------------------
# The status, sense key and ASC must agree (the ASCQ may say why a drive has no disc), and the
# data of a good reply, but for where QEMU departs from the multimedia command standard (MMC):
# the format 0 lead-out descriptor of a data disc says copy permitted (ADR/control 16) where point
# A2 of QEMU's own full TOC says 14; MMC takes format 0 from the full TOC, as we do. (QEMU's
# format 1, session information, is not MMC's on either drive, so it is not compared.)
declare -A notes=()
while read -r _ name probe qemu_status qemu_sense qemu; do
    read -r status sense ours <<<"$(guest_field "emulated $name $probe")"
    case $probe in
        inquiry)  # the device type and removable bit
            qemu=${qemu:0:2}$((16#0${qemu:2:2} & 0x80)) ours=${ours:0:2}$((16#0${ours:2:2} & 0x80)) ;;
        toc0_*)  # at: where the lead-out's ADR/control is; a2: point A2's in QEMU's full TOC
            full=$(guest_field "reply $name toc2_msf")
            [[ ${full##* } =~ ^.{8}(.{22})*..(..)..a2 ]] && a2=${BASH_REMATCH[2]} || a2=
            at=$((${#qemu} - 14))
            if [ "${qemu:at+2:2}" = aa ] && [ "$qemu" != "$ours" ] && [ "${ours:at:2}" = "$a2" ] &&
                [ "${qemu:0:at}${ours:at:2}${qemu:at+2}" = "$ours" ]; then
                notes["format 0 lead-out ADR/control ${qemu:at:2}, full TOC ${ours:at:2}"]+=" $name/$probe"
                qemu=$ours
            fi ;;
    esac
    check "$name $probe: QEMU's reply and the emulated drive's" "$qemu_status ${qemu_sense%/*} $qemu" \
        "$status ${sense%/*} $ours"
done < <(grep '^reply ' "$guest_report")
for note in "${!notes[@]}"; do echo "note: QEMU departs from MMC: $note (${notes[$note]# })"; done
finish
