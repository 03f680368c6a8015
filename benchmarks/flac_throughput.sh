#!/usr/bin/env bash
# How fast palvane extracts a disc kept as one FLAC file with its cue sheet, beside flac -d decoding
# the same file to one WAV file. Builds palvane optimised into build/bench, with libFLAC, and makes
# a 10-minute and a 74-minute image of ten audio tracks each: a chord with noise below it (ten
# seconds, repeated) encoded at flac's default level, so that decoding does the work it does on
# music. Runs the two side by side, RUNS times each (default 3), every run into a fresh folder, the
# FLAC file in the page cache, and prints the median wall and CPU times, peak memory and throughput
# (decoded bytes by wall time).
#
#   benchmarks/flac_throughput.sh [RUNS]
#
# Needs cmake, g++, libFLAC, flac, perl and GNU time (apt-get install cmake g++ pkgconf libflac-dev
# flac time), and about 2.5 GB free in ${TMPDIR:-/tmp}.
set -euo pipefail
runs=${1:-3}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$source_dir/build/bench

for tool in cmake flac perl /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install cmake flac time)" >&2; exit 1; }
done
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCDIF_FLAC=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target palvane >/dev/null
palvane=$build/programs/palvane

scratch=$(mktemp -d "${TMPDIR:-/tmp}/flac_throughput.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
source "$source_dir/benchmarks/timing.sh"

# Ten seconds of CD audio: three tones, left and right apart, and noise of some 9 bits.
perl -e 'srand(1); for my $i (0 .. 441000 - 1) { my $t = $i / 44100;
    my $tone = 5000 * sin(6.2832 * 220 * $t) + 4000 * sin(6.2832 * 277.18 * $t) + 3000 * sin(6.2832 * 329.63 * $t);
    print pack("s<s<", $tone + int(rand(512)) - 256, 0.8 * $tone + int(rand(512)) - 256) }' >"$scratch/ten.raw"

printf '%-22s %9s %9s %9s %11s\n' "" "wall ms" "CPU ms" "peak kB" "MB/s"
for minutes in 10 74; do
    sectors=$((minutes * 4500))
    for _ in $(seq $((minutes * 6))); do cat "$scratch/ten.raw"; done |
        flac -s --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 --sample-rate=44100 \
            -o "$scratch/disc.flac" -
    {
        echo 'FILE "disc.flac" WAVE'
        for track in 01 02 03 04 05 06 07 08 09 10; do
            echo "  TRACK $track AUDIO"
            echo "    INDEX 01 $(msf $(((10#$track - 1) * sectors / 10)))"
        done
    } >"$scratch/disc.cue"
    sync -f "$scratch"
    cat "$scratch/disc.flac" >/dev/null
    export CDIF_DRIVES=$scratch/disc.cue
    : >"$scratch/results"
    for _ in $(seq "$runs"); do
        timed palvane "$palvane"
        timed flac flac -d -s -o disc.wav "$scratch/disc.flac"
    done
    echo "$minutes minutes: FLAC file of $(($(stat -c %s "$scratch/disc.flac") / 1000000)) MB, medians of $runs runs; load $(cut -d' ' -f1-3 /proc/loadavg)"
    for label in palvane flac; do
        wall=$(median "$label" 2)
        name=$label
        [ "$label" = flac ] && name="flac -d"
        printf '%-22s %9s %9s %9s %11s\n' "  $name" "$wall" "$(median "$label" 3)" "$(median "$label" 4)" \
            "$(awk "BEGIN { printf \"%.0f\", $sectors * 2352 / 1000 / $wall }")"
    done
    rm -f "$scratch/disc.flac"
done
