#!/usr/bin/env bash
# apt_install.sh PACKAGE...: installs Debian packages for the build's optional parts. Needs root;
# the package lists of a fresh machine may be stale, so they are updated once if the first try fails.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  echo "$(basename "$0"): run as root to install $*" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get install -y --no-install-recommends "$@" || { apt-get update && apt-get install -y --no-install-recommends "$@"; }
