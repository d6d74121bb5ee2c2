#!/usr/bin/env bash
# Installs the Debian packages the Python module needs: pybind11 and numpy to build it, pytest, Dask,
# dask.distributed and pandas (Dask's data frames) to test it. With --bench, also OpenCV's and scikit-image's Python packages
# for the comparison benchmark. Needs root; the build calls it only when it runs as root.
set -euo pipefail
packages=(pybind11-dev python3-dev python3-numpy python3-pytest python3-dask python3-distributed python3-pandas)
if [ "${1:-}" = "--bench" ]; then
  packages+=(python3-opencv python3-skimage)
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "install_packages.sh: run as root to install ${packages[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# The package lists of a fresh machine may be stale: update them once if the first try fails.
apt-get install -y --no-install-recommends "${packages[@]}" ||
  { apt-get update && apt-get install -y --no-install-recommends "${packages[@]}"; }
