#!/bin/sh
# The bundled podman sandbox: Debian's podman with runc, with its own
# configuration, storage and state under one folder, so that it never sees
# or touches the machine's own containers.
set -eu

usage() {
    cat <<'USAGE'
Usage: scripts/sandbox-podman.sh [-d DIR] COMMAND [ARGS]

hullmon reaches this sandbox through the wrapper DIR/bin/podman (as
DOCKER_BIN, or as `podman` on PATH) or, with the service running, through
the real docker client and DOCKER_HOST=unix://DIR/podman.sock.

  install   install what the engine needs when missing (podman, runc,
            busybox-static, netavark, iptables)
  missing   print the Debian packages it lacks (nothing when all are
            there); never installs
  prepare   write the engine configuration and the wrapper, build the
            busybox image (no registry needed); fails when a package is
            missing
  up        install, prepare, then (re)create the sample containers
  samples   (re)create the sample containers only
  service   start the Docker-compatible API on DIR/podman.sock
  unservice stop that API service
  down      remove every container of the sandbox and stop the service
  purge     down, then delete the whole folder
  env       print export lines for a shell
            (eval "$(scripts/sandbox-podman.sh env)")
  podman    run the sandbox's podman with the remaining arguments
  status    show the sandbox's containers

DIR defaults to $HULLMON_SANDBOX, else build/sandbox in the checkout.
USAGE
}

# shellcheck source=scripts/sandbox-lib.sh
. "$(dirname "$0")/sandbox-lib.sh"

REAL_PODMAN=/usr/bin/podman
PODMAN_PACKAGES="podman runc busybox-static netavark iptables"

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

# The sample containers go to this engine.
engine=sb_podman

case $cmd in
install) apt_install $PODMAN_PACKAGES ;;
missing) missing_packages $PODMAN_PACKAGES ;;
prepare) cmd_prepare ;;
up) require_root podman; apt_install $PODMAN_PACKAGES; cmd_prepare; cmd_samples ;;
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
status) [ -f "$dir/containers.conf" ] && sb_podman ps -a ;;
help | -h | --help) usage ;;
*) echo "sandbox: unknown command: $cmd (try help)" >&2; exit 2 ;;
esac
