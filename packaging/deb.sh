#!/bin/sh
# Builds the Debian package hullmon_<version>_<arch>.deb: a Release build of
# the program without the tests (which links it statically) in its own
# folder, packed by CPack. Prints the package's path.
#
# usage: packaging/deb.sh [BUILD_DIR]    (default: build-deb)
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build-deb}
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release -DHULLMON_TESTS=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-2}"
rm -f "$build"/hullmon_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/hullmon_*.deb
