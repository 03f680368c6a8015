# shellcheck shell=dash
# The Windows check's part of the guest, sourced by the guest's init.sh: runs the command that
# run.sh left in /command (cases.sh) inside the host's root, reports its lines as "wine ..." lines,
# and copies its logs to the shared folder.
chroot /host /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/bash -c "$(cat /command)" </dev/null 2>&1 |
    while IFS= read -r line; do report "wine $line"; done
cp -r /host/tmp/wine_check/logs "/host$share/" 2>/dev/null
