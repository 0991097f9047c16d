#!/bin/sh
# The page's rows of `make bench` (bench/page.mjs): the page as it is beside
# the page as it was before the rows came at once (commit 0653b22), on the
# podman sandbox and on the sandbox's Docker Engine, and the page with 5,000
# containers from the fake runtime.
#
# Usage: bench/page.sh          (bench/run.sh runs it last)
# Environment: BENCH_PROGRAM (the hullmon to measure; unset: the one in the
# build folder), BENCH_BUILD (build folder, default build-bench; the program
# before is built in <build>/page-before, the engines live in
# <build>/sandbox), BENCH_PAGE_BEFORE (the commit of the page before, default
# 0653b22), BENCH_PAGE_ROUNDS (navigations per page and engine, default 10),
# BENCH_SANDBOX=0 to leave out both engines. Prints Markdown tables and keeps
# them in <build>/bench-page.md. Stops every engine it started.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
B=${BENCH_BUILD:-$here/build-bench}
HM=${BENCH_PROGRAM:-$B/hullmon}
BEFORE=${BENCH_PAGE_BEFORE:-0653b22}
SANDBOX=$B/sandbox
say() { printf 'bench: %s\n' "$*" >&2; }

[ -x "$HM" ] || { say "no program to measure at $HM"; exit 1; }
# Chromium, lighttpd and playwright-core, as the browser tests use them.
"$here/tests/browser/setup.sh" >/dev/null

# The program before, from the repository's own history.
old=$B/page-before
if [ ! -x "$old/build/hullmon" ] || [ "$(cat "$old/commit" 2>/dev/null)" != "$BEFORE" ]; then
    say "building the page before ($BEFORE) in $old"
    rm -rf "$old"
    mkdir -p "$old/src"
    git -C "$here" archive "$BEFORE" | tar -x -C "$old/src"
    cmake -S "$old/src" -B "$old/build" -DCMAKE_BUILD_TYPE=Release -DHULLMON_TESTS=OFF >/dev/null
    cmake --build "$old/build" -j2 >/dev/null
    echo "$BEFORE" >"$old/commit"
fi

podman_up=0 docker_up=0
cleanup() {
    if [ "$docker_up" = 1 ]; then "$here/scripts/sandbox.sh" -d "$SANDBOX" undockerd >/dev/null 2>&1 || true; fi
    if [ "$podman_up" = 1 ]; then "$here/scripts/sandbox.sh" -d "$SANDBOX" down >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

PODMAN_BIN="" DOCKER_HOST=""
if [ "${BENCH_SANDBOX:-1}" != 0 ]; then
    say "starting the podman sandbox and the sandbox's Docker Engine in $SANDBOX"
    if "$here/scripts/sandbox.sh" -d "$SANDBOX" up >/dev/null 2>&1; then
        podman_up=1
        PODMAN_BIN=$SANDBOX/bin/podman
    else
        say "the podman sandbox did not start: its rows are left out"
    fi
    docker_up=1
    DOCKER_HOST=$("$here/scripts/sandbox.sh" -d "$SANDBOX" dockerd-up 2>/dev/null) ||
        { say "the Docker Engine did not start: its rows are left out"; DOCKER_HOST=""; }
fi

PAGE_NOW=$HM PAGE_BEFORE=$old/build/hullmon FAKE_RUNTIME=$here/tests/fixtures/fake_runtime \
    PODMAN_BIN=$PODMAN_BIN DOCKER_HOST=$DOCKER_HOST DOCKER_CLIENT=/usr/bin/docker \
    PAGE_ROUNDS=${BENCH_PAGE_ROUNDS:-10} node "$here/bench/page.mjs" | tee "$B/bench-page.md"
