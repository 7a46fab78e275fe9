#!/usr/bin/env bash
# Runs the README's two commands, `make demo` and then `make test`, on a bare
# Debian 12 (bookworm): a new system with apt, make, git and mount and nothing
# else, as a new machine or a CI runner starts. The project goes in as a clean
# clone of the current commit, so changes not committed are not tried.
#
# Needs root (mmdebstrap, mounts, pivot_root) and the network (Debian's mirrors
# for the system and the packages the Makefile installs, npm for the browser
# test). It downloads a system and builds everything, which takes long, so it
# is not part of CI.
#
# The commands run as root in the new system made the root of mount and
# process namespaces of their own: /proc shows only their processes, /tmp and /dev/shm are empty,
# and nothing is left mounted or running when the run ends, however it ends.
#
# Usage: sudo tests/fresh-machine.sh
#   FRESH_DIR=folder   where to make the system, a folder that does not exist
#                      yet (default: a new folder under /var/tmp); removed at
#                      the end unless FRESH_KEEP=1
#   FRESH_TIMEOUT=s    limit for each command (default 10800 s); a command
#                      that runs longer is ended and counts as failed
# The last line says what passed; the exit code is 0 only when both did.
set -euo pipefail

# The body is one function, read whole before it runs: a run takes long, and
# bash would otherwise read a script edited meanwhile from the middle.
main() {
  repo=$(cd "$(dirname "$0")/.." && pwd)
  limit=${FRESH_TIMEOUT:-10800}

  if [ "$(id -u)" != 0 ]; then
    echo "error: fresh-machine.sh needs root (mmdebstrap, mounts, pivot_root)" >&2
    exit 2
  fi
  for tool in mmdebstrap unshare pivot_root git timeout; do
    command -v "$tool" >/dev/null || { echo "error: $tool is missing" >&2; exit 2; }
  done

  commit=$(git -C "$repo" rev-parse HEAD)
  if [ -n "$(git -C "$repo" status --porcelain --untracked-files=no)" ]; then
    echo "note: the working tree has changes that are not committed; they are not part of this run"
  fi

  if [ -n "${FRESH_DIR:-}" ]; then
    # A folder of the caller's is never reused: the run removes its folder.
    [ ! -e "$FRESH_DIR" ] || { echo "error: $FRESH_DIR exists already" >&2; exit 2; }
    mkdir -p "$FRESH_DIR"
    work=$(cd "$FRESH_DIR" && pwd)
  else
    work=$(mktemp -d /var/tmp/velmo-fresh.XXXXXX)
  fi
  # Readable by all, so that apt downloads the system as its own user _apt.
  chmod 755 "$work"
  root=$work/root
  cleanup() {
    # Mounts live only in the namespace of the run, which is gone by now; a
    # mount still found under the tree means something else uses it, and then
    # nothing is removed.
    if [ "${FRESH_KEEP:-0}" = 1 ]; then
      echo "kept: $root"
    elif findmnt -rn -o TARGET | grep -q "^$root"; then
      echo "kept (something is mounted under it): $root"
    else
      rm -rf --one-file-system "$work"
    fi
  }
  trap cleanup EXIT

  echo "== making a bare Debian 12 in $root"
  # mount: every installed Debian has it (priority required), though the
  # apt variant leaves it out; the run needs umount once inside.
  mmdebstrap --variant=apt --include=make,git,mount bookworm "$root"
  # mmdebstrap copies the host's resolv.conf; a host without one gets none.
  [ -e "$root/etc/resolv.conf" ] || cp /etc/resolv.conf "$root/etc/resolv.conf"

  echo "== cloning $commit"
  git clone --quiet --no-checkout "$repo" "$root/root/velmo"
  git -C "$root/root/velmo" checkout --quiet --detach "$commit"

  # The host's way out to the network, for apt and npm inside: its proxy
  # settings, and the certificate authorities added on the host (a network that
  # inspects TLS signs with one of them). ca-certificates takes them in when the
  # Makefile installs it; node, which may keep to its own list, is given them
  # in NODE_EXTRA_CA_CERTS.
  network=()
  for name in http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    [ -z "${!name:-}" ] || network+=("$name=${!name}")
  done
  shopt -s nullglob
  local_cas=(/usr/local/share/ca-certificates/*.crt)
  shopt -u nullglob
  if [ ${#local_cas[@]} -gt 0 ]; then
    mkdir -p "$root/usr/local/share/ca-certificates"
    cp "${local_cas[@]}" "$root/usr/local/share/ca-certificates/"
    cat "${local_cas[@]}" >"$root/root/host-cas.pem"
    network+=(NODE_EXTRA_CA_CERTS=/root/host-cas.pem)
    echo "== the host's certificate authorities: ${local_cas[*]}"
  fi

  # Runs one command in the project's clone inside the new system; answers its
  # exit code.
  run_in_system() {
    timeout --kill-after=60 "$limit" \
      unshare --mount --pid --fork --kill-child --propagation private -- \
      bash -c '
        set -e
        root=$1
        command=$2
        shift 2
        # A mount of its own, to become the root below.
        mount --bind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs tmpfs "$root/dev/shm"
        mount -t tmpfs tmpfs "$root/tmp"
        # The new system becomes the root of this mount namespace
        # (pivot_root, not chroot): the kernel refuses new user namespaces to
        # a chrooted process, and the package installer confines maintainer
        # scripts in one.
        cd "$root"
        mkdir -p .host
        pivot_root . .host
        cd /
        umount -l /.host
        # Not exec: this shell stays process 1 of the namespace and reaps
        # whatever the tests leave orphaned.
        /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb \
          PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@" \
          bash -c "cd /root/velmo && $command"
      ' bash "$root" "$1" "${network[@]}"
  }

  result=()
  status=0
  for command in "make demo" "make test"; do
    echo "== $command"
    if run_in_system "$command"; then
      result+=("$command passed")
    else
      code=$?
      result+=("$command FAILED (exit code $code)")
      status=1
    fi
  done

  summary=""
  for r in "${result[@]}"; do summary+="${summary:+; }$r"; done
  echo "== fresh Debian 12, commit $commit: $summary"
  return $status
}

main "$@"
exit
