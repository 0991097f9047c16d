#!/bin/sh
# What one request costs, beside its limits. Measures the program that
# `make build` makes (or builds a release hullmon of its own), in one run:
#   info and the page      against the floor: a static C program that writes
#                          a few bytes;
#   list (256 containers)  with the fake runtime, against each of its two
#                          runtime command lines run by /bin/sh -c alone
#                          (list starts both at once, so it is held against
#                          the slower one);
#   list (5,000 containers) the same with 5,000 rows: hullmon's own work per
#                          row (instructions from main) against the 256-row
#                          list's;
#   logs (100 lines of 2 KB) and control, with the fake runtime, against
#                          the same runtime command line run by /bin/sh -c;
#   list on the podman sandbox against `podman ps` and `podman stats` with
#                          the same formats, each run alone (skipped, with a
#                          note, when the sandbox cannot start).
# For each: median wall time (hyperfine, in rounds whose order rotates so
# that the load of the machine falls on every side alike), peak resident
# memory (/usr/bin/time -v) and instructions executed by the process itself,
# children excluded (callgrind).
#
# Usage: bench/run.sh            (make bench)
# Environment: BENCH_PROGRAM (the hullmon to measure; make bench passes
# build/hullmon; unset: a release program is built in the build folder),
# BENCH_BUILD (build folder for that program, the references and the
# sandbox, default build-bench), BENCH_ROUNDS (default 10),
# BENCH_PODMAN_ROUNDS (default 6), BENCH_SANDBOX=0 to leave out the podman
# part, BENCH_ONLY (names of the rows to measure, e.g. "info page
# list-podman"; default all).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
B=${BENCH_BUILD:-$here/build-bench}
HM=${BENCH_PROGRAM:-$B/hullmon}
ONLY=${BENCH_ONLY:-}
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
    if [ -n "${BENCH_PROGRAM:-}" ]; then
        [ -x "$HM" ] || { say "BENCH_PROGRAM=$HM is not an executable program"; exit 1; }
        say "measuring $HM"
    else
        say "building the release program in $B"
        cmake -S "$here" -B "$B" -DCMAKE_BUILD_TYPE=Release -DHULLMON_TESTS=OFF >"$B/configure.log" 2>&1 ||
            { cat "$B/configure.log" >&2; exit 1; }
        rm -f "$B/configure.log"
        cmake --build "$B" -j2 >/dev/null
    fi
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

# listing_fixture N DIR: ps.out and stats.out of N containers in DIR.
# Identifiers are random hex, as the runtimes make them; the usage lines
# come for every other container, in listing order.
listing_fixture() {
    mkdir -p "$2"
    awk -v n="$1" -v ids="$2/ids" 'BEGIN {
        srand(6)
        states[0] = "running"; states[1] = "exited"; states[2] = "paused"; states[3] = "created"
        status["running"] = "Up 3 hours"; status["exited"] = "Exited (0) 5 minutes ago"
        status["paused"] = "Up 3 hours (Paused)"; status["created"] = "Created"
        for (i = 0; i < n; i++) {
            id = sprintf("%06x%06x", int(rand() * 16777216), int(rand() * 16777216))
            print id >ids
            st = states[i % 4]
            printf "%s|svc-%03d|registry.example/team/app-%d:1.%d|%s|%s|0.0.0.0:%d->80/tcp, [::]:%d->80/tcp\n",
                id, i, i % 17, i % 5, st, status[st], 8000 + i % 50000, 8000 + i % 50000
        }
    }' >"$2/ps.out"
    awk 'NR % 2 == 1 {
        i = NR - 1
        printf "%s|%d.%02d%%|%d.%dMiB / 7.6GiB\n", $1, i % 7, i % 100, 10 + i % 90, i % 10
    }' "$2/ids" >"$2/stats.out"
}

