#!/usr/bin/env bash
# The Windows programs under Wine, wherever Wine runs: on this machine, or inside the Linux guest,
# where it also reaches the guest's real CD-ROM drives. run.sh builds everything and calls this;
# it prints "FAIL: ..." lines and closes with its tally.
#
# Usage: cases.sh <Windows build folder> <Linux build folder> <work folder> <group>...
#
# aspi: the Windows 9x family (Wine's "win98", platform id 1), with the test ASPI layer of aspi/
# serving disc images: the "TOC" listing, every WAV and every ISO are byte-identical to what the
# Linux build writes for the same image, with the drive on the second host adapter behind targets
# that answer nothing (and a different disc at the adapter's own id, which must not be probed),
# with every command reported pending, behind a unit whose INQUIRY never completes, and when
# started again over a cut file; a layer without host adapters gives exit status 1 and no "TOC".
# Without an ASPI layer, and with one lacking an export, quorlan prints the exact message and
# exits with 0.
# nt: the Windows NT family ("winxp"): a CD-ROM drive letter without a readable disc gives exit
# status 1 and no "TOC"; without a CD-ROM drive letter the status is 0.
# drives (inside the guest): the NT family's pass-through to the guest's drives, each with its
# letter from D: on, then each later drive with a disc alone: the TOC, the ISO files, the standard
# output and the exit statuses are the Linux build's in the same guest, and the ISO is the disc in
# the drive; without rights to the drives, quorlan names each once. GUEST_DRIVES lists the image
# in /dev/sr0, /dev/sr1, ..., or "empty".
#
# Everything runs in a fresh Wine prefix in the work folder.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build_dir=$1
linux_build=$2
work=$3
shift 3
groups=" $* "
where=${WINE_CASES_WHERE:-on this machine}
run_timeout=${WINE_RUN_TIMEOUT:-120}
programs=(quorlan palvane tremick)
aspi=$build_dir/test_aspi

prefix_made=0
on_finish() { if [ "$prefix_made" = 1 ]; then wineserver -k 2>/dev/null; fi; }
check_name="wine cases"
source "$here/../tally.sh"

# --- The sample discs, as the Linux build made them ---------------------------------------------
sample=$linux_build/sample/sample.cue      # a data track, then four audio tracks
enhanced=$linux_build/sample/enhanced.cue  # an audio track, then a data track in a second session
for image in "$sample" "$enhanced"; do [ -f "$image" ] || abort "no sample disc $image"; done
# The Windows programs see the Unix root as drive Z:.
windows_path() { printf 'Z:%s' "$1"; }
mkdir -p "$work/runs" "$work/logs" "$work/cdrom"

# --- The Wine prefix --------------------------------------------------------------------------
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY
# No Mono or Gecko installer dialogs, no menu entries in the user's desktop; the ASPI layer's
# override is added per run.
base_overrides="mscoree,mshtml=;winemenubuilder.exe=d"
wine_registry() {  # wine_registry <reg.exe arguments...>
    WINEDLLOVERRIDES=$base_overrides timeout "$run_timeout" wine reg "$@" /reg:64 >/dev/null 2>&1
}
# The server stays up between runs, and with it Wine's own services, which would otherwise start
# anew for each program (most of a run's time under emulation). restart_wine [command prefix]
restart_wine() { wineserver -k 2>/dev/null; wineserver -w 2>/dev/null; "$@" wineserver -p; }

started=$(date +%s)
prefix_made=1
WINEDEBUG=err+all WINEDLLOVERRIDES=$base_overrides timeout "${WINE_PREFIX_TIMEOUT:-300}" wineboot -i \
    >"$work/logs/wineboot.log" 2>&1 ||
    abort "wine cannot set up a prefix (see $work/logs/wineboot.log)"
# Drive D: is a CD-ROM drive (an empty folder: no disc the system could read).
ln -sfn "$work/cdrom" "$WINEPREFIX/dosdevices/d:"
wine_registry add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f || abort "cannot register drive D:"
restart_wine
echo "wine check, $where: prefix ready in $(($(date +%s) - started)) s"
choose_windows() {  # choose_windows <Wine's name of the version>
    wine_registry add 'HKCU\Software\Wine' /v Version /d "$1" /f || abort "cannot choose Windows $1"
}

