#!/usr/bin/env bash
# The Windows programs under Wine, wherever Wine runs: on this machine, or inside the Linux guest,
# where it also reaches the guest's real CD-ROM drives. run.sh builds everything and calls this;
# it prints "FAIL: ..." lines and closes with its tally. Everything runs in a fresh Wine prefix.
#
# Usage: cases.sh <Windows build folder> <Linux build folder> <work folder> <group>...
#
# aspi: the Windows 9x family (Wine's "win98"), with the test ASPI layer of aspi/ serving the
# sample discs: the files, output and exit statuses are the Linux build's for the same image, with
# the drive on the second host adapter (a disc at the first adapter's own id must not be probed),
# with every command reported pending, and when started again over a cut file. Without host
# adapters, without the layer or with one lacking an export, quorlan says so as it must.
# nt: the Windows NT family ("winxp"): a CD-ROM drive letter without a readable disc gives exit
# status 1 and no "TOC", though an ASPI layer with a disc lies beside the program.
# drives (inside the guest): the NT family's pass-through to the guest's drives, all of them with
# letters from D: on, then each later drive with a disc alone: the Linux build's files and output
# in the same guest, and 01.iso is the disc in the drive; without rights to the drives, quorlan
# names each letter once. GUEST_DRIVES lists the image in /dev/sr0, /dev/sr1, ..., or "empty".
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

sample=$linux_build/sample/sample.cue      # a data track, then four audio tracks
enhanced=$linux_build/sample/enhanced.cue  # an audio track, then a data track in a second session
mkdir -p "$work/runs" "$work/logs" "$work/cdrom"

# No Mono or Gecko installer dialogs, no menu entries in the user's desktop, and only the ASPI
# layer that lies beside a program, never Wine's own.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;wnaspi32=n"
wine_registry() { timeout "$run_timeout" wine reg "$@" /reg:64 >/dev/null 2>&1; }
# The server stays up between runs, and with it Wine's own services, which would otherwise start
# anew for each program (most of a run's time under emulation). restart_wine [command prefix]
restart_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; "$@" wineserver -p; }
started=$SECONDS
WINEDEBUG=err+all timeout "${WINE_PREFIX_TIMEOUT:-300}" wineboot -i >"$work/logs/wineboot.log" 2>&1 ||
    abort "wine cannot set up a prefix (see $work/logs/wineboot.log)"
# Drive D: is a CD-ROM drive (an empty folder: no disc the system could read).
ln -sfn "$work/cdrom" "$WINEPREFIX/dosdevices/d:"
wine_registry add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f || abort "cannot register drive D:"
restart_wine
echo "wine check, $where: prefix ready in $((SECONDS - started)) s"
choose_windows() { wine_registry add 'HKCU\Software\Wine' /v Version /d "$1" /f || abort "cannot choose $1"; }

# run <case> <program> <ASPI layer: complete, no_send_command, none, or "linux" for the Linux
# build> [VARIABLE=value...]: runs the program in runs/<case>, with the ASPI layer beside it; its
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
    local two_adapters="0:7:0=Z:$enhanced;1:4:0=empty;1:5:0=Z:$sample"
    for program in "${programs[@]}"; do
        run aspi_second_adapter "$program" complete TEST_ASPI_DEVICES="$two_adapters"
        # Every command reported pending, completed 2 ms later from another thread.
        run aspi_pending "$program" complete TEST_ASPI_DEVICES="0:1:0=Z:$sample" TEST_ASPI_PENDING=2
    done
    same_as_linux aspi_second_adapter linux_sample
    same_as_linux aspi_pending linux_sample

    # Started again over their own files, with one WAV cut short, the extraction programs redo only
    # that track: the runtime's _stat sees the sizes.
    cp -r "$work/runs/aspi_second_adapter" "$work/runs/aspi_again"
    cp -r "$work/runs/linux_sample" "$work/runs/linux_again"
    truncate -s 1000 "$work/runs/aspi_again/03.wav" "$work/runs/linux_again/03.wav"
    for program in palvane tremick; do
        run linux_again "$program" linux CDIF_DRIVES="$sample"
        run aspi_again "$program" complete TEST_ASPI_DEVICES="$two_adapters"
    done
    same_as_linux aspi_again linux_again
    check "aspi_again: the tracks palvane redoes" \
        "$(grep -o 'Track 0[0-9]' "$work/logs/aspi_again.palvane" | sort -u)" "Track 03"

    # Without host adapters the drive letter stays the only drive, and nothing answers there.
    run aspi_no_adapters quorlan complete TEST_ASPI_DEVICES="0:0:0=Z:$sample" TEST_ASPI_ADAPTERS=0
    quorlan_says aspi_no_adapters 1 ""
    run aspi_missing quorlan none
    quorlan_says aspi_missing 0 'CDIF_Init: "WNASPI32.DLL" not found.'
    run aspi_no_send_command quorlan no_send_command
    quorlan_says aspi_no_send_command 0 'CDIF_Init: DLL function "SendASPI32Command" not found.'
}

