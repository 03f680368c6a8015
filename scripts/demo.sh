#!/usr/bin/env bash
# Builds the programs and the sample discs, then runs all three programs on the sample disc in a
# fresh folder and shows what they wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" >/dev/null

top=$PWD
out=$(mktemp -d "${TMPDIR:-/tmp}/cd-demo.XXXXXX")
cd "$out"
export CDIF_DRIVES=$top/build/demo/sample/sample.cue
echo "== $out, with CDIF_DRIVES=$CDIF_DRIVES"
# Each program's exit status is shown; the extraction programs always exit with 1.
run() {
  local name=$1 status=0
  "$top/build/demo/programs/$name" > "$name.log" || status=$?
  echo "== $name exited $status; the last lines it printed:"
  tail -n 3 "$name.log"
  rm "$name.log"
}
run quorlan
echo "== the TOC it wrote:"
cat TOC
run palvane
run tremick
echo "== the files written"
ls -l
