#!/usr/bin/env bash
# The Windows programs under Wine, wherever Wine runs: on this machine, or inside the Linux guest,
# where it also reaches the guest's real CD-ROM drives. run.sh builds everything and calls this;
# it prints "FAIL: ..." lines and closes with its tally. Everything runs in a fresh Wine prefix.
#
# Usage: cases.sh <Windows build folder> <Linux build folder> <work folder> <group>...
#
# aspi: the Windows 9x family (Wine's "win98"), with the test ASPI layer of aspi/ serving the
# sample discs: the files, output and exit statuses are the Linux build's for the same image, with
# the drive on the second host adapter (a disc at the first adapter's own id must not be probed)
# and every command reported pending, and when started again over a cut file. Without host
# adapters, without the layer or with one lacking an export, quorlan says so as it must.
# drives (inside the guest): the Windows NT family ("winxp") with its pass-through to the guest's
# drives, lettered from D: on: the Linux build's files and output in the same guest, though an
# ASPI layer serving another disc lies beside the program; without rights to the drives, quorlan
# names each letter once. GUEST_DRIVES lists the image in /dev/sr0, /dev/sr1, ..., or "empty".
#
# It runs under in_root.sh, which puts Wine from its private root on the PATH.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=$1 linux_build=$2 work=$3
shift 3
where=${WINE_CASES_WHERE:-on this machine}
run_timeout=${WINE_RUN_TIMEOUT:-120}
programs=(quorlan palvane tremick)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY
on_finish() { wineserver -k 2>/dev/null; }
check_name="wine cases"
source "$here/../tally.sh"

mkdir -p "$work"/{runs,logs,cdrom}
# The sample discs, where the test ASPI layer under Wine can read them.
cp -r "$linux_build/sample" "$work/sample" || abort "no sample discs in $linux_build/sample"
sample=$work/sample/sample.cue      # a data track, then four audio tracks
enhanced=$work/sample/enhanced.cue  # an audio track, then a data track in a second session

# No Mono or Gecko installer dialogs, no menu entries in the user's desktop, and only the ASPI
# layer that lies beside a program, never Wine's own.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;wnaspi32=n"
wine_registry() { timeout "$run_timeout" wine reg "$@" /reg:64 >/dev/null 2>&1; }
# The server stays up between runs, and with it Wine's own services, which would otherwise start
# anew for each program (most of a run's time under emulation). restart_wine [command prefix]
restart_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; "$@" wineserver -p; }
started=$SECONDS
WINEDEBUG=err+all timeout "${WINE_PREFIX_TIMEOUT:-300}" wine wineboot -i >"$work/logs/wineboot.log" 2>&1 ||
    abort "wine cannot set up a prefix (see $work/logs/wineboot.log)"
# Drive D: is a CD-ROM drive (an empty folder: no disc the system could read).
ln -sfn "$work/cdrom" "$WINEPREFIX/dosdevices/d:"
wine_registry add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f || abort "cannot register drive D:"
restart_wine
echo "wine check, $where: prefix ready in $((SECONDS - started)) s"
choose_windows() { wine_registry add 'HKCU\Software\Wine' /v Version /d "$1" /f || abort "cannot choose $1"; }

# run <case> <program> <ASPI layer: complete, no_send_command, no_support_info, none, or "linux"
# for the Linux build> [VARIABLE=value...]: runs the program in runs/<case>, with the ASPI layer beside it; its
# output, standard error and exit status go to logs/<case>.<program>{,.err,.status}.
run() {
    local case=$1 program=$2 layer=$3 command=("$linux_build/programs/$2")
    shift 3
    mkdir -p "$work/runs/$case" && cd "$work/runs/$case" || abort "no folder for $case"
    if [ "$layer" != linux ]; then
        cp "$build_dir/programs/$program.exe" . && command=(wine "$program.exe")
        [ "$layer" = none ] || cp "$build_dir/test_aspi/$layer/WNASPI32.dll" .
    fi
    env "$@" timeout "$run_timeout" "${command[@]}" >"$work/logs/$case.$program" 2>"$work/logs/$case.$program.err"
    echo $? >"$work/logs/$case.$program.status"
    cd "$work" || abort "$work is gone"
}
# The programs' files of a run (not the executables and the ASPI layer), and each one's SHA-256.
files() { (cd "$work/runs/$1" && ls | grep -v -i -e '\.exe$' -e '\.dll$' | xargs -r sha256sum); }
outcome() { printf 'exit %s, output: %s' "$(cat "$work/logs/$1.status")" "$(tr -d '\r' <"$work/logs/$1")"; }
# same_as_linux <case> <reference case>: the files, and each program's output and exit status.
same_as_linux() {
    check "$1: files, as the Linux build's" "$(files "$1")" "$(files "$2")"
    for program in "${programs[@]}"; do
        [ ! -f "$work/logs/$1.$program" ] ||
            check "$1: $program" "$(outcome "$1.$program")" "$(outcome "$2.$program")"
    done
}
quorlan_says() {  # quorlan_says <case> <exit status> <output>: and it wrote nothing
    check "$1: quorlan" "$(outcome "$1.quorlan")$(files "$1")" "exit $2, output: $3"
}

