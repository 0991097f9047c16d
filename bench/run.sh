#!/bin/sh
# What one request costs, beside its limits. Builds a release hullmon and
# measures, in one run:
#   info and the page      against the floor: a static C program that writes
#                          a few bytes;
#   list (256 containers), logs (100 lines of 2 KB) and control, with the
#                          fake runtime, against the same runtime command
#                          lines run by /bin/sh -c alone;
#   list on the podman sandbox against `podman ps` + `podman stats` with the
#                          same formats, run directly (skipped, with a note,
#                          when the sandbox cannot start).
# For each: median wall time (hyperfine, in alternating rounds so that the
# load of the machine falls on both sides alike), peak resident memory
# (/usr/bin/time -v) and instructions executed by the process itself,
# children excluded (callgrind).
#
# Usage: bench/run.sh            (make bench)
# Environment: BENCH_BUILD (build folder, default build-bench), BENCH_ROUNDS
# (default 10), BENCH_PODMAN_ROUNDS (default 3), BENCH_SANDBOX=0 to leave out the podman part.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
B=${BENCH_BUILD:-$here/build-bench}
ROUNDS=${BENCH_ROUNDS:-10}
SYS_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
FAKE=$here/tests/fixtures/fake_runtime
SANDBOX=$B/sandbox

say() { printf 'bench: %s\n' "$*" >&2; }


# --- tools --------------------------------------------------------------
install_tools() {
    "$here/scripts/deps.sh" hyperfine valgrind time jq cmake g++ gcc make libc6-dev
}

# --- build --------------------------------------------------------------
build() {
    say "building the release program in $B"
    cmake -S "$here" -B "$B" -DCMAKE_BUILD_TYPE=Release -DHULLMON_TESTS=OFF >"$B/configure.log" 2>&1 ||
        { cat "$B/configure.log" >&2; exit 1; }
    rm -f "$B/configure.log"
    cmake --build "$B" -j2 >/dev/null
    gcc -static -O2 -Wall -Wextra -o "$B/floor" "$here/bench/floor.c"
    gcc -static -O2 -Wall -Wextra -o "$B/sh2" "$here/bench/sh2.c"
}

# --- fixtures -----------------------------------------------------------
# The command lines hullmon builds for a runtime executable $1 (one a line),
# so that the references run exactly what hullmon runs.
list_lines() {
    printf "'%s' ps -a --format '{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}' 2>&1\n" "$1"
    printf "'%s' stats --no-stream --format '{{.ID}}|{{.CPUPerc}}|{{.MemUsage}}' 2>&1\n" "$1"
}

make_fixtures() {
    rt=$work/rt
    mkdir -p "$rt"
    export BENCH_IDS="$work/ids"
    # Identifiers are random hex, as the runtimes make them; the usage
    # lines come for every other container, in listing order.
    awk 'BEGIN {
        srand(6)
        states[0] = "running"; states[1] = "exited"; states[2] = "paused"; states[3] = "created"
        status["running"] = "Up 3 hours"; status["exited"] = "Exited (0) 5 minutes ago"
        status["paused"] = "Up 3 hours (Paused)"; status["created"] = "Created"
        for (i = 0; i < 256; i++) {
            id = sprintf("%06x%06x", int(rand() * 16777216), int(rand() * 16777216))
            print id >ENVIRON["BENCH_IDS"]
            st = states[i % 4]
            printf "%s|svc-%03d|registry.example/team/app-%d:1.%d|%s|%s|0.0.0.0:%d->80/tcp, [::]:%d->80/tcp\n",
                id, i, i % 17, i % 5, st, status[st], 8000 + i, 8000 + i
        }
    }' >"$rt/ps.out"
    awk 'NR % 2 == 1 {
        i = NR - 1
        printf "%s|%d.%02d%%|%d.%dMiB / 7.6GiB\n", $1, i % 7, i % 100, 10 + i % 90, i % 10
    }' "$work/ids" >"$rt/stats.out"
    # 100 lines of 2 KB each, line feed included, with a few bytes to escape.
    awk 'BEGIN {
        pad = ""
        for (k = 0; k < 1980; k++) pad = pad sprintf("%c", 97 + k % 26)
        for (i = 0; i < 100; i++) {
            line = sprintf("2024-05-01T12:%02d:%02dZ \"GET /items/%d\"\t%s", i % 60, i % 60, i, pad)
            printf "%s\n", substr(line, 1, 2047)
        }
    }' >"$rt/logs.out"
    printf 'c0ffee01\n' >"$rt/restart.out"

    list_lines "$FAKE" >"$work/list.lines"
    printf "'%s' logs --tail 100 c0ffee01 2>&1\n" "$FAKE" >"$work/logs.lines"
    printf "'%s' restart c0ffee01 2>&1\n" "$FAKE" >"$work/control.lines"
}

