#!/bin/sh
# The bundled container sandbox: Debian's podman with runc, with its own
# configuration, storage and state under one folder, so that it never sees or
# touches the machine's own containers. hullmon reaches it either through the
# wrapper <dir>/bin/podman (as DOCKER_BIN, or as `podman` on PATH) or, with
# the service running, through the real docker client and
# DOCKER_HOST=unix://<dir>/podman.sock.
#
# Usage: scripts/sandbox.sh [-d DIR] COMMAND [ARGS]
#   install   install podman, runc, busybox-static and netavark when missing
#   prepare   install, write the engine configuration and the wrapper, build
#             the busybox image (no registry needed)
#   up        prepare, then (re)create the sample containers
#   samples   (re)create the sample containers only
#   service   start the Docker-compatible API on <dir>/podman.sock
#   unservice stop that API service
#   down      remove every container of the sandbox and stop the service
#   purge     down, then delete the whole folder
#   env       print export lines for a shell (eval "$(scripts/sandbox.sh env)")
#   podman    run the sandbox's podman with the remaining arguments
#   status    show the sandbox's containers
# DIR defaults to $HULLMON_SANDBOX, else build/sandbox in the checkout.
set -eu

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
REAL_PODMAN=/usr/bin/podman
SYS_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
PACKAGES="podman runc busybox-static netavark iptables"

say() { printf 'sandbox: %s\n' "$*" >&2; }

# Installs the Debian packages that are missing (see scripts/deps.sh).
apt_install() {
    "$here/scripts/deps.sh" "$@"
}

sb_podman() {
    CONTAINERS_CONF=$dir/containers.conf CONTAINERS_STORAGE_CONF=$dir/storage.conf \
        PATH=$SYS_PATH "$REAL_PODMAN" "$@"
}

# State under run/ belongs to one boot of the machine, like /run: after a
# reboot the engine must not believe that containers are still running.
forget_previous_boot() {
    boot=$(cat /proc/sys/kernel/random/boot_id 2>/dev/null || echo unknown)
    if [ -d "$dir/run" ] && [ "$(cat "$dir/run/boot_id" 2>/dev/null)" != "$boot" ]; then
        rm -rf "$dir/run"
        rm -f "$dir/service.pid" "$dir/podman.sock"
    fi
    mkdir -p "$dir/run"
    echo "$boot" >"$dir/run/boot_id"
}

write_storage_conf() {
    cat >"$dir/storage.conf" <<EOF
[storage]
driver = "$1"
runroot = "$dir/run/storage"
graphroot = "$dir/storage"
EOF
}

write_config() {
    mkdir -p "$dir/bin" "$dir/storage" "$dir/networks"
    forget_previous_boot
    # default_ulimits: the engine's default ulimits cannot be applied inside
    # this kind of machine; runc: crun is not what Debian's podman finds here.
    cat >"$dir/containers.conf" <<EOF
[containers]
default_ulimits = []

[engine]
runtime = "runc"
tmp_dir = "$dir/run/libpod"

[network]
network_config_dir = "$dir/networks"
EOF
    # The storage driver stays what it was first found to be: the layers
    # already stored depend on it. overlay where the folder's file system
    # allows it, else vfs (slower, works everywhere).
    if [ ! -f "$dir/storage.conf" ]; then
        write_storage_conf overlay
        if ! sb_podman info >/dev/null 2>&1; then
            write_storage_conf vfs
        fi
    fi
    cat >"$dir/bin/podman.tmp" <<EOF
#!/bin/sh
# podman bound to the hullmon sandbox in $dir
CONTAINERS_CONF='$dir/containers.conf'
CONTAINERS_STORAGE_CONF='$dir/storage.conf'
export CONTAINERS_CONF CONTAINERS_STORAGE_CONF
PATH="\${PATH:+\$PATH:}$SYS_PATH"
export PATH
exec $REAL_PODMAN "\$@"
EOF
    chmod 755 "$dir/bin/podman.tmp"
    mv "$dir/bin/podman.tmp" "$dir/bin/podman"
}

build_image() {
    sb_podman image exists "$IMAGE" && return 0
    say "building $IMAGE from the static busybox"
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
    if ! sb_podman import --change 'CMD ["/bin/sh"]' "$dir/image/rootfs.tar" "$IMAGE" >"$dir/image/import.log" 2>&1; then
        cat "$dir/image/import.log" >&2
        return 1
    fi
}

cmd_prepare() {
    if [ "$(id -u)" -ne 0 ]; then
        # Rootless podman needs subordinate ids and a setup of its own.
        say "the sandbox runs podman as root: run this as root (or with sudo)"
        exit 1
    fi
    apt_install $PACKAGES
    write_config
    build_image
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
    sb_podman run -d --name "$name" --label "$LABEL=sample" --stop-timeout 3 $opts \
        "$IMAGE" sh -c "$1" >/dev/null
}

