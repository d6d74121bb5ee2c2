#!/bin/sh
# Images per second of blob-analyze over a folder of parts images, at -j 1 and -j 2, and their
# ratio. Usage: bench/folder_bench.sh [COUNT [SIDE]] (default 200 images of 1024 x 1024), after
# `cmake --workflow --preset demo` (or any build of build/default).
set -eu
count=${1:-200}
side=${2:-1024}
build=build/default
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cmake --build "$build" --target blob-analyze bench_make_images >/dev/null
"$build/bench/bench_make_images" "$folder" "$count" "$side" parts
rate() {
  start=$(date +%s.%N)
  "$build/tools/blob-analyze" -j "$1" --format csv --measures area "$folder" >/dev/null
  end=$(date +%s.%N)
  echo "$count $start $end" | awk '{ printf "%.1f", $1 / ($3 - $2) }'
}
one=$(rate 1)
two=$(rate 2)
echo "$count parts images of $side x $side: -j 1 $one images/s, -j 2 $two images/s, ratio $(echo "$two $one" | awk '{ printf "%.2f", $1 / $2 }')"
