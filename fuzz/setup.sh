#!/bin/sh
# Installs what the fuzz harnesses and the password timing check need, when
# missing: Debian's clang 14 with its fuzzer and sanitizer runtimes, cmake,
# and valgrind. Quick when everything is there.
set -e
missing=""
for pkg in clang-14 libclang-rt-14-dev cmake make valgrind; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
