#!/bin/sh
# The bundled container sandbox, for `make run`, the tests and the
# benchmarks: one script per engine (sandbox-podman.sh, sandbox-docker.sh),
# and this front, which takes the commands of both under one name.
set -eu

usage() {
    cat <<'USAGE'
Usage: scripts/sandbox.sh [-d DIR] COMMAND [ARGS]

The podman sandbox (scripts/sandbox-podman.sh):
  prepare, up, samples, service, unservice, env, podman
The sandbox's Docker Engine (scripts/sandbox-docker.sh):
  dockerd     start it and print its DOCKER_HOST      (sandbox-docker.sh start)
  dockerd-up  start it with the sample containers      (sandbox-docker.sh up)
  undockerd   stop it and remove its files             (sandbox-docker.sh down)
  docker      run the docker client against it
Both:
  install     install what both engines need when missing
  missing [podman|docker]
              the Debian packages that engine (or both) lacks
  down        remove the podman sandbox's containers, stop its service and
              the Docker Engine
  purge       down, then delete the whole folder
  status      show the containers of both

DIR defaults to $HULLMON_SANDBOX, else build/sandbox in the checkout.
`scripts/sandbox-podman.sh help` and `scripts/sandbox-docker.sh help` say more.
USAGE
}

scripts=$(dirname "$0")
if [ "${1:-}" = "-d" ]; then
    [ $# -ge 2 ] || { echo "sandbox: -d needs a folder" >&2; exit 2; }
    dir=$2
    shift 2
    podman() { "$scripts/sandbox-podman.sh" -d "$dir" "$@"; }
    docker() { "$scripts/sandbox-docker.sh" -d "$dir" "$@"; }
else
    podman() { "$scripts/sandbox-podman.sh" "$@"; }
    docker() { "$scripts/sandbox-docker.sh" "$@"; }
fi
cmd=${1:-help}
[ $# -gt 0 ] && shift

case $cmd in
prepare | up | samples | service | unservice | env | podman) podman "$cmd" "$@" ;;
dockerd) docker start ;;
dockerd-up) docker up ;;
undockerd) docker down ;;
docker) docker docker "$@" ;;
install) podman install && docker install ;;
missing)
    case ${1:-} in
    podman | docker) "$1" missing ;;
    *) echo "$(podman missing) $(docker missing)" | xargs -n 1 | sort -u | xargs ;;
    esac ;;
down)
    status=0
    podman down || status=1
    docker down || status=1
    exit $status ;;
purge) docker down && podman purge ;;
status) podman status || true; docker status ;;
help | -h | --help) usage ;;
*) echo "sandbox: unknown command: $cmd (try help)" >&2; exit 2 ;;
esac
