#!/usr/bin/env bash
# Installs the Debian packages of the image readers beyond PNG: libtiff and libjpeg-turbo. Needs
# root; the build calls it only when it runs as root and one of them is missing.
exec "$(dirname "$0")/../cmake/apt_install.sh" libtiff-dev libjpeg62-turbo-dev
