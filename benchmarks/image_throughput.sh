#!/usr/bin/env bash
# How fast palvane and tremick read a disc image, beside bchunk cutting the same cue/bin into
# tracks and cat copying its bin file. Builds the programs optimised into build/bench, makes a
# 40-minute image (one 30000-sector MODE1/2352 data track and ten audio tracks of 15000 sectors,
# random bytes, one bin file), warms the page cache, then runs the three side by side, RUNS times
# each (default 5), every run into a fresh folder. Prints the median wall and CPU times and peak
# memory, and the throughput ratios. Then the peak memory of palvane and tremick on a 10-minute
# and an 80-minute image.
#
#   benchmarks/image_throughput.sh [RUNS]
#
# Needs cmake, g++, bchunk and GNU time (apt-get install cmake g++ bchunk time), and about 3 GB
# free in ${TMPDIR:-/tmp}. Timings on a busy machine are noisy: run it when the load is low.
set -euo pipefail
runs=${1:-5}
source_dir=$(cd "$(dirname "$0")/.." && pwd)
build=$source_dir/build/bench

for tool in cmake bchunk /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install cmake bchunk time)" >&2; exit 1; }
done
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target palvane tremick >/dev/null
palvane=$build/programs/palvane
tremick=$build/programs/tremick

scratch=$(mktemp -d "${TMPDIR:-/tmp}/image_throughput.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

source "$source_dir/benchmarks/timing.sh"

# make_image NAME DATA_SECTORS AUDIO_SECTORS: NAME.cue and NAME.bin, a data track then ten audio tracks.
make_image() {
    local name=$1 data=$2 audio=$3 lba track
    {
        echo "FILE \"$name.bin\" BINARY"
        echo "  TRACK 01 MODE1/2352"
        echo "    INDEX 01 00:00:00"
        lba=$data
        for track in 02 03 04 05 06 07 08 09 10 11; do
            echo "  TRACK $track AUDIO"
            echo "    INDEX 01 $(msf "$lba")"
            lba=$((lba + audio))
        done
    } >"$scratch/$name.cue"
    head -c $((lba * 2352)) /dev/urandom >"$scratch/$name.bin"
    # Written back now rather than under the first runs.
    sync -f "$scratch"
}

make_image disc 30000 15000
image_bytes=$(stat -c %s "$scratch/disc.bin")
cat "$scratch/disc.bin" >/dev/null
export CDIF_DRIVES=$scratch/disc.cue
for _ in $(seq "$runs"); do
    timed palvane "$palvane"
    timed tremick "$tremick"
    timed bchunk bchunk -w "$scratch/disc.bin" "$scratch/disc.cue" track
    timed cat sh -c "cat '$scratch/disc.bin' >copy.bin"
done
# palvane and tremick together, run by run.
awk '$1 == "palvane" { p[++n] = $0 } $1 == "tremick" { split(p[++m], a, " ");
     print "ours", a[2] + $2, a[3] + $3, (a[4] > $4 ? a[4] : $4) }' "$scratch/results" >>"$scratch/results"

echo "Image: $((image_bytes / 2352)) sectors, $((image_bytes / 1000000)) MB; medians of $runs runs; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-22s %9s %9s %9s %11s\n' "" "wall ms" "CPU ms" "peak kB" "MB/s"
# Throughput (image bytes by wall time) for the rows that each read the whole image.
declare -A wall
for label in palvane tremick ours bchunk cat; do
    wall[$label]=$(median "$label" 2)
    name=$label rate=
    [ "$label" = ours ] && name="palvane + tremick"
    case $label in palvane | tremick) ;; *) rate=$(awk "BEGIN { printf \"%.0f\", $image_bytes / 1000 / ${wall[$label]} }") ;; esac
    printf '%-22s %9s %9s %9s %11s\n' "$name" "${wall[$label]}" "$(median "$label" 3)" "$(median "$label" 4)" "$rate"
done
awk -v ours="${wall[ours]}" -v bchunk="${wall[bchunk]}" -v cat="${wall[cat]}" 'BEGIN {
    printf "palvane + tremick throughput: %.2f times bchunk'"'"'s, %.2f times cat'"'"'s\n", bchunk / ours, cat / ours }'

rm -f "$scratch"/disc.*
echo "Peak memory (kB) by image length:"
for minutes in 10 80; do
    sectors=$((minutes * 4500))
    make_image "m$minutes" $((sectors / 6)) $((sectors * 5 / 60))
    export CDIF_DRIVES=$scratch/m$minutes.cue
    : >"$scratch/results"
    timed palvane "$palvane"
    timed tremick "$tremick"
    printf '  %2d minutes: palvane %s, tremick %s\n' "$minutes" "$(median palvane 4)" "$(median tremick 4)"
    rm -f "$scratch/m$minutes".*
done