# --- Running the programs ---------------------------------------------------------------------
# run_windows <case> <program> <ASPI layer: complete, no_support_info, no_send_command or none>
#             [VARIABLE=value...]
# Runs the program in runs/<case> with the ASPI layer beside it (Wine's own is never used); its
# standard output, standard error and exit status go to logs/<case>.<program>.*
run_windows() {
    local case=$1 program=$2 layer=$3
    shift 3
    local dir=$work/runs/$case log=$work/logs/$case.$program
    mkdir -p "$dir"
    cp "$build_dir/programs/$program.exe" "$dir/"
    local overrides="$base_overrides;wnaspi32=d"
    if [ "$layer" != none ]; then
        cp "$aspi/$layer/WNASPI32.dll" "$dir/"
        overrides="$base_overrides;wnaspi32=n"
    fi
    (cd "$dir" && env WINEDLLOVERRIDES="$overrides" "$@" timeout "$run_timeout" wine "$program.exe" \
        >"$log.out" 2>"$log.err")
    echo $? >"$log.status"
}
# run_linux <case> <program> <CDIF_DRIVES>
run_linux() {
    local dir=$work/runs/$1 log=$work/logs/$1.$2
    mkdir -p "$dir"
    (cd "$dir" && CDIF_DRIVES=$3 CDIF_TRACE=$log.trace timeout "$run_timeout" "$linux_build/programs/$2" >"$log.out" 2>"$log.err")
    echo $? >"$log.status"
}
status_of() { cat "$work/logs/$1.$2.status"; }
# The programs' files of a run, without the executables and the ASPI layer.
output_files() { (cd "$work/runs/$1" && ls | grep -v -i -e '\.exe$' -e '\.dll$' | tr '\n' ' '); }

# check_same_as_linux <case> <reference case>: every program's files, standard output and exit
# status in runs/<case> are those of the Linux build in runs/<reference case>.
check_same_as_linux() {
    local case=$1 linux=$2 files expected
    expected=$(output_files "$linux")
    files=$(output_files "$case")
    if [ "$files" != "$expected" ]; then
        fail "$case: files '$files', the Linux build wrote '$expected'"
    else
        local file differing=
        for file in $files; do
            cmp -s "$work/runs/$case/$file" "$work/runs/$linux/$file" || differing+=" $file"
        done
        [ -z "$differing" ] && pass || fail "$case: differs from the Linux build's output in$differing"
    fi
    local program
    for program in "${programs[@]}"; do
        [ -f "$work/logs/$case.$program.status" ] || continue
        if [ "$(status_of "$case" "$program")" != "$(status_of "$linux" "$program")" ]; then
            fail "$case: $program exits with $(status_of "$case" "$program")," \
                 "the Linux build with $(status_of "$linux" "$program") (see $work/logs/$case.$program.err)"
        elif ! cmp -s <(tr -d '\r' <"$work/logs/$case.$program.out") "$work/logs/$linux.$program.out"; then
            fail "$case: $program prints other lines than the Linux build (see $work/logs/$case.$program.out)"
        else
            pass
        fi
    done
}

# check_message <case> <expected standard output>: quorlan printed exactly that, exited with 0
# and wrote no "TOC".
check_message() {
    local case=$1 expected=$2 actual
    actual=$(cat "$work/logs/$case.quorlan.out")
    if [ "$actual" != "$expected" ]; then
        fail "$case: quorlan prints '$actual', expected '$expected'"
    elif [ "$(status_of "$case" quorlan)" != 0 ]; then
        fail "$case: quorlan exits with $(status_of "$case" quorlan), expected 0"
    elif [ -e "$work/runs/$case/TOC" ]; then
        fail "$case: quorlan wrote a TOC"
    else
        pass
    fi
}

# check_no_toc <case> <expected exit status>: quorlan exited so, printed nothing, wrote no "TOC".
check_no_toc() {
    local case=$1 expected=$2
    if [ "$(status_of "$case" quorlan)" != "$expected" ]; then
        fail "$case: quorlan exits with $(status_of "$case" quorlan), expected $expected" \
             "(see $work/logs/$case.quorlan.err)"
    elif [ -s "$work/logs/$case.quorlan.out" ]; then
        fail "$case: quorlan prints '$(cat "$work/logs/$case.quorlan.out")'"
    elif [ -e "$work/runs/$case/TOC" ]; then
        fail "$case: quorlan wrote a TOC"
    else
        pass
    fi
}

