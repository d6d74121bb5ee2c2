#!/usr/bin/env bash
# Builds the OpenCV comparison and blob-analyze in release mode (installing OpenCV first when it is
# missing) and prints on stdout the Markdown table of times and peak memory, then the process-peak
# table (blob-analyze against an OpenCV program on noise50-8192 read from a PGM file), then the
# outline table; build messages go to stderr. The full run ends with noise50-8192 and takes about
# 12 minutes; --only narrows it (the process-peak table runs when "noise50-8192" contains NAME),
# --peak-only prints the process-peak table alone (about half a minute).
# --threads prints the table of ours and connectedComponentsWithStats on 1, 2 (and, with the cores,
# 4 and 8) threads instead, the cells taking turns, each the median of --turns N turns (default 15;
# about ten minutes on two cores).
# Usage: bench/compare.sh [--check | --peak-only | --threads] [--min-time SECONDS] [--limit SECONDS]
#                         [--turns N] [--only NAME]
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f /usr/include/opencv4/opencv2/core.hpp ]; then
  echo "OpenCV not found: installing it with bench/install_opencv.sh" >&2
  bash bench/install_opencv.sh >&2
fi
cmake -S . -B build/compare -DCMAKE_BUILD_TYPE=Release -DBLOB_BUILD_TESTS=OFF >&2
cmake --build build/compare -j2 --target opencv_compare blob-analyze >&2
exec build/compare/bench/opencv_compare "$@"
