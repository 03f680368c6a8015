# shellcheck shell=bash
# The Linux guest that the whole-system checks boot under QEMU, sourced by their run.sh after
# tally.sh: Debian's kernel and its modules, the guest's CD-ROM drives and the discs in them, the
# initramfs, the boot, and the report the guest writes on its second serial port.
#
# A check calls guest_prepare, puts its own files into $guest_root (its part of the guest goes to
# $guest_root/part.sh, which init.sh sources), calls guest_boot, then reads the report with
# guest_field. A missing tool is a failure, never a skip.

# The guest's CD-ROM drives, in the order the kernel names them (sr0, sr1, ...) and the Windows
# checks give them letters (D:, E:, ...): name, bus, and the sizes of the random files on its disc
# (the last one in a folder), or "-" for a drive without a disc. The kernel names the IDE drives
# while their host driver loads, and a USB drive only after usb-storage's settling delay.
guest_drives=(
    "empty ide -"
    "disc ide 700001,250123,4097"
    "usb usb 300007,120011,2049"
)
guest_base_modules=(scsi_common scsi_mod cdrom sr_mod)
declare -A guest_bus_modules=([ide]="libata ata_piix" [usb]="usb-common usbcore xhci-hcd xhci-pci usb-storage")
# The host's root, shared read-only, and a writable folder for results.
guest_share_modules=(virtio_ring virtio virtio_pci_modern_dev virtio_pci_legacy_dev virtio_pci
    9pnet 9pnet_virtio netfs fscache 9p)

text_to_hex() { od -An -v -tx1 | tr -d ' \n'; }
hex_to_text() { printf '%b' "$(printf '%s' "$1" | sed 's/../\\x&/g')"; }

# guest_attach_<bus> <index among the drives> <image or empty>: the QEMU options for one drive.
guest_attach_ide() {
    local options="if=ide,index=$1,media=cdrom"
    [ "$2" = empty ] || options+=",format=raw,readonly=on,file=$2"
    guest_qemu_options+=(-drive "$options")
}
# A USB mass-storage CD-ROM drive (QEMU's SCSI CD-ROM) on the one USB 3 host controller.
guest_attach_usb() {
    local options="if=none,id=usb$1,media=cdrom"
    [ "$2" = empty ] || options+=",format=raw,readonly=on,file=$2"
    [[ " ${guest_qemu_options[*]} " == *" qemu-xhci,id=xhci "* ]] || guest_qemu_options+=(-device qemu-xhci,id=xhci)
    guest_qemu_options+=(-drive "$options" -device "usb-storage,bus=xhci.0,drive=usb$1")
}

# The newest kernel that has both an image in /boot and its modules.
guest_find_kernel() {
    local image version
    guest_kernel_version=
    for image in $(printf '%s\n' /boot/vmlinuz-* | sort -V -r); do
        version=${image#/boot/vmlinuz-}
        if [ -d "/lib/modules/$version/kernel" ]; then
            guest_kernel_version=$version
            break
        fi
    done
    [ -n "$guest_kernel_version" ] ||
        abort "no kernel in /boot with modules in /lib/modules (package linux-image-amd64)"
    guest_kernel=/boot/vmlinuz-$guest_kernel_version
    [ -r "$guest_kernel" ] || abort "$guest_kernel is not readable"
}

guest_add_module() {
    local file
    file=$(find "/lib/modules/$guest_kernel_version/kernel" -name "$1.ko*" | head -n 1)
    [ -n "$file" ] || abort "module $1 is not in /lib/modules/$guest_kernel_version"
    case $file in
        *.ko) cp "$file" "$guest_root/modules/$1.ko" ;;
        *.ko.xz) xz -dc "$file" >"$guest_root/modules/$1.ko" ;;
        *.ko.zst) zstd -qdc "$file" >"$guest_root/modules/$1.ko" ;;
        *.ko.gz) gzip -dc "$file" >"$guest_root/modules/$1.ko" ;;
        *) abort "module $file is compressed in a way this check does not know" ;;
    esac || abort "cannot unpack $file"
    echo "$1" >>"$guest_root/modules/order"
}

