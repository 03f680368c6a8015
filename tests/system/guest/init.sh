#!/bin/busybox sh
# shellcheck shell=dash
# First process of the guest. Loads the modules listed in /modules/order (reporting failures),
# waits for the CD-ROM drives listed in /drives, mounts the host's root at /host when /share-path
# exists, sources the check's own part (/part.sh), and writes a line-oriented report to the second
# serial port (the first one is the kernel's console). Powers off when done.
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev

exec 3>/dev/ttyS1
report() { echo "$*" >&3; }

report "begin guest report"
while read -r module; do
    insmod "/modules/$module.ko" 2>/tmp/error || report "module $module failed: $(tr '\n' ' ' </tmp/error)"
done </modules/order

# The drives are scanned in the background after their host driver loads.
last=/dev/sr$(($(grep -c '' /drives) - 1))
for _ in $(seq 200); do [ -b "$last" ] && break || sleep 0.1; done
report "drives $(ls /dev | grep '^sr' | tr '\n' ' ')"

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

. /part.sh
report "end guest report"

sync
poweroff -f
