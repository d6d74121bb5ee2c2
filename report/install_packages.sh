#!/usr/bin/env bash
# Installs the Debian packages of the image readers beyond PNG: libtiff and libjpeg-turbo. Needs
# root; the build calls it only when it runs as root and one of them is missing.
set -euo pipefail
packages=(libtiff-dev libjpeg62-turbo-dev)
if [ "$(id -u)" -ne 0 ]; then
  echo "install_packages.sh: run as root to install ${packages[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends "${packages[@]}" ||
  { apt-get update && apt-get install -y --no-install-recommends "${packages[@]}"; }
