#!/usr/bin/env bash
# A fuzzing campaign: each fuzz target in turn for the given number of seconds (600 unless told),
# built in build/fuzz with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
# Each target starts from its seed corpus (tests/fuzz/corpus) and what earlier campaigns kept
# (build/fuzz/corpus). An input that breaks a target is saved in build/fuzz/findings; the exit
# status is then 1.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
scripts/install-deps.sh all

root=$PWD/build/fuzz
# The fuzz targets, named as their seed corpora are (CTest replays each target's corpus).
mapfile -t targets < <(ls tests/fuzz/corpus)
cmake -S . -B "$root" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DCDIF_SANITIZE=ON -DCDIF_WERROR=ON \
  -DCDIF_FUZZ=ON >/dev/null
cmake --build "$root" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$root/findings"
status=0
for target in "${targets[@]}"; do
  mkdir -p "$root/corpus/$target"
  log=$root/$target.log
  # Absolute paths: some targets work in a folder of their own, in a temporary folder that a
  # campaign's end leaves behind.
  mkdir -p "$root/tmp"
  if TMPDIR=$root/tmp "$root/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
       -artifact_prefix="$root/findings/$target-" "$root/corpus/$target" "$PWD/tests/fuzz/corpus/$target" 2>"$log"; then
    result="nothing found"
  else
    result="FINDING (see $log)"
    status=1
  fi
  rm -rf "$root/tmp"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  echo "$target: ${runs:-?} executions in ${seconds} s, $result"
done
exit $status