nt_cases() {
    choose_windows winxp
    # The ASPI layer lies beside the program with a readable disc: the NT family must not use it.
    run nt_cdrom_without_disc quorlan complete TEST_ASPI_DEVICES="0:1:0=Z:$sample"
    quorlan_says nt_cdrom_without_disc 1 ""
}

# map_drives <number>...: the guest's drives /dev/sr<number> get the letters D:, E:, ... in that
# order (Wine reads them when it restarts). Sets linux_drives, the same drives for CDIF_DRIVES.
map_drives() {
    local letter=d number
    linux_drives=
    rm -f "$WINEPREFIX"/dosdevices/[d-j]:*
    for number; do
        ln -sfn "/dev/sr$number" "$WINEPREFIX/dosdevices/$letter::"
        ln -sfn "$work/cdrom" "$WINEPREFIX/dosdevices/$letter:"
        linux_drives+="/dev/sr$number;"
        letter=$(tr d-i e-j <<<"$letter")
    done
}

# drive_case <case> <number>...: on those drives the Windows programs do what the Linux build
# does, and 01.iso is the first disc among them.
drive_case() {
    local case=$1 program number
    shift
    map_drives "$@"
    restart_wine
    for program in "${programs[@]}"; do
        run "linux_$case" "$program" linux CDIF_DRIVES="$linux_drives"
        run "$case" "$program" none
    done
    same_as_linux "$case" "linux_$case"
    for number; do [ "${drive_images[number]}" = empty ] || break; done
    check "$case: 01.iso is the disc in /dev/sr$number" "$(files "$case" | grep 01.iso | cut -d' ' -f1)" \
        "$(sha256sum <"${drive_images[number]}" | cut -d' ' -f1)"
}

drives_cases() {
    choose_windows winxp
    local number first= letters=(D E F G H I J)
    read -r -a drive_images <<<"$GUEST_DRIVES"
    for number in "${!drive_images[@]}"; do
        wine_registry add 'HKLM\Software\Wine\Drives' /v "${letters[number]}:" /d cdrom /f ||
            abort "cannot register drive ${letters[number]}:"
    done
    # Every drive: the first with a disc is read. Then each later drive with a disc on its own.
    drive_case nt_drives "${!drive_images[@]}"
    for number in "${!drive_images[@]}"; do
        [ "${drive_images[number]}" != empty ] || continue
        [ -z "$first" ] || drive_case "nt_drive_$number" "$number"
        first=$number
    done

    # A user without rights to the device nodes: the nodes belong to another user, and Wine (its
    # server opens the files) runs as root without the right to override file permissions. Each
    # drive letter is named once.
    local restricted=(setpriv --bounding-set -dac_override,-dac_read_search)
    chown 1000:1000 /dev/sr* && chmod 600 /dev/sr* || abort "cannot give the drives to another user"
    map_drives "${!drive_images[@]}"
    restart_wine "${restricted[@]}"
    run nt_rights quorlan none "${restricted[@]}"
    local denied
    denied=$(printf '%s: needs administrator rights for SCSI pass-through; run the program as administrator\n' \
        "${letters[@]:0:${#drive_images[@]}}")
    check "nt_rights: quorlan" \
        "$(outcome nt_rights.quorlan) $(tr -d '\r' <"$work/logs/nt_rights.quorlan.err")$(files nt_rights)" \
        "exit 1, output:  $denied"
}

for group; do "${group}_cases"; done
echo "wine check, $where: done in $((SECONDS - started)) s"
finish