# --- measuring ----------------------------------------------------------
# The environment of a CGI run: only what a host would pass, and the
# runtime. run_env KEY=VALUE... COMMAND... runs COMMAND in it.
run_env() {
    env -i PATH="$SYS_PATH" GATEWAY_INTERFACE=CGI/1.1 SERVER_PROTOCOL=HTTP/1.1 \
        REQUEST_METHOD=GET DOCKER_BIN="$docker_bin" FAKE_RT_DIR="$work/rt" "$@"
}

median_ms() {
    sort -g "$1" | awk '{ v[NR] = $1 } END {
        if (NR == 0) { print "nan"; exit }
        m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.3f\n", m * 1000 }'
}

peak_kb() {
    run_env "$@" >/dev/null 2>&1 || true
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/time.out"
}

instructions() {
    awk '/^summary:/ { print $2 }' "$1"
}

# Calls into the allocator (malloc, calloc, realloc) recorded in a callgrind
# file; with --toggle-collect=main, those made from main on.
heap_calls() {
    awk '
    match($0, /^c?fn=\([0-9]+\)/) {
        id = substr($0, RSTART, RLENGTH); sub(/^c?fn=/, "", id)
        rest = substr($0, RLENGTH + 2)
        if (rest != "") name[id] = rest
        pending = ($0 ~ /^cfn=/) && (name[id] ~ /^(__libc_)?(malloc|calloc|realloc)$/)
        next
    }
    /^calls=/ { if (pending) { split(substr($0, 7), a, " "); n += a[1] } pending = 0; next }
    { pending = 0 }
    END { print n + 0 }' "$1"
}

# Mean CPU time (user + system, children included) per run of command i in
# a hyperfine result, in ms.
cpu_ms() {
    jq -r ".results[$2] | (.user + .system) * 1000" "$1"
}

# measure NAME RUNS "VAR=V ..." REFERENCE... -- HULLMON
# Times both sides in alternating rounds, then takes peak memory and
# instruction counts of each. Appends one row to the results.
measure() {
    name=$1 runs=$2 vars=$3
    shift 3
    ref=""
    while [ "$1" != "--" ]; do ref="$ref $1"; shift; done
    shift
    say "$name: $ROUNDS rounds of $runs runs each side"
    : >"$work/ref.times"
    : >"$work/hm.times"
    : >"$work/ref.cpu"
    : >"$work/hm.cpu"
    r=0
    while [ "$r" -lt "$ROUNDS" ]; do
        # Every other round hullmon goes first, so neither side always
        # runs right after the other.
        if [ $((r % 2)) -eq 0 ]; then
            first="$ref" second="$B/hullmon" ri=0 hi=1
        else
            first="$B/hullmon" second="$ref" ri=1 hi=0
        fi
        # shellcheck disable=SC2086
        run_env $vars hyperfine -N --output=pipe --style none -w 3 -r "$runs" \
            --export-json "$work/round.json" "$first" "$second" >/dev/null 2>"$work/hyperfine.err" ||
            { cat "$work/hyperfine.err" >&2; exit 1; }
        jq -r ".results[$ri].times[]" "$work/round.json" >>"$work/ref.times"
        jq -r ".results[$hi].times[]" "$work/round.json" >>"$work/hm.times"
        cpu_ms "$work/round.json" "$ri" >>"$work/ref.cpu"
        cpu_ms "$work/round.json" "$hi" >>"$work/hm.cpu"
        r=$((r + 1))
    done
    ref_ms=$(median_ms "$work/ref.times")
    hm_ms=$(median_ms "$work/hm.times")
    ref_cpu=$(awk '{ t += $1 } END { printf "%.3f", t / NR }' "$work/ref.cpu")
    hm_cpu=$(awk '{ t += $1 } END { printf "%.3f", t / NR }' "$work/hm.cpu")

    # shellcheck disable=SC2086
    ref_kb=$(peak_kb $vars /usr/bin/time -v -o "$work/time.out" $ref)
    # shellcheck disable=SC2086
    hm_kb=$(peak_kb $vars /usr/bin/time -v -o "$work/time.out" "$B/hullmon")

    # shellcheck disable=SC2086
    run_env $vars valgrind --tool=callgrind --callgrind-out-file="$work/ref.cg" $ref >/dev/null 2>&1
    # shellcheck disable=SC2086
    run_env $vars valgrind --tool=callgrind --callgrind-out-file="$work/hm.cg" "$B/hullmon" >/dev/null 2>&1
    # shellcheck disable=SC2086
    run_env $vars valgrind --tool=callgrind --toggle-collect=main --callgrind-out-file="$work/main.cg" \
        "$B/hullmon" >/dev/null 2>&1
    ref_ir=$(instructions "$work/ref.cg")
    hm_ir=$(instructions "$work/hm.cg")
    main_ir=$(instructions "$work/main.cg")
    main_heap=$(heap_calls "$work/main.cg")

    printf '%s %s %s %s %s %s %s %s %s %s %s\n' "$name" "$ref_ms" "$hm_ms" "$ref_cpu" "$hm_cpu" \
        "$ref_kb" "$hm_kb" "$ref_ir" "$hm_ir" "$main_ir" "$main_heap" >>"$work/results"
}

