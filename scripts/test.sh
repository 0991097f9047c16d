#!/bin/sh
# Everything `make test` does: install what is missing, build, run every
# test registered in CTest (unit, black-box cases, browser, real engine).
set -e
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}

# Packages installed for the tests (lighttpd, docker.io) bring services of
# their own; on a machine without a service policy, none may start while
# installing.
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\n# put here by hullmon scripts/test.sh while installing\nexit 101\n' |
        $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod 755 /usr/sbin/policy-rc.d
    trap '$SUDO rm -f /usr/sbin/policy-rc.d' EXIT
fi
./scripts/deps.sh
for setup in tests/*/setup.sh fuzz/setup.sh; do
    [ -x "$setup" ] && "$setup"
done

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j2
ctest --test-dir "$BUILD" --output-on-failure -j2