# An ISO 9660 image of random files, so that a misplaced sector shows.
guest_make_disc() {  # guest_make_disc <name> <sizes>
    local folder=$guest_work/discs/$1 size number=0
    mkdir -p "$folder/folder"
    for size in ${2//,/ }; do
        number=$((number + 1))
        head -c "$size" /dev/urandom >"$folder/file$number.bin"
    done
    mv "$folder/file$number.bin" "$folder/folder/"
    xorriso -as mkisofs -quiet -V CDIF_GUEST -o "$guest_work/discs/$1.iso" "$folder" \
        2>"$guest_work/xorriso.log" ||
        abort "xorriso could not make the image: $(tail -n 1 "$guest_work/xorriso.log")"
}
# The image in a drive, and its size in sectors.
guest_disc() { printf '%s' "$guest_work/discs/$1.iso"; }
guest_disc_sectors() { echo $(($(stat -c %s "$(guest_disc "$1")") / 2048)); }

# guest_prepare <work folder> [host]: the tools, the kernel, the discs and an initramfs root with
# busybox, init.sh and the modules; $guest_images lists each drive's image, or "empty". With
# "host", the guest also mounts the host's root at /host (see init.sh).
guest_prepare() {
    guest_work=$1
    guest_share=${2:-}
    local index name bus sizes module
    require_tools qemu-system-x86_64 cpio xorriso od sha256sum
    if [ ! -x /bin/busybox ] || LC_ALL=C readelf -l /bin/busybox 2>/dev/null | grep -q 'program interpreter'; then
        abort "no static busybox at /bin/busybox (package busybox-static)"
    fi
    guest_find_kernel
    rm -rf "$guest_work"
    guest_root=$guest_work/root
    mkdir -p "$guest_work/discs" "$guest_work/share" "$guest_root"/{bin,modules,proc,sys,dev,tmp}
    cp /bin/busybox "$guest_root/bin/busybox"
    cp "$(dirname "${BASH_SOURCE[0]}")/init.sh" "$guest_root/init"
    chmod 755 "$guest_root/init"

    local modules=("${guest_base_modules[@]}") buses=" "
    guest_qemu_options=()
    guest_images=()
    for index in "${!guest_drives[@]}"; do
        read -r name bus sizes <<<"${guest_drives[$index]}"
        guest_images+=(empty)
        [ "$sizes" = - ] || { guest_make_disc "$name" "$sizes"; guest_images[index]=$(guest_disc "$name"); }
        "guest_attach_$bus" "$index" "${guest_images[index]}"
        [[ $buses == *" $bus "* ]] || { buses+="$bus "; modules+=(${guest_bus_modules[$bus]}); }
        echo "${guest_drives[$index]}" >>"$guest_root/drives"
    done
    if [ "$guest_share" = host ]; then
        modules+=("${guest_share_modules[@]}")
        printf '%s\n' "$guest_work/share" >"$guest_root/share-path"
        (cd "$(dirname "${BASH_SOURCE[0]}")/../../.." && pwd) >"$guest_root/project-path"
        guest_qemu_options+=(
            -virtfs local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap
            -virtfs "local,path=$guest_work/share,mount_tag=share,security_model=none,multidevs=remap")
    fi
    for module in "${modules[@]}"; do guest_add_module "$module"; done
}

# guest_boot <memory> <timeout in seconds>: packs the initramfs, boots, and checks that the guest
# came up with every module and drive. Leaves the report's lines in $guest_report.
# Software emulation unless told otherwise: CI machines have no KVM, and the check must prove it
# runs there. The first serial port is the kernel's console, the second carries the report.
guest_boot() {
    local accel=${GUEST_ACCEL:-tcg} started status elapsed_ms
    (cd "$guest_root" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$guest_work/initramfs.cpio" ||
        abort "cannot pack the initramfs"
    started=$(date +%s%N)
    timeout "$2" qemu-system-x86_64 \
        -nodefaults -accel "$accel" -machine pc -m "$1" -smp 1 \
        -nographic -no-reboot -nic none \
        -kernel "$guest_kernel" -initrd "$guest_work/initramfs.cpio" \
        -append "console=ttyS0 quiet panic=-1" \
        "${guest_qemu_options[@]}" \
        -serial mon:stdio -serial "file:$guest_work/report.txt" \
        </dev/null >"$guest_work/console.txt" 2>&1
    status=$?
    elapsed_ms=$((($(date +%s%N) - started) / 1000000))
    printf '%s: kernel %s, %s, QEMU ran %d.%01ds\n' "$check_name" "$guest_kernel_version" "$accel" \
        $((elapsed_ms / 1000)) $((elapsed_ms % 1000 / 100))

    guest_report=$guest_work/report.lines
    tr -d '\r' 2>/dev/null <"$guest_work/report.txt" >"$guest_report"
    if [ "$status" -ne 0 ] || ! grep -qx 'end guest report' "$guest_report"; then
        echo "--- guest console (last lines) ---"
        tail -n 25 "$guest_work/console.txt"
        [ "$status" -eq 124 ] && abort "the guest did not power off within $2 s"
        abort "the guest report is incomplete (QEMU exit status $status)"
    fi
    pass
    local module expected=
    while read -r module; do
        check "module $module" "$(guest_field "module $module")" loaded
    done <"$guest_root/modules/order"
    for ((module = 0; module < ${#guest_drives[@]}; module++)); do expected+="sr$module "; done
    check "CD-ROM devices in the guest" "$(guest_field drives)" "$expected"
    [ "$guest_share" != host ] || check "the host's root in the guest" "$(guest_field share)" mounted
}

# One field of the report: the rest of the first line that starts with the given words.
guest_field() { sed -n "s/^$1 //p" "$guest_report" | head -n 1; }