# --- Windows 9x family, test ASPI layer ---------------------------------------------------------
aspi_cases() {
    choose_windows win98
    # The reference: the Linux build on the same images.
    for reference in linux_sample:"$sample" linux_enhanced:"$enhanced"; do
        for program in "${programs[@]}"; do run_linux "${reference%%:*}" "$program" "${reference#*:}"; done
        files=$(output_files "${reference%%:*}")
        case " $files " in
        *" 01.iso "*" TOC "* | *" 01.wav "*" TOC "*) ;;
        *) abort "the Linux build wrote only '$files' for ${reference#*:}" ;;
        esac
    done
    run_linux linux_sample_toc quorlan "$sample"

    # Two host adapters, each with id 7. Another disc sits at adapter 0's own id: probing it would
    # select it. On adapter 1, target 2 is a disk, target 4 a CD-ROM drive without a disc, target 5
    # holds the sample disc; every other address answers nothing.
    two_adapters="0:7:0=$(windows_path "$enhanced");1:2:0=disk;1:4:0=empty;1:5:0=$(windows_path "$sample")"
    for program in "${programs[@]}"; do
        run_windows aspi_second_adapter "$program" complete TEST_ASPI_DEVICES="$two_adapters" \
            TEST_ASPI_ADAPTERS=2 TEST_ASPI_HOST_ID=7
    done
    check_same_as_linux aspi_second_adapter linux_sample

    # Started again over their own files, with one WAV cut short, the extraction programs redo only
    # that track: the runtime's _stat sees the sizes.
    cp -r "$work/runs/aspi_second_adapter" "$work/runs/aspi_again"
    cp -r "$work/runs/linux_sample" "$work/runs/linux_again"
    truncate -s 1000 "$work/runs/aspi_again/03.wav" "$work/runs/linux_again/03.wav"
    for program in palvane tremick; do
        run_linux linux_again "$program" "$sample"
        run_windows aspi_again "$program" complete TEST_ASPI_DEVICES="$two_adapters" TEST_ASPI_ADAPTERS=2
    done
    check_same_as_linux aspi_again linux_again
    if grep -q 'Track 02' "$work/logs/aspi_again.palvane.out" || ! grep -q 'Track 03' "$work/logs/aspi_again.palvane.out"; then
        fail "aspi_again: palvane does not redo exactly the cut track 3 (see $work/logs/aspi_again.palvane.out)"
    else
        pass
    fi

    # Every command reported pending and completed 2 ms later from another thread.
    for program in "${programs[@]}"; do
        run_windows aspi_pending "$program" complete TEST_ASPI_DEVICES="0:1:0=$(windows_path "$sample")" \
            TEST_ASPI_PENDING=2
    done
    check_same_as_linux aspi_pending linux_sample

    # The disc with a second session, on a host adapter whose own id is 0.
    for program in "${programs[@]}"; do
        run_windows aspi_enhanced "$program" complete TEST_ASPI_DEVICES="0:3:0=$(windows_path "$enhanced")" \
            TEST_ASPI_HOST_ID=0
    done
    check_same_as_linux aspi_enhanced linux_enhanced

    # The INQUIRY probe of target 0 never completes: after its 10 seconds the probe is aborted and
    # the scan goes on to the drive at target 1.
    run_windows aspi_stalled_unit quorlan complete \
        TEST_ASPI_DEVICES="0:0:0=stall;0:1:0=$(windows_path "$sample")" TEST_ASPI_HOST_ID=7
    check_same_as_linux aspi_stalled_unit linux_sample_toc

    # A layer that reports no host adapter: the drive letter stays the only drive, and nothing
    # answers at its all-zero address.
    run_windows aspi_no_adapters quorlan complete TEST_ASPI_DEVICES="0:0:0=$(windows_path "$sample")" \
        TEST_ASPI_ADAPTERS=0
    check_no_toc aspi_no_adapters 1

    # No ASPI layer, and layers without one of the two exports.
    run_windows aspi_missing quorlan none
    check_message aspi_missing 'CDIF_Init: "WNASPI32.DLL" not found.'
    run_windows aspi_no_support_info quorlan no_support_info
    check_message aspi_no_support_info 'CDIF_Init: DLL function "GetASPI32SupportInfo" not found.'
    run_windows aspi_no_send_command quorlan no_send_command
    check_message aspi_no_send_command 'CDIF_Init: DLL function "SendASPI32Command" not found.'
}

