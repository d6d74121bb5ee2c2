#!/usr/bin/env bash
# Installs the distribution's OpenCV development package, used only by the comparison benchmark.
# Run as root (or through sudo). The library, tools and tests never need it.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update
apt-get install -y --no-install-recommends libopencv-dev
