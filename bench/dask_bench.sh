#!/usr/bin/env bash
# Builds the Python module, blob-analyze and the image writer in release mode and runs
# bench/dask_bench.py with the arguments given (see its header).
# Usage: bench/dask_bench.sh [--small N] [--large N] [--large-side S] [--workers W]
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/compare -DCMAKE_BUILD_TYPE=Release -DBLOB_BUILD_TESTS=OFF >&2
cmake --build build/compare -j2 --target blob_python blob-analyze bench_make_images >&2
PYTHONPATH=$PWD/build/compare/python exec /usr/bin/python3 bench/dask_bench.py \
  --make-images build/compare/bench/bench_make_images --blob-analyze build/compare/tools/blob-analyze "$@"
