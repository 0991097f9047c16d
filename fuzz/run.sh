#!/bin/sh
# Builds the libFuzzer harnesses and runs them.
#
#   fuzz/run.sh short [seconds]  each harness replays its kept inputs
#                                (fuzz/regressions/<harness>/: faults found
#                                once, and inputs longer than the fuzzer's
#                                length limit, such as 1 MB query texts),
#                                then fuzzes
#                                from its seed corpus with a fixed seed for a
#                                few seconds (default 5); fails on any fault.
#   fuzz/run.sh long [seconds]   (the default; `make fuzz`) each harness in
#                                turn, one at a time, for the given seconds
#                                (default 300), growing a corpus kept in the
#                                build folder.
#
# A crashing input is written to fuzz/regressions/<harness>/ so that every
# later short run replays it; commit it with the fix. The build folder is
# $FUZZ_BUILD (default build-fuzz).
set -e
cd "$(dirname "$0")/.."
mode=${1:-long}
case $mode in
short) seconds=${2:-5} ;;
long) seconds=${2:-300} ;;
*) echo "usage: $0 [short|long] [seconds]" >&2; exit 2 ;;
esac
BUILD=${FUZZ_BUILD:-build-fuzz}
HARNESSES="query_fuzz json_str_fuzz listing_fuzz logs_fuzz request_fuzz"

if [ "$mode" = short ]; then
    # The short run is a CTest test, and a test installs nothing: without
    # the tools it skips (CTest's skip code); `make test` installs them
    # beforehand through fuzz/setup.sh.
    for tool in clang++-14 cmake; do
        if ! command -v "$tool" >/dev/null 2>&1; then
            echo "skipped: $tool is missing (fuzz/setup.sh installs it)"
            exit 77
        fi
    done
    if ! clang++-14 -print-file-name="libclang_rt.fuzzer-$(uname -m).a" | grep -q /; then
        echo "skipped: clang's libFuzzer runtime is missing (fuzz/setup.sh installs libclang-rt-14-dev)"
        exit 77
    fi
else
    ./fuzz/setup.sh
fi
# The main build with HULLMON_FUZZ: the harnesses over the program's own
# libraries. A folder once configured from another source tree (fuzz/ was a
# project of its own) is configured afresh.
if [ -f "$BUILD/CMakeCache.txt" ] && ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$PWD" "$BUILD/CMakeCache.txt"; then
    rm -rf "$BUILD/CMakeCache.txt" "$BUILD/CMakeFiles"
fi
cmake -S . -B "$BUILD" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
    -DHULLMON_FUZZ=ON -DHULLMON_TESTS=OFF >/dev/null
# shellcheck disable=SC2086 # one word per harness
cmake --build "$BUILD" -j2 --target $HARNESSES >/dev/null

max_len() {
    case $1 in
    listing_fuzz | request_fuzz) echo 20000 ;;
    logs_fuzz) echo 10000 ;;
    *) echo 4096 ;;
    esac
}

failed=""
for h in $HARNESSES; do
    regressions=fuzz/regressions/$h
    mkdir -p "$regressions"
    kept=$(find "$regressions" -type f ! -name '.*' | sort)
    if [ -n "$kept" ]; then
        echo "== $h: replaying $(echo "$kept" | wc -l) kept input(s)"
        # Whole files: a length limit would cut them.
        # shellcheck disable=SC2086
        if ! "$BUILD/fuzz/$h" $kept >"$BUILD/$h.replay.log" 2>&1; then
            echo "$h: a kept input still fails, see $BUILD/$h.replay.log"
            failed="$failed $h"
            continue
        fi
    fi
    set -- -max_len="$(max_len $h)" -timeout=10 -artifact_prefix="$regressions/" -print_final_stats=1
    [ -f fuzz/$h.dict ] && set -- "$@" -dict=fuzz/$h.dict
    if [ "$mode" = short ]; then
        corpus=$BUILD/short/$h
        rm -rf "$corpus"
        set -- "$@" -seed=1
    else
        corpus=$BUILD/corpus/$h
    fi
    mkdir -p "$corpus"
    echo "== $h: fuzzing for ${seconds}s"
    if "$BUILD/fuzz/$h" "$@" -max_total_time="$seconds" "$corpus" "fuzz/corpus/$h" >"$BUILD/$h.log" 2>&1; then
        grep -E 'stat::number_of_executed_units|DONE' "$BUILD/$h.log" | sed "s/^/   /"
    else
        echo "$h: fault found, input kept in $regressions/; log: $BUILD/$h.log"
        grep -E 'ERROR|check failed|SUMMARY' "$BUILD/$h.log" | head -5 | sed "s/^/   /"
        failed="$failed $h"
    fi
done

if [ -n "$failed" ]; then
    echo "fuzzing failed:$failed"
    exit 1
fi
echo "fuzzing passed: $HARNESSES"