cmd_samples() {
    remove_samples
    web='trap "exit 0" TERM; n=0; echo "web: listening on :8080"; while :; do n=$((n+1)); echo "$(date -u +%Y-%m-%dT%H:%M:%SZ) \"GET /items/$n HTTP/1.1\" 200 $((n * 37 % 900 + 100))"; sleep 2; done'
    worker='trap "echo worker: stopping; exit 0" TERM; echo "worker: started"; i=0; while :; do i=$((i+1)); echo "worker: job $i done in $((i % 9 + 1))ms"; sleep 3; done'
    ticker='trap "exit 0" TERM; while :; do echo "tick $(date -u +%H:%M:%S)"; sleep 5; done'
    batch='echo "batch: 3 files processed"; echo "batch: done"'

    if ! run_sample sample-web -p 127.0.0.1::8080 -- "$web" 2>"$dir/web.err"; then
        # Publishing a port needs the engine's network stack; without it
        # the page still shows a running container, just with no port.
        say "no published port here ($(head -n 1 "$dir/web.err")); sample-web runs without one"
        sb_podman rm -f -t 0 sample-web >/dev/null 2>&1 || true
        run_sample sample-web --network none -- "$web"
    fi
    run_sample sample-worker --network none -- "$worker"
    run_sample sample-paused --network none -- "$ticker"
    run_sample sample-batch --network none -- "$batch"
    # Polled: `podman wait` can take tens of seconds to notice an exit when
    # it runs without a terminal.
    i=0
    until sb_podman inspect --format '{{.State.Status}}' sample-batch | grep -qE '^(exited|stopped)$'; do
        i=$((i+1))
        [ $i -gt 100 ] && break
        sleep 0.1
    done
    sb_podman create --name sample-new --label "$LABEL=sample" --network none \
        "$IMAGE" sh -c 'echo "new: first start"; sleep 3600' >/dev/null
    if ! sb_podman pause sample-paused >/dev/null 2>"$dir/pause.err"; then
        say "pause is not possible here ($(head -n 1 "$dir/pause.err")); sample-paused keeps running"
    fi
}

remove_samples() {
    ids=$(sb_podman ps -a -q --filter "label=$LABEL=sample")
    [ -n "$ids" ] && sb_podman rm -f -t 0 $ids >/dev/null
    return 0
}

service_pid() {
    pid=$(cat "$dir/service.pid" 2>/dev/null || true)
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
    return 0
}

cmd_service() {
    [ -f "$dir/containers.conf" ] || cmd_prepare
    forget_previous_boot
    if [ -n "$(service_pid)" ]; then
        echo "unix://$dir/podman.sock"
        return 0
    fi
    rm -f "$dir/podman.sock"
    # setsid: a Ctrl-C meant for the caller's foreground job must not reach
    # the service; whoever started it stops it with `unservice`.
    CONTAINERS_CONF=$dir/containers.conf CONTAINERS_STORAGE_CONF=$dir/storage.conf PATH=$SYS_PATH \
        setsid "$REAL_PODMAN" system service --time=0 "unix://$dir/podman.sock" \
        </dev/null >"$dir/service.log" 2>&1 &
    echo $! >"$dir/service.pid"
    i=0
    while [ ! -S "$dir/podman.sock" ]; do
        i=$((i+1))
        if [ $i -gt 100 ] || [ -z "$(service_pid)" ]; then
            say "the API service did not start; see $dir/service.log"
            cat "$dir/service.log" >&2
            return 1
        fi
        sleep 0.1
    done
    echo "unix://$dir/podman.sock"
}

cmd_unservice() {
    pid=$(service_pid)
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i+1)); done
        kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/service.pid" "$dir/podman.sock"
}

cmd_down() {
    cmd_unservice
    if [ -x "$REAL_PODMAN" ] && [ -f "$dir/containers.conf" ]; then
        sb_podman rm -a -f -t 0 >/dev/null 2>&1 || true
    fi
}

cmd_env() {
    echo "export CONTAINERS_CONF='$dir/containers.conf'"
    echo "export CONTAINERS_STORAGE_CONF='$dir/storage.conf'"
    echo "export DOCKER_BIN='$dir/bin/podman'"
    if [ -n "$(service_pid)" ]; then
        echo "export DOCKER_HOST='unix://$dir/podman.sock'"
    fi
}

case $cmd in
install) apt_install $PACKAGES ;;
prepare) cmd_prepare ;;
up) cmd_prepare; cmd_samples ;;
samples) cmd_samples ;;
service) cmd_service ;;
unservice) cmd_unservice ;;
down) cmd_down ;;
purge)
    cmd_down
    # The engine's layers may be mounted or owned by other users' ids.
    if [ -f "$dir/containers.conf" ] && [ -x "$REAL_PODMAN" ]; then
        sb_podman system reset -f >/dev/null 2>&1 || true
    fi
    rm -rf "$dir" ;;
env) cmd_env ;;
podman) sb_podman "$@" ;;
status) sb_podman ps -a ;;
help | -h | --help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//' ;;
*) echo "sandbox: unknown command: $cmd (try help)" >&2; exit 2 ;;
esac