# --- podman sandbox -----------------------------------------------------
sandbox_started=0
sandbox_up() {
    [ "${BENCH_SANDBOX:-1}" = 0 ] && { sandbox_note="left out (BENCH_SANDBOX=0)"; return 1; }
    say "starting the podman sandbox in $SANDBOX"
    if ! "$here/scripts/sandbox.sh" -d "$SANDBOX" up >"$work/sandbox.log" 2>&1; then
        sandbox_note="skipped: the sandbox did not start ($(grep -v '^sandbox:' "$work/sandbox.log" | tail -n 1))"
        return 1
    fi
    sandbox_started=1
    count=$("$here/scripts/sandbox.sh" -d "$SANDBOX" podman ps -a -q | wc -l)
    sandbox_note="$count containers of the podman sandbox"
    return 0
}

cleanup() {
    if [ "$sandbox_started" = 1 ]; then
        "$here/scripts/sandbox.sh" -d "$SANDBOX" down >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}

# --- report -------------------------------------------------------------
report() {
    cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
    echo "Machine: $cpu, $(nproc) cores, Linux $(uname -r); load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "Wall time: median of $ROUNDS_DONE alternating rounds; CPU: user + system per run, children included."
    echo "Podman part: $sandbox_note"
    echo
    echo "| Request | Reference | Median wall (ms) | Ratio | Overhead | CPU (ms) | Ratio | Peak RSS (KB) | Ratio | Instructions: process, from main, reference | Allocator calls from main |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|"
    while read -r name ref_ms hm_ms ref_cpu hm_cpu ref_kb hm_kb ref_ir hm_ir main_ir main_heap; do
        case $name in
        info | page) what="static floor" ;;
        list-podman) what="podman ps + stats" ;;
        *) what="its commands via sh" ;;
        esac
        awk -v n="$name" -v w="$what" -v rm="$ref_ms" -v hm="$hm_ms" -v rc="$ref_cpu" -v hc="$hm_cpu" \
            -v rk="$ref_kb" -v hk="$hm_kb" -v ri="$ref_ir" -v hi="$hm_ir" -v mi="$main_ir" -v mh="$main_heap" 'BEGIN {
            printf "| %s | %s | %.3f vs %.3f | %.2fx | %+.3f ms (%+.1f%%) | %.2f vs %.2f | %.2fx | %d vs %d | %.2fx | %d, %d, %d | %d |\n",
                n, w, hm, rm, hm / rm, hm - rm, (hm - rm) * 100 / rm, hc, rc, hc / rc, hk, rk, hk / rk, hi, mi, ri, mh }'
    done <"$work/results"
}

# --- main ---------------------------------------------------------------
install_tools
mkdir -p "$B"
build
work=$(mktemp -d)
trap cleanup EXIT INT TERM
make_fixtures
: >"$work/results"
docker_bin=$FAKE

ROUNDS_DONE=$ROUNDS
measure info 60 "QUERY_STRING=action=info" "$B/floor" -- hullmon
measure page 60 "QUERY_STRING=" "$B/floor" -- hullmon
measure list 12 "QUERY_STRING=action=list" "$B/sh2" "$work/list.lines" -- hullmon
measure logs 12 "QUERY_STRING=action=logs&cid=c0ffee01" "$B/sh2" "$work/logs.lines" -- hullmon
measure control 12 "REQUEST_METHOD=POST QUERY_STRING=action=control&op=restart&cid=c0ffee01" \
    "$B/sh2" "$work/control.lines" -- hullmon

sandbox_note=""
if sandbox_up; then
    docker_bin=$SANDBOX/bin/podman
    list_lines "$docker_bin" >"$work/podman.lines"
    ROUNDS=${BENCH_PODMAN_ROUNDS:-3}
    measure list-podman 4 "QUERY_STRING=action=list" \
        "$B/sh2" "$work/podman.lines" -- hullmon
fi

report | tee "$B/bench-results.md"
