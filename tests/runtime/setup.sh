#!/bin/sh
# Installs what the real-engine tests need, when missing: the sandbox's
# engines, podman with runc and the Docker Engine (docker.io, containerd),
# and its static busybox (scripts/sandbox.sh install), lighttpd,
# nginx with fcgiwrap and Apache (the server tests), the Debian package tools
# and lintian (the package test), sudo 1.9.10 or later (the sudo route's
# test and the rules' visudo check), a docker command-line client at
# /usr/bin/docker (Debian's docker.io) and Node to run the tests. Quick when
# everything is there already.
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
"$here/scripts/sandbox.sh" install

missing=""
for pkg in lighttpd nginx fcgiwrap apache2 dpkg-dev lintian sudo; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
# Any client at /usr/bin/docker serves (docker.io, docker-ce-cli); one that
# was put elsewhere by hand is not what a fresh machine has.
[ -x /usr/bin/docker ] || missing="$missing docker.io"
command -v node >/dev/null 2>&1 || missing="$missing nodejs"
[ -z "$missing" ] && exit 0

# shellcheck disable=SC2086 # one word per package
"$here/scripts/deps.sh" $missing