# --- Windows NT family, pass-through ----------------------------------------------------------
nt_cases() {
    choose_windows winxp
    # The ASPI layer lies beside the program with a readable disc: the NT family must not use it.
    run_windows nt_cdrom_without_disc quorlan complete TEST_ASPI_DEVICES="0:1:0=$(windows_path "$sample")"
    check_no_toc nt_cdrom_without_disc 1

    wine_registry delete 'HKLM\Software\Wine\Drives' /v d: /f || abort "cannot remove drive D:"
    rm -f "$WINEPREFIX/dosdevices/d:"
    restart_wine
    run_windows nt_no_cdrom quorlan none
    check_no_toc nt_no_cdrom 0
}

# --- Windows NT family, pass-through to the guest's drives --------------------------------------
# map_drives <number>...: the guest's drives /dev/sr<number> get the letters D:, E:, ... in that
# order, and no other drive has a letter from D: on (Wine reads them when it restarts). Sets
# linux_drives, the same drives for CDIF_DRIVES, disc, the first image among them, and mapped,
# what went where.
map_drives() {
    local letters=(d e f g h i j) index=0 number
    linux_drives= disc= mapped=
    rm -f "$WINEPREFIX"/dosdevices/[d-j]:*
    for number in "$@"; do
        ln -sfn "/dev/sr$number" "$WINEPREFIX/dosdevices/${letters[index]}::"
        ln -sfn "$work/cdrom" "$WINEPREFIX/dosdevices/${letters[index]}:"
        linux_drives+="/dev/sr$number;"
        mapped+=" ${letters[index]^}: /dev/sr$number (${drive_images[number]})"
        [ "${drive_images[number]}" = empty ] || disc=${disc:-${drive_images[number]}}
        index=$((index + 1))
    done
}

# drive_case <case> <number>...: on those drives the Windows programs do what the Linux build
# does, and 01.iso is the first disc among them.
drive_case() {
    local case=$1 program
    shift
    map_drives "$@"
    restart_wine
    echo "wine check, $where: Windows XP pass-through to the guest's drives,$mapped"
    for program in "${programs[@]}"; do
        run_linux "linux_$case" "$program" "$linux_drives"
        run_windows "$case" "$program" none
    done
    check_same_as_linux "$case" "linux_$case"
    check "$case: files" "$(output_files "$case")" "01.iso TOC "
    cmp -s "$work/runs/$case/01.iso" "$disc" && pass || fail "$case: 01.iso is not the disc $disc"
}

drives_cases() {
    choose_windows winxp
    local number every=() first= denied= letters=(D E F G H I J)
    read -r -a drive_images <<<"$GUEST_DRIVES"
    for number in "${!drive_images[@]}"; do
        wine_registry add 'HKLM\Software\Wine\Drives' /v "${letters[number]}:" /d cdrom /f ||
            abort "cannot register drive ${letters[number]}:"
        every+=("$number")
        denied+="${letters[number]}: needs administrator rights for SCSI pass-through; run the program as administrator"$'\n'
    done
    # Every drive: the first with a disc is read. Then each later drive with a disc on its own.
    drive_case nt_drives "${every[@]}"
    for number in "${every[@]}"; do
        [ "${drive_images[number]}" != empty ] || continue
        [ -z "$first" ] || drive_case "nt_drive_$number" "$number"
        first=$number
    done

    # A user without rights to the device nodes: the nodes belong to another user, and Wine (its
    # server opens the files) runs as root without the right to override file permissions. Each
    # drive letter is named once. The last case: the nodes stay so.
    local restricted=(setpriv --bounding-set -dac_override,-dac_read_search)
    chown 1000:1000 /dev/sr* && chmod 600 /dev/sr* || abort "cannot give the drives to another user"
    map_drives "${every[@]}"
    restart_wine "${restricted[@]}"
    run_windows nt_rights quorlan none "${restricted[@]}"
    check "nt_rights: quorlan exit status" "$(status_of nt_rights quorlan)" 1
    check "nt_rights: quorlan standard error" "$(tr -d '\r' <"$work/logs/nt_rights.quorlan.err")" "${denied%$'\n'}"
    check "nt_rights: files" "$(output_files nt_rights)" ""
}

for group in $groups; do "${group}_cases"; done
echo "wine check, $where: done in $(($(date +%s) - started)) s"
finish
