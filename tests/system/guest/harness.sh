# shellcheck shell=bash
# The Linux guest that the whole-system checks boot under QEMU, sourced by their run.sh after
# tally.sh: Debian's kernel and its modules, the guest's CD-ROM drives and the discs in them, the
# initramfs, the boot, and the report the guest writes on its second serial port.
#
# A check calls guest_prepare, puts its own files into $guest_root (its part of the guest goes to
# $guest_root/part.sh, which init.sh sources), calls guest_boot, then reads the report with
# guest_field. A missing tool is a failure, never a skip.

# The guest's CD-ROM drives, in the order the kernel names them (sr0, sr1, ...) and the Windows
# checks give them letters (D:, E:, ...): name, bus, and the sizes of the two random files on its
# disc (the second one in a folder), or "-" for a drive without a disc. The kernel names the IDE
# drives while their host driver loads, and a USB drive only after usb-storage's settling delay.
guest_drives=(
    "empty ide -"
    "disc ide 700001,4097"
    "usb usb 300007,2049"
)
declare -A guest_bus_modules=([ide]="libata ata_piix" [usb]="usb-common usbcore xhci-hcd xhci-pci usb-storage")

# A module, unpacked: busybox's insmod takes no other. xz -f passes an uncompressed one through,
# and any other compression too, so that is refused.
guest_add_module() {
    local file
    file=$(find "/lib/modules/$guest_kernel_version/kernel" -name "$1.ko*" | head -n 1)
    [[ $file == *.ko || $file == *.ko.xz ]] || abort "module $1 of $guest_kernel_version is missing" \
        "or compressed other than with xz: ${file:-no $1.ko*}"
    xz -dcf "$file" >"$guest_root/modules/$1.ko" || abort "$file cannot be unpacked"
    echo "$1" >>"$guest_root/modules/order"
}

# An ISO 9660 image of random files, so that a misplaced sector shows.
guest_make_disc() {  # guest_make_disc <name> <size>,<size>
    local folder=$guest_work/discs/$1
    mkdir -p "$folder/folder"
    head -c "${2%,*}" /dev/urandom >"$folder/file.bin"
    head -c "${2#*,}" /dev/urandom >"$folder/folder/file.bin"
    xorriso -as mkisofs -quiet -V CDIF_GUEST -o "$folder.iso" "$folder" 2>"$folder.log" ||
        abort "xorriso could not make the image: $(tail -n 1 "$folder.log")"
}

# guest_prepare <work folder> [host]: the tools, the kernel, the discs and an initramfs root with
# busybox, init.sh and the modules; $guest_images lists each drive's image, or "empty". With
# "host", the guest also mounts the host's root at /host (see init.sh).
guest_prepare() {
    guest_work=$1 guest_share=${2:-}
    local index name bus sizes module modules="scsi_common scsi_mod cdrom sr_mod"
    require_tools qemu-system-x86_64 cpio xorriso
    LC_ALL=C readelf -l /bin/busybox 2>/dev/null | grep -q 'program interpreter' || [ ! -x /bin/busybox ] &&
        abort "no static busybox at /bin/busybox (package busybox-static)"
    # The newest kernel that has both an image in /boot and its modules.
    for guest_kernel_version in $(ls /lib/modules | sort -V -r) ''; do
        [ -r "/boot/vmlinuz-$guest_kernel_version" ] && break
    done
    [ -n "$guest_kernel_version" ] || abort "no readable kernel in /boot with modules (package linux-image-amd64)"
    rm -rf "$guest_work"
    guest_root=$guest_work/root
    mkdir -p "$guest_work/discs" "$guest_work/share" "$guest_root"/{bin,modules,proc,sys,dev,tmp}
    cp /bin/busybox "$guest_root/bin/busybox"
    install -m 755 "$(dirname "${BASH_SOURCE[0]}")/init.sh" "$guest_root/init"
    guest_qemu_options=(-device qemu-xhci,id=xhci)
    guest_images=()
    for index in "${!guest_drives[@]}"; do
        read -r name bus sizes <<<"${guest_drives[index]}"
        guest_images+=(empty)
        [ "$sizes" = - ] || { guest_make_disc "$name" "$sizes"; guest_images[index]=$guest_work/discs/$name.iso; }
        local options="media=cdrom"
        [ "$sizes" = - ] || options+=",format=raw,readonly=on,file=${guest_images[index]}"
        # An IDE drive, or a USB mass-storage CD-ROM drive (QEMU's SCSI CD-ROM) on the USB 3 controller.
        if [ "$bus" = ide ]; then
            guest_qemu_options+=(-drive "if=ide,index=$index,$options")
        else
            guest_qemu_options+=(-drive "if=none,id=usb$index,$options"
                -device "usb-storage,bus=xhci.0,drive=usb$index,id=usb$index-device")
        fi
        [[ " $modules " == *" ${guest_bus_modules[$bus]} "* ]] || modules+=" ${guest_bus_modules[$bus]}"
        echo "${guest_drives[index]}" >>"$guest_root/drives"
    done
    if [ "$guest_share" = host ]; then
        # The host's root, shared read-only, and a writable folder for results.
        modules+=" virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci 9pnet 9pnet_virtio"
        modules+=" netfs fscache 9p"
        printf '%s\n' "$guest_work/share" >"$guest_root/share-path"
        (cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd) >"$guest_root/project-path"
        guest_qemu_options+=(
            -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap
            -virtfs "local,path=$guest_work/share,mount_tag=share,security_model=none,multidevs=remap")
    fi
    for module in $modules; do guest_add_module "$module"; done
}

