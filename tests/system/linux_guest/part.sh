# shellcheck shell=dash
# The Linux guest check's part of the guest, sourced by the guest's init.sh. For each drive of
# /drives: the probe's replies; for each drive with a disc, the three programs in an empty folder,
# the first such drive found among the machine's own drives, every later one named in
# CDIF_DRIVES. Then quorlan as a user outside the cdrom group and as a member, with the device
# nodes as desktop systems have them (root:cdrom, 0660). Reports what each did, and the trace of
# the commands of each program run as root.
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# Lists the regular files of the current folder: name, size, SHA-256.
report_files() {
    for name in * .[!.]*; do
        [ -f "$name" ] || continue
        report "file $1 $name $(stat -c %s "$name") $(sha256sum "$name" | cut -d' ' -f1)"
    done
}

# run_program <case> <program> [user]: runs the program in /runs/<case>, as root or as the user,
# and reports its exit status, time, output and the folder's files. A program that hangs is
# stopped, so that the report still comes back.
run_program() {
    mkdir -p "/runs/$1"
    [ -z "${3:-}" ] || chown "$3" "/runs/$1"
    cd "/runs/$1" || return
    start=$(uptime_cs)
    if [ -z "${3:-}" ]; then
        CDIF_TRACE=/tmp/trace timeout 30 "/programs/$2" </dev/null >/tmp/out 2>/tmp/err
    else
        timeout 30 su -s /bin/sh -c "exec /programs/$2" "$3" </dev/null >/tmp/out 2>/tmp/err
    fi
    report "exit $1 $2 $?"
    report "took $1 $2 $(($(uptime_cs) - start))"
    report "stdout $1 $2 $(hex /tmp/out)"
    report "stderr $1 $2 $(hex /tmp/err)"
    report_files "$1 $2"
    [ "$2" != quorlan ] || [ ! -f TOC ] || report "toc $1 $(hex TOC)"
    if [ -f /tmp/trace ]; then
        while read -r line; do report "trace $1 $2 $line"; done </tmp/trace
        rm /tmp/trace
    fi
    cd /
}

number=0
found=
while read -r drive _ sizes; do
    node=/dev/sr$number
    number=$((number + 1))
    kind=empty
    if [ "$sizes" != - ]; then
        kind=disc
        if [ -z "$found" ]; then unset CDIF_DRIVES; else export CDIF_DRIVES="$node"; fi
        found=1
        for program in quorlan tremick palvane; do run_program "$drive" "$program"; done
    fi
    /programs/linux_guest_probe "$drive" "$node" "$kind" </dev/null >/tmp/probe.out 2>/tmp/probe.err
    report "exit probe $drive $?"
    while read -r line; do report "$line"; done </tmp/probe.out
    report "stderr probe $drive $(hex /tmp/probe.err)"
done </drives

unset CDIF_DRIVES
for node in /dev/sr*; do chgrp cdrom "$node" && chmod 660 "$node"; done
run_program outsider quorlan outsider
run_program member quorlan member
