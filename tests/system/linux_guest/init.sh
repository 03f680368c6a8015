#!/bin/busybox sh
# shellcheck shell=dash
# First process of the guest. Loads the IDE CD-ROM drivers, runs the three programs in an empty
# folder with the machine's own drives, then the probe, and writes a line-oriented report to the
# second serial port (the first one is the kernel's console). Powers off when done.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

stty -F /dev/ttyS1 raw -echo 2>/dev/null
exec 3>/dev/ttyS1
report() { echo "$*" >&3; }
uptime_cs() { read -r up _ </proc/uptime; echo $((${up%.*} * 100 + 1${up#*.} - 100)); }  # in 1/100 s
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# Lists the regular files of the current folder: name, size, SHA-256.
report_files() {
    for name in * .[!.]*; do
        [ -f "$name" ] || continue
        report "file $1 $name $(stat -c %s "$name") $(sha256sum "$name" | cut -d' ' -f1)"
    done
}

report "begin linux guest report"
report "kernel $(uname -r)"
for module in scsi_common scsi_mod cdrom sr_mod libata ata_piix; do
    if insmod "/modules/$module.ko" 2>/tmp/insmod.err; then
        report "module $module loaded"
    else
        report "module $module failed $(tr '\n' ' ' </tmp/insmod.err)"
    fi
done

# The drives are scanned in the background after the host driver loads.
waited=0
while [ ! -b /dev/sr1 ] && [ $waited -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
drives=
for node in /dev/sr*; do [ -b "$node" ] && drives="$drives${node#/dev/} "; done
report "drives $drives"

unset CDIF_DRIVES
mkdir /run-folder
cd /run-folder || exit 1
report_files before
report "booted $(uptime_cs)"
# A program that hangs is stopped, so that the report still comes back.
for program in quorlan tremick palvane; do
    start=$(uptime_cs)
    timeout 30 "/programs/$program" >/tmp/$program.out 2>/tmp/$program.err
    status=$?
    report "exit $program $status"
    report "took $program $(($(uptime_cs) - start))"
    report "stdout $program $(hex /tmp/$program.out)"
    report "stderr $program $(hex /tmp/$program.err)"
    report_files "$program"
done
[ -f TOC ] && report "toc $(hex TOC)"

/programs/linux_guest_probe /dev/sr1 /dev/sr0 >/tmp/probe.out 2>/tmp/probe.err
report "exit probe $?"
while read -r line; do report "$line"; done </tmp/probe.out
report "stderr probe $(hex /tmp/probe.err)"
report "end linux guest report"

sync
poweroff -f
