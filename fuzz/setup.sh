#!/bin/sh
# Installs what the fuzz harnesses and the password timing check need, when
# missing: Debian's clang 14 with its fuzzer and sanitizer runtimes, cmake,
# and valgrind. Quick when everything is there.
exec "$(dirname "$0")/../scripts/deps.sh" clang-14 libclang-rt-14-dev cmake make valgrind
