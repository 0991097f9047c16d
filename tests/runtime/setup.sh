#!/bin/sh
# Installs what the real-engine tests need, when missing: the sandbox's
# podman, runc and static busybox (scripts/sandbox.sh install), lighttpd,
# a docker command-line client at /usr/bin/docker (Debian's docker.io) and
# Node to run the tests. Quick when everything is there already.
set -eu
here=$(cd "$(dirname "$0")/../.." && pwd)
"$here/scripts/sandbox.sh" install

missing=""
dpkg -s lighttpd >/dev/null 2>&1 || missing="$missing lighttpd"
# Any client at /usr/bin/docker serves (docker.io, docker-ce-cli); one that
# was put elsewhere by hand is not what a fresh machine has.
[ -x /usr/bin/docker ] || missing="$missing docker.io"
command -v node >/dev/null 2>&1 || missing="$missing nodejs"
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
# docker.io and lighttpd bring services (dockerd, containerd, a web server
# on port 80) that the tests do not want: on a machine without a policy of
# its own, deny every service start while installing.
guard=""
if [ ! -e /usr/sbin/policy-rc.d ]; then
    guard=/usr/sbin/policy-rc.d
    printf '#!/bin/sh\n# put here by hullmon tests/runtime/setup.sh while installing\nexit 101\n' | $SUDO tee "$guard" >/dev/null
    $SUDO chmod 755 "$guard"
    trap '$SUDO rm -f "$guard"' EXIT
fi
# shellcheck disable=SC2086 # one word per package
"$here/scripts/deps.sh" $missing
