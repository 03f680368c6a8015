# shellcheck shell=dash
# The Linux guest check's part of the guest, sourced by the guest's init.sh: runs the three
# programs in an empty folder with the machine's own drives, then the probe, and reports what
# they did.
hex() { od -An -v -tx1 "$1" | tr -d ' \n'; }

# Lists the regular files of the current folder: name, size, SHA-256.
report_files() {
    for name in * .[!.]*; do
        [ -f "$name" ] || continue
        report "file $1 $name $(stat -c %s "$name") $(sha256sum "$name" | cut -d' ' -f1)"
    done
}

unset CDIF_DRIVES
mkdir /run-folder
cd /run-folder || exit 1
report_files before
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
