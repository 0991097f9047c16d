#!/bin/sh
# Everything `make test` does: install what is missing, build, run every
# test registered in CTest (unit, black-box cases, browser, real engine).
set -e
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build-test}

./scripts/deps.sh
for setup in tests/*/setup.sh fuzz/setup.sh; do
    [ -x "$setup" ] && "$setup"
done

cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD" -j2
# CTEST_ARGS: more ctest arguments, such as --output-junit FILE (.ci/run).
# shellcheck disable=SC2086 # one word per argument
ctest --test-dir "$BUILD" --output-on-failure -j2 ${CTEST_ARGS:-}