aspi_cases() {
    choose_windows win98
    for program in "${programs[@]}"; do run linux_sample "$program" linux CDIF_DRIVES="$sample"; done
    # Two host adapters, each with id 7: on adapter 1, target 4 is a drive without a disc and
    # target 5 holds the sample disc. Probing the other disc, at adapter 0's own id, would select it.
    # Every command is reported pending and completed 2 ms later from another thread.
    local two_adapters="0:7:0=Z:$enhanced;1:4:0=empty;1:5:0=Z:$sample"
    for program in "${programs[@]}"; do
        run aspi_second_adapter "$program" complete TEST_ASPI_DEVICES="$two_adapters" TEST_ASPI_PENDING=2
    done
    same_as_linux aspi_second_adapter linux_sample

    # Started again over their own files, with one WAV cut short, the extraction programs redo only
    # that track (the runtime's _stat sees the sizes); these commands complete at once.
    cp -r "$work/runs/aspi_second_adapter" "$work/runs/aspi_again"
    truncate -s 1000 "$work/runs/aspi_again/03.wav"
    for program in palvane tremick; do
        run aspi_again "$program" complete TEST_ASPI_DEVICES="$two_adapters"
    done
    check "aspi_again: files, as the Linux build's" "$(files aspi_again)" "$(files linux_sample)"
    check "aspi_again: the tracks palvane redoes" \
        "$(grep -o 'Track 0[0-9]' "$work/logs/aspi_again.palvane" | sort -u)" "Track 03"

    # Without host adapters the drive letter stays the only drive, and nothing answers there.
    run aspi_no_adapters quorlan complete
    quorlan_says aspi_no_adapters 1 ""
    run aspi_missing quorlan none
    quorlan_says aspi_missing 0 'CDIF_Init: "WNASPI32.DLL" not found.'
    run aspi_no_send_command quorlan no_send_command
    quorlan_says aspi_no_send_command 0 'CDIF_Init: DLL function "SendASPI32Command" not found.'
    run aspi_no_support_info quorlan no_support_info
    quorlan_says aspi_no_support_info 0 'CDIF_Init: DLL function "GetASPI32SupportInfo" not found.'
}

drives_cases() {
    choose_windows winxp
    local number letter letters=(D E F G H I J) linux_drives=
    read -r -a drive_images <<<"$GUEST_DRIVES"
    # The guest's drives /dev/sr0, /dev/sr1, ... get the letters D:, E:, ... (Wine reads them when
    # it restarts); linux_drives names the same drives for the Linux build.
    for number in "${!drive_images[@]}"; do
        letter=${letters[number],}
        ln -sfn "/dev/sr$number" "$WINEPREFIX/dosdevices/$letter::"
        ln -sfn "$work/cdrom" "$WINEPREFIX/dosdevices/$letter:"
        wine_registry add 'HKLM\Software\Wine\Drives' /v "$letter:" /d cdrom /f ||
            abort "cannot register drive $letter:"
        linux_drives+="/dev/sr$number;"
    done
    restart_wine
    # The first drive with a disc is read; an ASPI layer beside the program serves the sample disc,
    # which the NT family must not use.
    for program in "${programs[@]}"; do
        run linux_drives "$program" linux CDIF_DRIVES="$linux_drives"
        run nt_drives "$program" complete TEST_ASPI_DEVICES="0:1:0=Z:$sample"
    done
    same_as_linux nt_drives linux_drives

    # A user without rights to the device nodes: the nodes belong to another user, and Wine (its
    # server opens the files) runs as root without the right to override file permissions. Each
    # drive letter is named once.
    local restricted=(setpriv --bounding-set -dac_override,-dac_read_search)
    chown 1000:1000 /dev/sr* && chmod 600 /dev/sr* || abort "cannot give the drives to another user"
    restart_wine "${restricted[@]}"
    run nt_rights quorlan none "${restricted[@]}"
    # Then the line that names each drive tried, each one that cannot be opened.
    local denied tried
    denied=$(printf '%s: needs administrator rights for SCSI pass-through; run the program as administrator\n' \
        "${letters[@]:0:${#drive_images[@]}}")
    tried=$(printf '%s: (\\(.*\\) )?cannot be opened; ' "${letters[@]:0:${#drive_images[@]}}")
    tried="No drive holds a readable disc: ${tried%; }\."
    check "nt_rights: quorlan" \
        "$(outcome nt_rights.quorlan) $(tr -d '\r' <"$work/logs/nt_rights.quorlan.err" | sed -E "\$s/^$tried\$/tried/")$(files nt_rights)" \
        "exit 1, output:  $denied
tried"
}

for group; do "${group}_cases"; done
echo "wine check, $where: done in $((SECONDS - started)) s"
finish