make_fixtures() {
    rt=$work/rt
    listing_fixture 256 "$rt"
    listing_fixture 5000 "$work/rt5000"
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
    sed -n 1p "$work/list.lines" >"$work/ps.lines"
    sed -n 2p "$work/list.lines" >"$work/stats.lines"
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

# measure NAME RUNS "VAR=V ..." LABEL:REFERENCE...
# Times hullmon and each reference command (LABEL names it in the report) in
# rounds whose order rotates, so that no side always runs right after
# another, then takes peak memory and instruction counts of each. Held
# against several references, hullmon's wall time is compared with the
# slowest of them, its CPU time and instructions with their sum (it does the
# work of all), its memory with the largest. A reference whose LABEL begins
# with "+" is timed alike but only shown beside the others, not held
# against. Appends one row to the results.
# The command of side K of the current measurement (0: hullmon, then the
# references in order), and its label.
side_cmd() { sed -n "$(($1 + 1))p" "$work/sides" | cut -f 2; }
side_label() { sed -n "$(($1 + 1))p" "$work/sides" | cut -f 1; }

measure() {
    name=$1 runs=$2 vars=$3
    shift 3
    case " $ONLY " in "  " | *" $name "*) ;; *) return 0 ;; esac
    # One line per side, "LABEL<tab>COMMAND": hullmon first, then the
    # references.
    printf 'hullmon\t%s\n' "$HM" >"$work/sides"
    for ref in "$@"; do
        printf '%s\t%s\n' "${ref%%:*}" "${ref#*:}" >>"$work/sides"
    done
    n=$#
    say "$name: $ROUNDS rounds of $runs runs each side"
    i=0
    while [ "$i" -le "$n" ]; do
        : >"$work/times.$i"
        : >"$work/cpu.$i"
        i=$((i + 1))
    done
    r=0
    while [ "$r" -lt "$ROUNDS" ]; do
        # This round's order: hullmon and the references, rotated by r.
        set --
        order=""
        j=0
        while [ "$j" -le "$n" ]; do
            k=$(((r + j) % (n + 1)))
            set -- "$@" "$(side_cmd "$k")"
            order="$order $k"
            j=$((j + 1))
        done
        # shellcheck disable=SC2086
        run_env $vars hyperfine -N --output=pipe --style none -w 3 -r "$runs" \
            --export-json "$work/round.json" "$@" >/dev/null 2>"$work/hyperfine.err" ||
            { cat "$work/hyperfine.err" >&2; exit 1; }
        p=0
        for k in $order; do
            jq -r ".results[$p].times[]" "$work/round.json" >>"$work/times.$k"
            cpu_ms "$work/round.json" "$p" >>"$work/cpu.$k"
            p=$((p + 1))
        done
        r=$((r + 1))
    done

    hm_ms=$(median_ms "$work/times.0")
    hm_cpu=$(awk '{ t += $1 } END { printf "%.3f", t / NR }' "$work/cpu.0")
    # shellcheck disable=SC2086
    hm_kb=$(peak_kb $vars /usr/bin/time -v -o "$work/time.out" "$HM")
    # shellcheck disable=SC2086
    run_env $vars valgrind --tool=callgrind --callgrind-out-file="$work/hm.cg" "$HM" >/dev/null 2>&1
    # shellcheck disable=SC2086
    run_env $vars valgrind --tool=callgrind --toggle-collect=main --callgrind-out-file="$work/main.cg" \
        "$HM" >/dev/null 2>&1
    hm_ir=$(instructions "$work/hm.cg")
    main_ir=$(instructions "$work/main.cg")
    main_heap=$(heap_calls "$work/main.cg")

    ref_ms=0 ref_cpu=0 ref_kb=0 ref_ir=0 detail="" shown=""
    i=1
    while [ "$i" -le "$n" ]; do
        label=$(side_label "$i") cmd=$(side_cmd "$i")
        ms=$(median_ms "$work/times.$i")
        case $label in
        +*)
            shown="$shown; ${label#+} $ms ms"
            i=$((i + 1))
            continue
            ;;
        esac
        cpu=$(awk '{ t += $1 } END { printf "%.3f", t / NR }' "$work/cpu.$i")
        # shellcheck disable=SC2086
        kb=$(peak_kb $vars /usr/bin/time -v -o "$work/time.out" $cmd)
        # shellcheck disable=SC2086
        run_env $vars valgrind --tool=callgrind --callgrind-out-file="$work/ref.cg" $cmd >/dev/null 2>&1
        ir=$(instructions "$work/ref.cg")
        ref_ms=$(awk -v a="$ref_ms" -v b="$ms" 'BEGIN { print (b > a) ? b : a }')
        ref_cpu=$(awk -v a="$ref_cpu" -v b="$cpu" 'BEGIN { printf "%.3f", a + b }')
        ref_kb=$((kb > ref_kb ? kb : ref_kb))
        ref_ir=$((ref_ir + ir))
        detail="$detail${detail:+, }$label $ms ms"
        i=$((i + 1))
    done
    [ "$n" -gt 1 ] || detail=$(side_label 1)
    detail=$detail$shown

    printf '%s %s %s %s %s %s %s %s %s %s %s %s\n' "$name" "$ref_ms" "$hm_ms" "$ref_cpu" "$hm_cpu" \
        "$ref_kb" "$hm_kb" "$ref_ir" "$hm_ir" "$main_ir" "$main_heap" "$detail" >>"$work/results"
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
    linked="statically linked"
    ldd "$HM" >/dev/null 2>&1 && linked="dynamically linked"
    echo "Machine: $cpu, $(nproc) cores, Linux $(uname -r); load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
    echo "Program: $HM ($linked)"
    echo "Wall time: median over $ROUNDS_DONE rounds ($PODMAN_ROUNDS for podman) in rotating order; CPU: user + system per run, children included."
    echo "Podman part: $sandbox_note"
    echo
    echo "| Request | Reference | Median wall (ms) | Ratio | Overhead | CPU (ms) | Ratio | Peak RSS (KB) | Ratio | Instructions: process, from main, reference | Allocator calls from main |"
    echo "|---|---|---|---|---|---|---|---|---|---|---|"
    while read -r name ref_ms hm_ms ref_cpu hm_cpu ref_kb hm_kb ref_ir hm_ir main_ir main_heap detail; do
        case $name in
        info | page) what="static floor" ;;
        list | list-5000 | list-podman) what="the slower of its two commands, each run alone ($detail)" ;;
        *) what="its command via sh" ;;
        esac
        awk -v n="$name" -v w="$what" -v rm="$ref_ms" -v hm="$hm_ms" -v rc="$ref_cpu" -v hc="$hm_cpu" \
            -v rk="$ref_kb" -v hk="$hm_kb" -v ri="$ref_ir" -v hi="$hm_ir" -v mi="$main_ir" -v mh="$main_heap" 'BEGIN {
            printf "| %s | %s | %.3f vs %.3f | %.2fx | %+.3f ms (%+.1f%%) | %.2f vs %.2f | %.2fx | %d vs %d | %.2fx | %d, %d, %d | %d |\n",
                n, w, hm, rm, hm / rm, hm - rm, (hm - rm) * 100 / rm, hc, rc, hc / rc, hk, rk, hk / rk, hi, mi, ri, mh }'
    done <"$work/results"
    echo
    echo "| Target (median wall) | Figure | Met |"
    echo "|---|---|---|"
    while read -r name ref_ms hm_ms rest; do
        case $name in
        info | page) target="\`$name\` within 1.2x of the static floor" limit=1.2 ;;
        list-podman) target="\`list\` on the podman sandbox within 1.15x of the slower of its two commands" limit=1.15 ;;
        *) continue ;;
        esac
        awk -v t="$target" -v l="$limit" -v rm="$ref_ms" -v hm="$hm_ms" 'BEGIN {
            printf "| %s | %.2fx | %s |\n", t, hm / rm, (hm / rm <= l) ? "yes" : "no" }'
    done <"$work/results"
    # hullmon's own work per row: instructions from main over the rows.
    awk '$1 == "list" { small = $10 / 256 } $1 == "list-5000" { large = $10 / 5000 }
        END {
            if (!small || !large) exit
            printf "| `list` instructions from main per row at 5,000 rows within 1.2x of 256 rows | %.0f vs %.0f: %.2fx | %s |\n",
                large, small, large / small, (large / small <= 1.2) ? "yes" : "no"
        }' "$work/results"
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
PODMAN_ROUNDS=${BENCH_PODMAN_ROUNDS:-6}
measure info 60 "QUERY_STRING=action=info" "floor:$B/floor"
measure page 60 "QUERY_STRING=" "floor:$B/floor"
measure list 12 "QUERY_STRING=action=list" "ps:$B/sh2 $work/ps.lines" "stats:$B/sh2 $work/stats.lines" \
    "+both started together:$B/sh2 -p $work/list.lines"