# guest_boot <memory> <timeout in seconds>: packs the initramfs, boots, and checks that the guest
# came up with every module, drive and share. Leaves the report's lines in $guest_report.
# QEMU's monitor also listens on the pipes $guest_work/monitor.in (commands) and monitor.out
# (replies, kept in monitor.log), for a check that acts on the drives while the guest runs.
# Software emulation unless told otherwise: CI machines have no KVM, and the check must prove it
# runs there. The first serial port is the kernel's console, the second carries the report.
guest_boot() {
    local accel=${GUEST_ACCEL:-tcg} started=$SECONDS status
    (cd "$guest_root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$guest_work/initramfs.cpio" ||
        abort "cannot pack the initramfs"
    rm -f "$guest_work"/monitor.{in,out}
    mkfifo "$guest_work/monitor.in" "$guest_work/monitor.out" || abort "cannot make the monitor's pipes"
    timeout "$2" cat "$guest_work/monitor.out" >"$guest_work/monitor.log" &
    timeout "$2" qemu-system-x86_64 -nodefaults -accel "$accel" -machine pc -m "$1" -smp 1 \
        -nographic -no-reboot -nic none -kernel "/boot/vmlinuz-$guest_kernel_version" \
        -initrd "$guest_work/initramfs.cpio" -append "console=ttyS0 quiet panic=-1" "${guest_qemu_options[@]}" \
        -serial mon:stdio -serial "file:$guest_work/report.txt" \
        -chardev "pipe,id=monitor,path=$guest_work/monitor" -mon chardev=monitor,mode=readline \
        </dev/null >"$guest_work/console.txt" 2>&1
    status=$?
    echo "$check_name: kernel $guest_kernel_version, $accel, QEMU ran $((SECONDS - started)) s"
    guest_report=$guest_work/report.lines
    tr -d '\r' <"$guest_work/report.txt" >"$guest_report" 2>/dev/null
    if [ "$status" -ne 0 ] || ! grep -qx 'end guest report' "$guest_report"; then
        echo "--- guest console (last lines) ---"
        tail -n 25 "$guest_work/console.txt"
        abort "the guest report is incomplete (QEMU exit status $status; 124: not powered off within $2 s)"
    fi
    check "the guest" "$(grep -E '^(module|share) ' "$guest_report")$(guest_field drives)" \
        "$([ "$guest_share" != host ] || echo "share mounted")$(printf 'sr%s ' "${!guest_drives[@]}")"
}

# One field of the report: the rest of the first line that starts with the given words.
guest_field() { sed -n "s/^$1 //p" "$guest_report" | head -n 1; }
