# shellcheck shell=dash
# The Linux guest check's part of the guest, sourced by the guest's init.sh. On each drive with a
# disc (the first found among the machine's own drives, each later one named in CDIF_DRIVES) the
# three programs run in an empty folder, and again on that drive's image as the reference; then
# quorlan as a user outside the cdrom group and as a member, with the device nodes as desktop
# systems have them (root:cdrom, 0660). Each command of /probes goes to each drive and to the
# emulated drive serving its image. The commands of the programs run as root are traced. Last,
# the faults: QEMU's monitor ejects, changes and unplugs the drives while tremick reads them.
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# monitor <command>...: asks the host to give each command to QEMU's monitor (run.sh relays the
# report's "monitor" lines), then leaves it time to act.
monitor() {
    for command; do report "monitor $command"; done
    sleep 3
}

# run <case> <programs> [user]: reports each program's exit status and output, and the folder's
# files after it (name, size, SHA-256). A program that hangs is stopped, so that the report still
# comes back. [midway]: a monitor command given once 01.iso reaches $midway_bytes, the program
# stopped meanwhile; the seconds it then took to end are reported too.
run() {
    midway=${4:-}
    mkdir -p "/runs/$1" && cd "/runs/$1" && chown "${3:-root}" . || return
    for program in $2; do
        took=
        if [ -n "${3:-}" ]; then
            timeout 30 su -s /bin/sh -c "exec /programs/$program" "$3" </dev/null >/tmp/out 2>/tmp/err
        elif [ -z "$midway" ]; then
            CDIF_TRACE=/tmp/trace timeout 30 "/programs/$program" </dev/null >/tmp/out 2>/tmp/err
        else
            CDIF_TRACE=/tmp/trace timeout 300 "/programs/$program" </dev/null >/tmp/out 2>/tmp/err &
            pid=$!
            while [ "$(stat -c %s 01.iso 2>/dev/null || echo 0)" -lt "$midway_bytes" ] && kill -0 $pid 2>/dev/null; do
                sleep 0.02
            done
            kill -STOP $pid && monitor "$midway" && started=$(date +%s) && kill -CONT $pid
            wait $pid
        fi
        status=$?
        [ -z "$midway" ] || took=" took=$(($(date +%s) - started))"
        report "run $1 $program $status$took out=$(hex /tmp/out) err=$(hex /tmp/err) files=$(for name in *; do
            [ -f "$name" ] && printf '%s ' "$name" "$(stat -c %s "$name")" "$(sha256sum <"$name" | cut -c1-64)"
        done)"
        [ ! -f /tmp/trace ] || tail -n 40 /tmp/trace | while read -r line; do report "trace $1 $program $line"; done
        rm -f /tmp/trace
    done
    cd /
}

number=0
while read -r drive _ sizes; do
    node=/dev/sr$number image=/discs/$drive.iso kind=disc
    [ "$sizes" != - ] || image=empty kind=empty
    if [ "$kind" = disc ]; then
        if [ -z "$found" ]; then unset CDIF_DRIVES; else export CDIF_DRIVES="$node"; fi
        found=1
        run "$drive" "quorlan tremick palvane"
        export CDIF_DRIVES="$image"
        run "$drive-image" "quorlan tremick palvane"
    fi
    while read -r name probe_kind length cdb; do
        [ "$probe_kind" = "$kind" ] || continue
        report "reply $drive $name $(/programs/drive_reply "$node" "$length" $cdb)"
        report "emulated $drive $name $(/programs/drive_reply "$image" "$length" $cdb)"
    done </probes
    number=$((number + 1))
done </drives

unset CDIF_DRIVES
for node in /dev/sr*; do chgrp cdrom "$node" && chmod 660 "$node"; done
run outsider quorlan outsider
run member quorlan member
# A node the group may not read: joining the group would not help, and the line says whose it is.
for node in /dev/sr*; do chgrp root "$node" && chmod 600 "$node"; done
run member_0600 quorlan member

# The faults, on a longer disc ($long, from /faults) that QEMU's monitor puts into the IDE drive
# with a disc (sr1, ide0-cd1) and the USB drive (sr2): ejected, changed for $other (a disc of the
# same layout), unplugged, each at 40% of the disc; the tray left open; the disc put back and the
# drive plugged in again.
. /faults
export CDIF_DRIVES=/dev/sr1
monitor "change ide0-cd1 $long raw read-only"
run ide_eject tremick "" "eject -f ide0-cd1"
mkdir -p /runs/tray_open && echo earlier >/runs/tray_open/TOC
run tray_open "quorlan tremick palvane"
monitor "change ide0-cd1 $long raw read-only"
run ide_again tremick
run ide_swap tremick "" "change ide0-cd1 $other raw read-only"
export CDIF_DRIVES=/dev/sr2
monitor "change usb2 $long raw read-only"
run usb_unplug tremick "" "device_del usb2-device"
monitor "drive_add 0 if=none,id=usb2-again,media=cdrom,format=raw,readonly=on,file=$long" \
    "device_add usb-storage,bus=xhci.0,drive=usb2-again,id=usb2-again-device"
for _ in $(seq 100); do [ -b /dev/sr2 ] && break || sleep 0.2; done
run usb_again tremick
