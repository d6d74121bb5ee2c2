#!/usr/bin/env bash
# Builds the OpenCV comparison in release mode (installing OpenCV first when it is missing) and
# prints its Markdown table of times and peak memory on stdout; build messages go to stderr.
# The full table ends with noise50-8192 and takes about 12 minutes; --only narrows it.
# Usage: bench/compare.sh [--min-time SECONDS] [--limit SECONDS] [--only NAME] [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f /usr/include/opencv4/opencv2/core.hpp ]; then
  echo "OpenCV not found: installing it with bench/install_opencv.sh" >&2
  bash bench/install_opencv.sh >&2
fi
cmake -S . -B build/compare -DCMAKE_BUILD_TYPE=Release -DBLOB_BUILD_TESTS=OFF >&2
cmake --build build/compare -j2 --target opencv_compare >&2
exec build/compare/bench/opencv_compare "$@"
