#!/usr/bin/env bash
# The Linux guest check: runs the static Linux programs inside a Linux guest booted with QEMU,
# against QEMU's emulated IDE CD-ROM drives and the real kernel's SG_IO path, and compares QEMU's
# drive with our emulated drive.
#
# Usage: tests/system/linux_guest/run.sh [build folder]   (default build/linux_guest)
# The build folder is configured with CDIF_STATIC=ON if it is not yet.
#
# The guest: Debian's kernel, an initramfs of busybox-static, the IDE CD-ROM modules, the three
# programs, the probe and init.sh. Two IDE CD-ROM drives: the first without a disc, the second
# holding an ISO 9660 image of random files made here. init.sh writes its report to the second
# serial port; this script asserts on it. A missing tool is a failure, never a skip.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../../.." && pwd)
build_dir=${1:-$source_dir/build/linux_guest}
work=$build_dir/linux_guest_run
guest_timeout=${LINUX_GUEST_TIMEOUT:-150}
modules=(scsi_common scsi_mod cdrom sr_mod libata ata_piix)

check_name="linux guest"
source "$here/../tally.sh"
text_to_hex() { od -An -v -tx1 | tr -d ' \n'; }
hex_to_text() { printf '%b' "$(printf '%s' "$1" | sed 's/../\\x&/g')"; }

# --- What the check needs on this machine ---------------------------------------------------
for tool in qemu-system-x86_64 cmake cpio xorriso readelf strip sha256sum od; do
    command -v "$tool" >/dev/null || abort "$tool is missing (scripts/install-deps.sh installs it)"
done
busybox=/bin/busybox
if [ ! -x "$busybox" ] || LC_ALL=C readelf -l "$busybox" 2>/dev/null | grep -q 'program interpreter'; then
    abort "no static busybox at $busybox (package busybox-static)"
fi

# The newest kernel that has both an image in /boot and its modules.
kernel_version=
for image in $(printf '%s\n' /boot/vmlinuz-* | sort -V -r); do
    version=${image#/boot/vmlinuz-}
    if [ -d "/lib/modules/$version/kernel" ]; then
        kernel_version=$version
        break
    fi
done
[ -n "$kernel_version" ] || abort "no kernel in /boot with modules in /lib/modules (package linux-image-amd64)"
kernel=/boot/vmlinuz-$kernel_version
[ -r "$kernel" ] || abort "$kernel is not readable"

# --- Build ----------------------------------------------------------------------------------
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

# --- The disc: an ISO 9660 image of random files, so that a misplaced sector shows -------------
rm -rf "$work"
mkdir -p "$work/disc" "$work/root"
head -c 700001 /dev/urandom >"$work/disc/first.bin"
head -c 250123 /dev/urandom >"$work/disc/second.bin"
mkdir "$work/disc/folder"
head -c 4097 /dev/urandom >"$work/disc/folder/third.bin"
xorriso -as mkisofs -quiet -V CDIF_GUEST -o "$work/disc.iso" "$work/disc" 2>"$work/xorriso.log" ||
    abort "xorriso could not make the image: $(tail -n 1 "$work/xorriso.log")"
image_bytes=$(stat -c %s "$work/disc.iso")
image_sectors=$((image_bytes / 2048))
image_sha=$(sha256sum "$work/disc.iso" | cut -d' ' -f1)
[ $((image_sectors * 2048)) -eq "$image_bytes" ] || abort "the image is not made of 2048-byte sectors"

# --- The initramfs ----------------------------------------------------------------------------
root=$work/root
mkdir -p "$root/bin" "$root/modules" "$root/programs" "$root/proc" "$root/sys" "$root/dev" "$root/tmp"
cp "$busybox" "$root/bin/busybox"
cp "$here/init.sh" "$root/init"
chmod 755 "$root/init"
for program in "${guest_programs[@]}"; do
    strip -o "$root/programs/$(basename "$program")" "$build_dir/$program" || abort "cannot copy $program"
done
for module in "${modules[@]}"; do
    file=$(find "/lib/modules/$kernel_version/kernel" -name "$module.ko*" | head -n 1)
    [ -n "$file" ] || abort "module $module is not in /lib/modules/$kernel_version"
    case $file in
        *.ko) cp "$file" "$root/modules/$module.ko" ;;
        *.ko.xz) xz -dc "$file" >"$root/modules/$module.ko" ;;
        *.ko.zst) zstd -qdc "$file" >"$root/modules/$module.ko" ;;
        *.ko.gz) gzip -dc "$file" >"$root/modules/$module.ko" ;;
        *) abort "module $file is compressed in a way this check does not know" ;;
    esac || abort "cannot unpack $file"
done
(cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$work/initramfs.cpio" ||
    abort "cannot pack the initramfs"

# --- Boot -------------------------------------------------------------------------------------
# Software emulation unless told otherwise: CI machines have no KVM, and the check must prove it
# runs there. The first serial port is the kernel's console, the second carries the report.
accel=${LINUX_GUEST_ACCEL:-tcg}
started=$(date +%s%N)
timeout "$guest_timeout" qemu-system-x86_64 \
    -nodefaults -accel "$accel" -machine pc -m 256M -smp 1 \
    -nographic -no-reboot -nic none \
    -kernel "$kernel" -initrd "$work/initramfs.cpio" \
    -append "console=ttyS0 quiet panic=-1" \
    -drive if=ide,index=0,media=cdrom \
    -drive "if=ide,index=1,media=cdrom,format=raw,readonly=on,file=$work/disc.iso" \
    -serial mon:stdio -serial "file:$work/report.txt" \
    </dev/null >"$work/console.txt" 2>&1
qemu_status=$?
elapsed_ms=$((($(date +%s%N) - started) / 1000000))
printf 'linux guest: kernel %s, %s, image of %d sectors, QEMU ran %d.%01ds\n' "$kernel_version" "$accel" \
    "$image_sectors" $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100))

tr -d '\r' 2>/dev/null <"$work/report.txt" >"$work/report.lines"
report=$work/report.lines
if [ "$qemu_status" -ne 0 ] || ! grep -qx 'end linux guest report' "$report"; then
    echo "--- guest console (last lines) ---"
    tail -n 25 "$work/console.txt"
    [ "$qemu_status" -eq 124 ] && abort "the guest did not power off within ${guest_timeout}s"
    abort "the guest report is incomplete (QEMU exit status $qemu_status)"
fi
pass

# One field of the report: the rest of the first line that starts with the given words.
field() { sed -n "s/^$1 //p" "$report" | head -n 1; }
centiseconds() { printf '%d.%02ds' $((${1:-0} / 100)) $((${1:-0} % 100)); }
echo "linux guest: booted in $(centiseconds "$(field booted)"); quorlan took $(centiseconds "$(field 'took quorlan')"),"\
    "tremick $(centiseconds "$(field 'took tremick')"), palvane $(centiseconds "$(field 'took palvane')")"
# The files a step left in the run folder: "name size sha256" lines.
files_after() { sed -n "s/^file $1 //p" "$report"; }

# --- The guest's drives -----------------------------------------------------------------------
for module in "${modules[@]}"; do check "module $module" "$(field "module $module")" "loaded"; done
check "CD-ROM devices in the guest" "$(field drives)" "sr0 sr1 "

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
done < <("$build_dir/tests/system/linux_guest/linux_guest_compare" "$work/disc.iso" "$report"; echo "exit $?")

finish
