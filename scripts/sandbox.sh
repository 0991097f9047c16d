#!/bin/sh
# The bundled container sandbox: Debian's podman with runc, with its own
# configuration, storage and state under one folder, so that it never sees or
# touches the machine's own containers. hullmon reaches it either through the
# wrapper <dir>/bin/podman (as DOCKER_BIN, or as `podman` on PATH) or, with
# the service running, through the real docker client and
# DOCKER_HOST=unix://<dir>/podman.sock.
#
# The sandbox can also run a real Docker Engine (Debian's dockerd) of its
# own: data under <dir>/dockerd, sockets and run state in a short folder
# under /tmp, reached with the real docker client and the DOCKER_HOST that
# `dockerd` prints.
#
# Usage: scripts/sandbox.sh [-d DIR] COMMAND [ARGS]
#   install   install what both engines need when missing (podman, runc,
#             busybox-static, netavark, docker.io, containerd)
#   missing [podman|docker]
#             print the Debian packages that engine lacks (nothing when all
#             are there); never installs
#   prepare   write the engine configuration and the wrapper, build the
#             busybox image (no registry needed); fails when a package is
#             missing
#   up        install, prepare, then (re)create the sample containers
#   samples   (re)create the sample containers only
#   service   start the Docker-compatible API on <dir>/podman.sock
#   unservice stop that API service
#   dockerd   start the sandbox's Docker Engine with the busybox image and
#             print its DOCKER_HOST; fails when a package is missing
#   dockerd-up
#             install, start the Docker Engine, (re)create the sample
#             containers on it, print its DOCKER_HOST
#   undockerd stop the Docker Engine and remove all its files
#   down      remove every container of the sandbox, stop the service and
#             the Docker Engine
#   purge     down, then delete the whole folder
#   env       print export lines for a shell (eval "$(scripts/sandbox.sh env)")
#   podman    run the sandbox's podman with the remaining arguments
#   docker    run the docker client against the sandbox's Docker Engine
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
PODMAN_PACKAGES="podman runc busybox-static netavark iptables"
DOCKER_PACKAGES="docker.io containerd runc busybox-static"
DOCKERD=/usr/sbin/dockerd
DOCKER_CLIENT=/usr/bin/docker

# The Docker Engine keeps its data in the sandbox folder, but its sockets
# (its own, containerd's) in a short folder under /tmp named after the
# sandbox folder: a unix socket path holds at most 107 bytes, and a build
# folder can be deep.
dk_dir=$dir/dockerd
dk_run=/tmp/hullmon-dockerd-$(printf '%s' "$dir" | cksum | cut -d ' ' -f 1)
dk_sock=$dk_run/docker.sock
# Its containers live in cgroups of their own, apart from any other engine's.
dk_cgroup=$(basename "$dk_run")

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

build_image() {
    sb_podman image exists "$IMAGE" && return 0
    say "building $IMAGE from the static busybox"
    rootfs_tar
    if ! sb_podman import --change 'CMD ["/bin/sh"]' "$dir/image/rootfs.tar" "$IMAGE" >"$dir/image/import.log" 2>&1; then
        cat "$dir/image/import.log" >&2
        return 1
    fi
}

