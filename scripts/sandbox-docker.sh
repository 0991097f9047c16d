#!/bin/sh
# The sandbox's own Docker Engine: Debian's dockerd, as root, with its data
# under DIR/dockerd and its sockets and run state in a short folder under
# /tmp, reached with the real docker client and the DOCKER_HOST that
# `start` prints.
set -eu

usage() {
    cat <<'USAGE'
Usage: scripts/sandbox-docker.sh [-d DIR] COMMAND [ARGS]

  install   install what the engine needs when missing (docker.io,
            containerd, runc, busybox-static)
  missing   print the Debian packages it lacks (nothing when all are
            there); never installs
  start     start the Docker Engine with the busybox image and print its
            DOCKER_HOST; fails when a package is missing
  up        install, start the engine, (re)create the sample containers
            on it, print its DOCKER_HOST
  down      stop the engine and remove all its files
  docker    run the docker client against the engine
  status    show the engine's containers

DIR defaults to $HULLMON_SANDBOX, else build/sandbox in the checkout.
USAGE
}

# shellcheck source=scripts/sandbox-lib.sh
. "$(dirname "$0")/sandbox-lib.sh"

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

# The sample containers go to this engine.
engine=sb_docker

case $cmd in
install) apt_install $DOCKER_PACKAGES ;;
missing) missing_packages $DOCKER_PACKAGES ;;
start) cmd_dockerd ;;
up)
    require_root "the Docker Engine"
    apt_install $DOCKER_PACKAGES
    host=$(cmd_dockerd)
    cmd_samples
    echo "$host" ;;
down) cmd_undockerd ;;
docker) sb_docker "$@" ;;
status)
    if [ -n "$(dockerd_pid)" ]; then
        echo "Docker Engine (DOCKER_HOST=unix://$dk_sock):"
        sb_docker ps -a
    fi ;;
help | -h | --help) usage ;;
*) echo "sandbox: unknown command: $cmd (try help)" >&2; exit 2 ;;
esac
