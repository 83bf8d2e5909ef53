#!/bin/sh
# Makes the Debian package of the build tree into an empty folder.
#   build_deb.sh CPACK CPACK_CONFIG OUT_DIR
set -eu
rm -rf "$3"
mkdir -p "$3"
"$1" --config "$2" -G DEB -B "$3"
ls "$3"/ombrix_*.deb
