# Shared by the sandbox's engine scripts (sandbox-podman.sh,
# sandbox-docker.sh): the sandbox folder, package checks, the busybox image's
# file system and the sample containers. Sourced, never run.
#
# The caller sets nothing; after sourcing, `dir` is the sandbox folder (from
# -d DIR, else $HULLMON_SANDBOX, else build/sandbox in the checkout) and
# `cmd` and "$@" the command and its arguments.

here=$(cd "$(dirname "$0")/.." && pwd)
dir=${HULLMON_SANDBOX:-$here/build/sandbox}
if [ "${1:-}" = "-d" ]; then
    [ $# -ge 2 ] || { echo "sandbox: -d needs a folder" >&2; exit 2; }
    dir=$2
    shift 2
fi
cmd=${1:-help}
[ $# -gt 0 ] && shift

case $dir in
/*) ;;
*) dir=$(pwd)/$dir ;;
esac
case $dir in
*\'* | *'"'* | *'
'*)
    echo "sandbox: the folder name may not contain quotes or line feeds: $dir" >&2
    exit 2 ;;
esac

IMAGE=localhost/hullmon-sandbox:latest
LABEL=hullmon.sandbox
SYS_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

say() { printf 'sandbox: %s\n' "$*" >&2; }

# Installs the Debian packages that are missing (see scripts/deps.sh).
apt_install() {
    "$here/scripts/deps.sh" "$@"
}

# Prints those of the named Debian packages that are not installed.
missing_packages() {
    out=""
    for pkg in "$@"; do
        dpkg -s "$pkg" >/dev/null 2>&1 || out="$out $pkg"
    done
    echo "${out# }"
}

# Fails, naming what is missing, instead of installing: tests call the
# commands that use this, and a test never installs anything.
require_packages() {
    absent=$(missing_packages "$@")
    if [ -n "$absent" ]; then
        say "missing Debian packages: $absent (scripts/sandbox.sh install installs them)"
        exit 1
    fi
}

require_root() {
    if [ "$(id -u)" -ne 0 ]; then
        # Rootless engines need subordinate ids and a setup of their own.
        say "the sandbox runs $1 as root: run this as root (or with sudo)"
        exit 1
    fi
}

# The image's file system as a tar: Debian's static busybox and the links
# the samples and tests call it by.
rootfs_tar() {
    root=$dir/image/rootfs
    rm -rf "$dir/image"
    mkdir -p "$root/bin" "$root/tmp" "$root/etc" "$root/proc" "$root/sys" "$root/dev"
    cp /bin/busybox "$root/bin/busybox"
    for applet in sh sleep echo date cat ls printf seq env hostname uname head tail wc true false; do
        ln -s busybox "$root/bin/$applet"
    done
    printf 'root:x:0:0:root:/:/bin/sh\n' >"$root/etc/passwd"
    printf 'root:x:0:\n' >"$root/etc/group"
    tar -C "$root" -cf "$dir/image/rootfs.tar" .
}

# run_sample NAME [podman run options --] SCRIPT
run_sample() {
    name=$1
    shift
    opts=""
    while [ $# -gt 1 ] && [ "$1" != "--" ]; do opts="$opts $1"; shift; done
    [ "${1:-}" = "--" ] && shift
    # A stop sends TERM; the trap ends the loop at once instead of waiting
    # for the engine's timeout.
    $engine run -d --name "$name" --label "$LABEL=sample" --stop-timeout 3 $opts \
        "$IMAGE" sh -c "$1" >/dev/null
}

# The sample containers go to the engine that $engine names: sb_podman
# (the default) or sb_docker.
engine=sb_podman

cmd_samples() {
    remove_samples
    web='trap "exit 0" TERM; n=0; echo "web: listening on :8080"; while :; do n=$((n+1)); echo "$(date -u +%Y-%m-%dT%H:%M:%SZ) \"GET /items/$n HTTP/1.1\" 200 $((n * 37 % 900 + 100))"; sleep 2; done'
    worker='trap "echo worker: stopping; exit 0" TERM; echo "worker: started"; i=0; while :; do i=$((i+1)); echo "worker: job $i done in $((i % 9 + 1))ms"; sleep 3; done'
    ticker='trap "exit 0" TERM; while :; do echo "tick $(date -u +%H:%M:%S)"; sleep 5; done'
    batch='echo "batch: 3 files processed"; echo "batch: done"'

    if [ "$engine" = sb_docker ]; then
        # The sandbox's Docker Engine runs without a bridge network.
        run_sample sample-web --network none -- "$web"
    elif ! run_sample sample-web -p 127.0.0.1::8080 -- "$web" 2>"$dir/web.err"; then
        # Publishing a port needs the engine's network stack; without it
        # the page still shows a running container, just with no port.
        say "no published port here ($(head -n 1 "$dir/web.err")); sample-web runs without one"
        remove_containers sample-web
        run_sample sample-web --network none -- "$web"
    fi
    run_sample sample-worker --network none -- "$worker"
    run_sample sample-paused --network none -- "$ticker"
    run_sample sample-batch --network none -- "$batch"
    # Polled: `podman wait` can take tens of seconds to notice an exit when
    # it runs without a terminal.
    i=0
    until $engine inspect --format '{{.State.Status}}' sample-batch | grep -qE '^(exited|stopped)$'; do
        i=$((i+1))
        [ $i -gt 100 ] && break
        sleep 0.1
    done
    $engine create --name sample-new --label "$LABEL=sample" --network none \
        "$IMAGE" sh -c 'echo "new: first start"; sleep 3600' >/dev/null
    if ! $engine pause sample-paused >/dev/null 2>"$dir/pause.err"; then
        say "pause is not possible here ($(head -n 1 "$dir/pause.err")); sample-paused keeps running"
    fi
}

remove_containers() {
    if [ "$engine" = sb_docker ]; then
        sb_docker rm -f "$@" >/dev/null 2>&1 || true
    else
        sb_podman rm -f -t 0 "$@" >/dev/null 2>&1 || true
    fi
}

remove_samples() {
    ids=$($engine ps -a -q --filter "label=$LABEL=sample")
    # shellcheck disable=SC2086 # one word per id
    [ -n "$ids" ] && remove_containers $ids
    return 0
}

