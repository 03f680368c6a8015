# shellcheck shell=dash
# The Linux guest check's part of the guest, sourced by the guest's init.sh. On each drive with a
# disc (the first found among the machine's own drives, each later one named in CDIF_DRIVES) the
# three programs run in an empty folder, and again on that drive's image as the reference; then
# quorlan as a user outside the cdrom group and as a member, with the device nodes as desktop
# systems have them (root:cdrom, 0660). Each command of /probes goes to each drive and to the
# emulated drive serving its image. The commands of the programs run as root are traced.
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# run <case> <programs> [user]: reports each program's exit status and output, and the folder's
# files after it (name, size, SHA-256). A program that hangs is stopped, so that the report still
# comes back.
run() {
    mkdir -p "/runs/$1" && cd "/runs/$1" && chown "${3:-root}" . || return
    for program in $2; do
        if [ -z "${3:-}" ]; then
            CDIF_TRACE=/tmp/trace timeout 30 "/programs/$program" </dev/null >/tmp/out 2>/tmp/err
        else
            timeout 30 su -s /bin/sh -c "exec /programs/$program" "$3" </dev/null >/tmp/out 2>/tmp/err
        fi
        report "run $1 $program $? out=$(hex /tmp/out) err=$(hex /tmp/err) files=$(for name in *; do
            [ -f "$name" ] && printf '%s ' "$name" "$(stat -c %s "$name")" "$(sha256sum <"$name" | cut -c1-64)"
        done)"
        [ ! -f /tmp/trace ] || while read -r line; do report "trace $1 $program $line"; done </tmp/trace
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
