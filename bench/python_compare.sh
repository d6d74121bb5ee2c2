#!/usr/bin/env bash
# Builds the Python module and the image writer in release mode (installing Debian's Python
# packages first when they are missing) and runs bench/python_compare.py with the arguments given.
# Usage: bench/python_compare.sh [--images NAME,...] [--min-time SECONDS] [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
if ! /usr/bin/python3 -c "import numpy, cv2, skimage" 2>/dev/null; then
  echo "numpy, OpenCV or scikit-image for Python missing: installing them with python/install_packages.sh" >&2
  if [ "$(id -u)" -ne 0 ]; then
    sudo python/install_packages.sh --bench >&2
  else
    python/install_packages.sh --bench >&2
  fi
fi
cmake -S . -B build/compare -DCMAKE_BUILD_TYPE=Release -DBLOB_BUILD_TESTS=OFF >&2
cmake --build build/compare -j2 --target blob_python bench_make_images >&2
PYTHONPATH=build/compare/python exec /usr/bin/python3 bench/python_compare.py \
  --make-images build/compare/bench/bench_make_images "$@"
