#!/bin/sh
# Installs what building and unit-testing hullmon needs, when missing.
set -e
missing=""
for pkg in cmake g++ make libgtest-dev valgrind; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
