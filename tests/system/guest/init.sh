#!/bin/busybox sh
# shellcheck shell=dash
# First process of the guest. Loads the modules listed in /modules/order, waits for the CD-ROM
# drives listed in /drives, mounts the host's root at /host when /share-path exists, sources the
# check's own part (/part.sh), and writes a line-oriented report to the second serial port (the
# first one is the kernel's console). Powers off when done.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

stty -F /dev/ttyS1 raw -echo 2>/dev/null
exec 3>/dev/ttyS1
report() { echo "$*" >&3; }
uptime_cs() { read -r up _ </proc/uptime; echo $((${up%.*} * 100 + 1${up#*.} - 100)); }  # in 1/100 s

report "begin guest report"
report "kernel $(uname -r)"
while read -r module; do
    if insmod "/modules/$module.ko" 2>/tmp/insmod.err; then
        report "module $module loaded"
    else
        report "module $module failed $(tr '\n' ' ' </tmp/insmod.err)"
    fi
done </modules/order

# The drives are scanned in the background after their host driver loads.
last=/dev/sr$(($(grep -c '' /drives) - 1))
waited=0
while [ ! -b "$last" ] && [ $waited -lt 200 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
drives=
for node in /dev/sr*; do [ -b "$node" ] && drives="$drives${node#/dev/} "; done
report "drives $drives"

# The host's root, read-only, with this guest's own /proc, /sys and /dev (and /dev/fd, which
# bash's process substitution needs) and empty folders where programs write; the project's folder
# stays visible even where it lies under one of them (a clone in /tmp), and the host's folder for
# results is writable at its own path.
if [ -f /share-path ]; then
    share=$(cat /share-path)
    project=$(cat /project-path)
    mkdir /host /project
    if mount -t 9p -o trans=virtio,version=9p2000.L,ro host /host &&
        mount -o bind "/host$project" /project &&
        mount -t proc proc /host/proc && mount -t sysfs sysfs /host/sys &&
        mount -t devtmpfs devtmpfs /host/dev && mkdir -p /host/dev/shm && ln -s /proc/self/fd /host/dev/fd &&
        for folder in /tmp /root /run /dev/shm; do mount -t tmpfs tmpfs "/host$folder" || exit 1; done &&
        mkdir -p "/host$project" && mount -o move /project "/host$project" &&
        mount -t 9p -o trans=virtio,version=9p2000.L share "/host$share"; then
        report "share mounted"
    else
        report "share failed"
    fi
fi

report "booted $(uptime_cs)"
. /part.sh
report "end guest report"

sync
poweroff -f
