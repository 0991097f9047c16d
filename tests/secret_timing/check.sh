#!/bin/sh
# The password comparison must not tell, by the work it does, how much of a
# guess was right. Counts the instructions same_secret executes (valgrind's
# callgrind, collecting only inside same_secret) for guesses of the
# password's length that differ from it at the first byte, in the middle, at
# the last byte, and for the password itself, and requires equal counts.
# The probe is built with the program's own compiler and optimisation.
#
# usage: tests/secret_timing/check.sh [c++ compiler] [flags...]
set -e
here=$(cd "$(dirname "$0")" && pwd)
src=$here/../../src
cxx=${1:-c++}
[ $# -gt 0 ] && shift
flags=${*:--O2 -g}
if ! command -v valgrind >/dev/null; then
    echo "skipped: valgrind is missing (scripts/deps.sh installs it)"
    exit 77
fi

work=$(mktemp -d /tmp/hullmon-secret-XXXXXX)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2086
"$cxx" -std=c++17 $flags -I"$src" -o "$work/probe" "$here/probe.cpp" "$src/cgi/auth.cpp" "$src/cgi/query.cpp" "$src/reply/head.cpp"

secret='correct horse battery staple, 32'
count() {
    rm -f "$work/out"
    valgrind --tool=callgrind --callgrind-out-file="$work/out" --collect-atstart=no \
        --toggle-collect='same_secret*' "$work/probe" "$secret" "$1" >/dev/null 2>&1 || true
    sed -n 's/^summary: *//p' "$work/out"
}

first=$(count 'Xorrect horse battery staple, 32')
middle=$(count 'correct horse baXtery staple, 32')
last=$(count 'correct horse battery staple, 3X')
same=$(count "$secret")
echo "instructions: first byte differs $first, middle $middle, last $last, equal $same"
if [ -z "$first" ] || [ "$first" -eq 0 ]; then
    echo "no instructions counted inside same_secret"
    exit 1
fi
if [ "$first" != "$middle" ] || [ "$first" != "$last" ] || [ "$first" != "$same" ]; then
    echo "same_secret does work that depends on where the guess differs"
    exit 1
fi
echo "same_secret takes the same path whatever the first differing byte"