cmd_prepare() {
    require_root podman
    require_packages $PODMAN_PACKAGES
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

# ---- the sandbox's Docker Engine

sb_docker() {
    DOCKER_HOST=unix://$dk_sock PATH=$SYS_PATH "$DOCKER_CLIENT" "$@"
}

# The pid of the running engine, or nothing. After a reboot the number in
# its pid file may belong to another process.
dockerd_pid() {
    pid=$(cat "$dk_dir/dockerd.pid" 2>/dev/null || true)
    [ -n "$pid" ] && [ "$(cat "/proc/$pid/comm" 2>/dev/null)" = dockerd ] && echo "$pid"
    return 0
}

# Mount points at or under a folder, deepest first. /proc/mounts escapes
# blanks as \040; the sandbox's folders hold none (see -d).
mounts_under() {
    awk -v p="$1/" 'index($2 "/", p) == 1 { print $2 }' /proc/mounts | sort -r
}

# The engine mounts its data folder onto itself and keeps network name
# spaces under its run state; none of that may outlive it.
unmount_under() {
    real=$(realpath -m "$1")
    round=0
    while [ -n "$(mounts_under "$real")" ] && [ $round -lt 5 ]; do
        for m in $(mounts_under "$real"); do
            umount "$m" 2>/dev/null || umount -l "$m" 2>/dev/null || true
        done
        round=$((round+1))
    done
    [ -z "$(mounts_under "$real")" ]
}

# What an engine that was killed leaves running: its containerd (its pid
# file lies under the engine's run state), the containers' shims (they name
# that containerd's socket) and the containers' processes (in the engine's
# own cgroups).
end_leftovers() {
    pid=$(cat "$dk_run/exec/containerd/containerd.pid" 2>/dev/null || true)
    case $(cat "/proc/${pid:-0}/comm" 2>/dev/null) in
    containerd*) kill -KILL "$pid" 2>/dev/null || true ;;
    esac
    for f in /proc/[0-9]*/cmdline; do
        case $(tr '\0' ' ' 2>/dev/null <"$f") in
        *containerd-shim*" -address $dk_run/exec/containerd/containerd.sock"*)
            pid=${f#/proc/}
            kill -KILL "${pid%/cmdline}" 2>/dev/null || true ;;
        esac
    done
    cgroups=""
    for cg in /sys/fs/cgroup/"$dk_cgroup" /sys/fs/cgroup/*/"$dk_cgroup"; do
        [ -d "$cg" ] && cgroups="$cgroups $cg"
    done
    [ -n "$cgroups" ] || return 0
    # A paused container takes no signal until it is thawed.
    # shellcheck disable=SC2086 # one word per folder
    find $cgroups \( -name freezer.state -o -name cgroup.freeze \) -exec sh -c '
        for f; do
            case $f in *freezer.state) echo THAWED >"$f" ;; *) echo 0 >"$f" ;; esac
        done' sh {} + 2>/dev/null || true
    i=0
    # shellcheck disable=SC2086
    while pids=$(find $cgroups -name cgroup.procs -exec cat {} + 2>/dev/null) && [ -n "$pids" ] && [ $i -lt 50 ]; do
        for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
        sleep 0.1
        i=$((i+1))
    done
    # shellcheck disable=SC2086
    find $cgroups -depth -type d -exec rmdir {} + 2>/dev/null || true
}

cmd_undockerd() {
    pid=$(dockerd_pid)
    if [ -n "$pid" ]; then
        # The containers go first, so that the engine's shutdown has none to
        # wait for.
        ids=$(DOCKER_HOST=unix://$dk_sock timeout 20 "$DOCKER_CLIENT" ps -a -q 2>/dev/null || true)
        # shellcheck disable=SC2086 # one word per id
        [ -n "$ids" ] && DOCKER_HOST=unix://$dk_sock timeout 60 "$DOCKER_CLIENT" rm -f $ids >/dev/null 2>&1
        kill -TERM "$pid" 2>/dev/null || true
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
        if kill -0 "$pid" 2>/dev/null; then
            say "the Docker Engine did not stop within 30 s; killing it"
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    end_leftovers
    ok=0
    unmount_under "$dk_dir" || ok=1
    unmount_under "$dk_run" || ok=1
    if [ $ok -ne 0 ]; then
        # Removing through a mount could reach beyond the sandbox.
        say "mounts remain under $dk_dir or $dk_run; their files stay"
        return 1
    fi
    rm -rf "$dk_dir" "$dk_run"
}

cmd_dockerd() {
    require_root "the Docker Engine"
    require_packages $DOCKER_PACKAGES
    if [ -z "$(dockerd_pid)" ]; then
        # Whatever an engine that was killed left behind goes first: this
        # engine's data lives only as long as it runs.
        cmd_undockerd
        mkdir -p "$dk_dir" "$dk_run"
        chmod 700 "$dk_run"
        # setsid: a Ctrl-C meant for the caller's foreground job must not
        # reach the engine; whoever started it stops it with `undockerd`.
        PATH=$SYS_PATH setsid "$DOCKERD" --data-root "$dk_dir/data" --exec-root "$dk_run/exec" \
            -H "unix://$dk_sock" --pidfile "$dk_dir/dockerd.pid" \
            --iptables=false --ip-masq=false --bridge=none --storage-driver=vfs \
            --cgroup-parent "/$dk_cgroup" \
            </dev/null >"$dk_dir/dockerd.log" 2>&1 &
        started=$!
        i=0
        until [ -S "$dk_sock" ] && sb_docker version >/dev/null 2>&1; do
            i=$((i+1))
            if [ $i -gt 300 ] || ! kill -0 "$started" 2>/dev/null; then
                say "the Docker Engine did not start; the end of $dk_dir/dockerd.log:"
                tail -n 15 "$dk_dir/dockerd.log" >&2 || true
                kill -TERM "$started" 2>/dev/null || true
                sleep 1
                cmd_undockerd || true
                exit 1
            fi
            sleep 0.1
        done
    fi
    if ! sb_docker image inspect "$IMAGE" >/dev/null 2>&1; then
        rootfs_tar
        if ! sb_docker import --change 'CMD ["/bin/sh"]' "$dir/image/rootfs.tar" "$IMAGE" >"$dk_dir/import.log" 2>&1; then
            cat "$dk_dir/import.log" >&2
            exit 1
        fi
    fi
    echo "unix://$dk_sock"
}

cmd_down() {
    cmd_unservice
    if [ -x "$REAL_PODMAN" ] && [ -f "$dir/containers.conf" ]; then
        sb_podman rm -a -f -t 0 >/dev/null 2>&1 || true
    fi
    cmd_undockerd
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
install) apt_install $PODMAN_PACKAGES $DOCKER_PACKAGES ;;
missing)
    case ${1:-} in
    podman) missing_packages $PODMAN_PACKAGES ;;
    docker) missing_packages $DOCKER_PACKAGES ;;
    *) missing_packages $PODMAN_PACKAGES $DOCKER_PACKAGES ;;
    esac ;;
prepare) cmd_prepare ;;
up) require_root podman; apt_install $PODMAN_PACKAGES; cmd_prepare; cmd_samples ;;
samples) cmd_samples ;;
service) cmd_service ;;
unservice) cmd_unservice ;;
dockerd) cmd_dockerd ;;
dockerd-up)
    require_root "the Docker Engine"
    apt_install $DOCKER_PACKAGES
    host=$(cmd_dockerd)
    engine=sb_docker
    cmd_samples
    echo "$host" ;;
undockerd) cmd_undockerd ;;
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
docker) sb_docker "$@" ;;
status)
    [ -f "$dir/containers.conf" ] && sb_podman ps -a
    if [ -n "$(dockerd_pid)" ]; then
        echo "Docker Engine (DOCKER_HOST=unix://$dk_sock):"
        sb_docker ps -a
    fi ;;
help | -h | --help) sed -n '2,40p' "$0" | sed 's/^# \{0,1\}//' ;;
*) echo "sandbox: unknown command: $cmd (try help)" >&2; exit 2 ;;
esac
