#!/bin/sh
# Installs the Debian packages named (by default, what building and
# unit-testing hullmon needs) that are not installed yet. Quick when all are
# there: the package lists are updated only when something is missing, and
# another apt run's lock is waited for instead of failing.
#
# usage: scripts/deps.sh [package ...]
set -e
[ $# -eq 0 ] && set -- cmake g++ make libgtest-dev valgrind
missing=""
for pkg in "$@"; do
    dpkg -s "$pkg" >/dev/null 2>&1 || missing="$missing $pkg"
done
[ -z "$missing" ] && exit 0
echo "installing$missing"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
# Some packages bring services of their own (lighttpd, dockerd); on a
# machine without a service policy, none may start while installing.
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\n# put here by hullmon scripts/deps.sh while installing\nexit 101\n' |
        $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod 755 /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
# shellcheck disable=SC2086 # one word per package
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 \
    install -y -qq --no-install-recommends $missing >/dev/null
