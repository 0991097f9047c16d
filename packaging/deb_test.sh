#!/bin/sh
# The package as an operator gets it: builds it (packaging/deb.sh), checks
# its fields and files (the sudo route's wrappers and rules among them),
# runs the unpacked program behind Apache in front of
# the podman sandbox (tests/runtime/servers_test.mjs apache), and lets
# lintian judge it, allowing no error. Exits 77 (skip) when a tool is missing.
#
# usage: packaging/deb_test.sh BUILD_DIR SANDBOX_DIR [NODE]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
build=$1
sandbox=$2
node=${3:-node}

for tool in cpack dpkg-deb lintian readelf "$node"; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is missing (tests/runtime/setup.sh installs dpkg-dev and lintian)"
        exit 77
    fi
done

fail() {
    echo "FAIL $*"
    exit 1
}

deb=$("$here/packaging/deb.sh" "$build" | tail -n 1)
# The version as the program that deb.sh built says it (from project());
# the packed program must say the same.
version=$("$build/hullmon" --version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "hullmon_${version}_${arch}.deb" ] || fail "package name: $deb"
echo "ok   $(basename "$deb")"

fields=$(for f in Package Version Architecture Recommends Suggests Section; do printf '%s: %s\n' "$f" "$(dpkg-deb -f "$deb" "$f")"; done)
want="Package: hullmon
Version: $version
Architecture: $arch
Recommends: docker.io | podman
Suggests: apache2 | nginx | lighttpd, sudo
Section: web"
[ "$fields" = "$want" ] || fail "control fields:
$fields
expected:
$want"
echo "ok   control fields"

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
want=$( {
    echo ./usr/lib/cgi-bin/hullmon
    echo ./usr/lib/hullmon/sudo-docker
    echo ./usr/lib/hullmon/sudo-podman
    echo ./usr/share/hullmon/sudoers/docker
    echo ./usr/share/hullmon/sudoers/podman
    echo ./usr/share/lintian/overrides/hullmon
    for f in README.md DEPLOY.md changelog.gz copyright examples/apache.conf.in examples/nginx.conf.in examples/lighttpd.conf.in; do
        echo "./usr/share/doc/hullmon/$f"
    done
    [ -f "$here/docs/SECURITY.md" ] && echo ./usr/share/doc/hullmon/SECURITY.md
} | sort)
[ "$files" = "$want" ] || fail "files in the package:
$files
expected:
$want"
echo "ok   files"

unpacked=$build/unpacked
rm -rf "$unpacked"
dpkg-deb -x "$deb" "$unpacked"
program=$unpacked/usr/lib/cgi-bin/hullmon
[ "$("$program" --version)" = "$version" ] || fail "--version: $("$program" --version)"
if readelf -l "$program" | grep -q 'program interpreter'; then
    fail "the program is linked dynamically"
fi
echo "ok   the program is statically linked and says $version"

# The sudo route: the wrappers run for anyone, the rules are the tested
# ones from deploy/ and pass visudo, and nothing lands in /etc/sudoers.d
# (the route stays off until the operator installs a rule).
for w in sudo-docker sudo-podman; do
    mode=$(dpkg-deb -c "$deb" | awk -v f="./usr/lib/hullmon/$w" '$6 == f { print $1 }')
    [ "$mode" = "-rwxr-xr-x" ] || fail "$w: mode $mode"
    cmp -s "$unpacked/usr/lib/hullmon/$w" "$here/deploy/$w" || fail "$w differs from deploy/$w"
done
for rt in docker podman; do
    rule=$unpacked/usr/share/hullmon/sudoers/$rt
    cmp -s "$rule" "$here/deploy/sudoers/$rt" || fail "sudoers/$rt differs from deploy/sudoers/$rt"
    if command -v visudo >/dev/null 2>&1; then
        visudo -cf "$rule" >/dev/null || fail "visudo -cf sudoers/$rt: $(visudo -cf "$rule" 2>&1)"
    fi
done
echo "ok   the sudo route's wrappers and rules"

if ! lintian --fail-on error "$deb"; then
    fail "lintian reports errors"
fi
echo "ok   lintian"

status=0
"$node" "$here/tests/runtime/servers_test.mjs" apache --hullmon "$program" --sandbox "$sandbox" --repo "$here" || status=$?
exit $status