measure list-5000 6 "QUERY_STRING=action=list FAKE_RT_DIR=$work/rt5000" \
    "ps:$B/sh2 $work/ps.lines" "stats:$B/sh2 $work/stats.lines" \
    "+both started together:$B/sh2 -p $work/list.lines"
measure logs 12 "QUERY_STRING=action=logs&cid=c0ffee01" "sh:$B/sh2 $work/logs.lines"
measure control 12 "REQUEST_METHOD=POST QUERY_STRING=action=control&op=restart&cid=c0ffee01" \
    "sh:$B/sh2 $work/control.lines"

sandbox_note="left out (BENCH_ONLY)"
case " $ONLY " in
"  " | *" list-podman "*)
    if sandbox_up; then
        docker_bin=$SANDBOX/bin/podman
        list_lines "$docker_bin" >"$work/podman.lines"
        sed -n 1p "$work/podman.lines" >"$work/podman-ps.lines"
        sed -n 2p "$work/podman.lines" >"$work/podman-stats.lines"
        ROUNDS=$PODMAN_ROUNDS
        measure list-podman 4 "QUERY_STRING=action=list" \
            "ps:$B/sh2 $work/podman-ps.lines" "stats:$B/sh2 $work/podman-stats.lines" \
            "+both started together:$B/sh2 -p $work/podman.lines"
    fi
    ;;
esac

report | tee "$B/bench-results.md"
