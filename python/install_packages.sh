#!/usr/bin/env bash
# Installs the Debian packages the Python module needs: pybind11 and numpy to build it, pytest, Dask,
# dask.distributed and pandas (Dask's data frames) to test it. With --bench, also OpenCV's and scikit-image's Python packages
# for the comparison benchmark; with --browser, Chromium, its driver and selenium for the HTML report's
# browser test. Needs root; the build calls it only when it runs as root.
set -euo pipefail
packages=(pybind11-dev python3-dev python3-numpy python3-pytest python3-dask python3-distributed python3-pandas)
case "${1:-}" in
  --bench) packages+=(python3-opencv python3-skimage) ;;
  --browser) packages+=(chromium chromium-driver python3-selenium) ;;
esac
exec "$(dirname "$0")/../cmake/apt_install.sh" "${packages[@]}"
