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
#   SANDBOX         1: always use the bundled sandbox (podman); docker: the
#                   sandbox's own Docker Engine; 0: never; unset: choose
#
# The node's own runtime is used when the one hullmon selects (as its info
# action reports it: DOCKER_BIN, else docker, else podman on PATH) answers
# its own `info` command and holds at least one container; otherwise the
# bundled sandbox (scripts/sandbox.sh) is started with sample containers in
# every state, and stopped again on exit.
# SANDBOX=docker starts a real Docker Engine (Debian's dockerd) with its data
# under the build folder instead, with the same samples, reached through
# Debian's docker client; on exit the engine stops and its files go.
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

case ${SANDBOX:-} in
'' | 0 | 1 | docker) ;;
*) say "SANDBOX is 1, docker or 0, not '$SANDBOX'"; exit 2 ;;
esac
if ! command -v lighttpd >/dev/null 2>&1 && [ ! -x /usr/sbin/lighttpd ]; then
    "$here/scripts/deps.sh" lighttpd
fi
LIGHTTPD=$(command -v lighttpd 2>/dev/null || echo /usr/sbin/lighttpd)

lighttpd_pid=""
sandbox_started=0
engine_started=0
cleanup() {
    trap - INT TERM HUP EXIT
    # Whatever happened to the terminal or a pipe we print into, the
    # cleanup runs to its end.
    trap '' INT HUP PIPE
    set +e
    if [ -n "$lighttpd_pid" ]; then
        kill "$lighttpd_pid" 2>/dev/null || true
        wait "$lighttpd_pid" 2>/dev/null || true
    fi
    if [ "$sandbox_started" -eq 1 ]; then
        say "stopping the sandbox's containers"
        "$here/scripts/sandbox.sh" -d "$sandbox_dir" down || true
    fi
    if [ "$engine_started" -eq 1 ]; then
        say "stopping the sandbox's Docker Engine and removing its files"
        "$here/scripts/sandbox.sh" -d "$sandbox_dir" undockerd || true
    fi
}
trap cleanup EXIT
trap 'exit 0' INT   # Ctrl-C is the normal way to stop
trap 'exit 143' TERM
trap 'exit 129' HUP   # the terminal was closed

# The runtime hullmon itself selects here: its info action names it
# ("runtime":{"available":true,"bin":...}), so the rule has one home.
node_rt=$(QUERY_STRING=action=info HTTP_X_KELM_PASSWORD=${KELM_PASSWORD:-} "$hullmon" |
    sed -n 's/.*"runtime":{"available":true,"bin":"\([^"\\]*\)".*/\1/p')

use_sandbox=1
why="no docker or podman on this node"
if [ "${SANDBOX:-}" = 1 ]; then
    why="SANDBOX=1"
elif [ "${SANDBOX:-}" = docker ]; then
    use_sandbox=docker
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
if [ "$use_sandbox" = 1 ] && [ "${SANDBOX:-}" = 0 ]; then
    say "SANDBOX=0 but $why"
    exit 1
fi

if [ "$use_sandbox" = docker ]; then
    say "SANDBOX=docker: starting the sandbox's Docker Engine (dockerd, data in $sandbox_dir/dockerd)"
    engine_started=1
    DOCKER_HOST=$("$here/scripts/sandbox.sh" -d "$sandbox_dir" dockerd-up)
    DOCKER_BIN=""
    # hullmon looks docker up on PATH: Debian's client comes first.
    PATH=/usr/bin:$PATH
    say "Docker Engine ready at $DOCKER_HOST: sample containers running, paused, exited and created"
elif [ "$use_sandbox" = 1 ]; then
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
