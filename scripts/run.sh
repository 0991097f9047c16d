#!/bin/sh
# `make run`: serves the dashboard on http://127.0.0.1:${PORT:-8080}/ with
# lighttpd as the host, until Ctrl-C.
#
# Usage: scripts/run.sh [BUILD_DIR/hullmon | BUILD_DIR]   (default build/hullmon)
# Environment:
#   PORT            port to listen on (8080)
#   BIND            address to listen on (127.0.0.1)
#   KELM_PASSWORD   node password the program asks for (none)
#   DOCKER_BIN      explicit runtime executable, as hullmon itself reads it
#   SANDBOX         1: always use the bundled sandbox; 0: never; unset: choose
#
# The node's own runtime is used when the one hullmon would select (DOCKER_BIN,
# else docker, else podman on PATH) answers its `info` command and holds at
# least one container; otherwise the bundled sandbox (scripts/sandbox.sh) is
# started with sample containers in every state, and stopped again on exit.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
arg=${1:-$here/build/hullmon}
[ -d "$arg" ] && arg=$arg/hullmon
if [ ! -x "$arg" ]; then
    echo "run: $arg is not built yet; run 'make build' first" >&2
    exit 1
fi
build=$(cd "$(dirname "$arg")" && pwd)
hullmon=$build/$(basename "$arg")
PORT=${PORT:-8080}
BIND=${BIND:-127.0.0.1}
state=$build/host
sandbox_dir=$build/sandbox

say() { printf 'run: %s\n' "$*"; }

if ! command -v lighttpd >/dev/null 2>&1 && [ ! -x /usr/sbin/lighttpd ]; then
    say "installing lighttpd"
    as_root=""
    [ "$(id -u)" -ne 0 ] && as_root=sudo
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
    $as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 \
        install -y -qq --no-install-recommends lighttpd >/dev/null
fi
LIGHTTPD=$(command -v lighttpd 2>/dev/null || echo /usr/sbin/lighttpd)

lighttpd_pid=""
sandbox_started=0
cleanup() {
    trap - INT TERM EXIT
    # Whatever happened to the terminal or a pipe we print into, the
    # cleanup runs to its end.
    trap '' INT PIPE
    set +e
    if [ -n "$lighttpd_pid" ]; then
        kill "$lighttpd_pid" 2>/dev/null || true
        wait "$lighttpd_pid" 2>/dev/null || true
    fi
    if [ "$sandbox_started" -eq 1 ]; then
        say "stopping the sandbox's containers"
        "$here/scripts/sandbox.sh" -d "$sandbox_dir" down || true
    fi
}
trap cleanup EXIT
trap 'exit 0' INT   # Ctrl-C is the normal way to stop
trap 'exit 143' TERM

# The runtime hullmon itself would select, by the same rule.
node_rt=""
if [ -n "${DOCKER_BIN:-}" ]; then
    node_rt=$DOCKER_BIN
elif command -v docker >/dev/null 2>&1; then
    node_rt=docker
elif command -v podman >/dev/null 2>&1; then
    node_rt=podman
fi

use_sandbox=1
why="no docker or podman on this node"
if [ "${SANDBOX:-}" = 1 ]; then
    why="SANDBOX=1"
elif [ -n "$node_rt" ]; then
    if timeout 20 "$node_rt" info >/dev/null 2>&1; then
        if [ "${SANDBOX:-}" = 0 ] || [ -n "$(timeout 20 "$node_rt" ps -a -q 2>/dev/null)" ]; then
            use_sandbox=0
        else
            why="the node's $node_rt answers but has no containers (SANDBOX=0 shows it anyway)"
        fi
    else
        why="the node's $node_rt does not answer ('$node_rt info' fails)"
    fi
fi
if [ "$use_sandbox" -eq 1 ] && [ "${SANDBOX:-}" = 0 ]; then
    say "SANDBOX=0 but $why"
    exit 1
fi

if [ "$use_sandbox" -eq 1 ]; then
    say "$why: starting the bundled sandbox (podman with runc, storage in $sandbox_dir)"
    sandbox_started=1
    "$here/scripts/sandbox.sh" -d "$sandbox_dir" up
    DOCKER_BIN=$sandbox_dir/bin/podman
    DOCKER_HOST=""
    say "sandbox ready: sample containers running, paused, exited and created"
else
    say "showing this node's own containers through '$node_rt'"
fi

mkdir -p "$state"
sed -e "s|@BIND@|$BIND|g" -e "s|@PORT@|$PORT|g" -e "s|@HULLMON@|$hullmon|g" \
    -e "s|@DOCROOT@|$here/deploy/host|g" -e "s|@STATE_DIR@|$state|g" \
    "$here/deploy/lighttpd.conf.in" >"$state/lighttpd.conf"
# lighttpd hands these to the program (and refuses to start if one is unset).
KELM_PASSWORD=${KELM_PASSWORD:-}
DOCKER_BIN=${DOCKER_BIN:-}
DOCKER_HOST=${DOCKER_HOST:-}
export KELM_PASSWORD DOCKER_BIN DOCKER_HOST PATH

: >"$state/error.log"
"$LIGHTTPD" -D -f "$state/lighttpd.conf" </dev/null &
lighttpd_pid=$!
i=0
until grep -q "server started" "$state/error.log" 2>/dev/null; do
    i=$((i+1))
    if ! kill -0 "$lighttpd_pid" 2>/dev/null || [ $i -gt 50 ]; then
        say "lighttpd did not start:"
        cat "$state/error.log" >&2
        exit 1
    fi
    sleep 0.1
done

echo
say "dashboard:   http://$BIND:$PORT/"
say "plugin page: http://$BIND:$PORT/hullmon"
[ -n "$KELM_PASSWORD" ] && say "node password is set: enter it on the host page"
say "Ctrl-C stops everything started here"
wait "$lighttpd_pid" || true
lighttpd_pid=""
