#!/usr/bin/env bash
# The main stage where a new user stands: a bare Debian 12 root, made with
# `debootstrap --variant=minbase` from the Debian mirror that this machine's
# apt uses, the tree copied in as a clone has it, and the README's test
# command (`STAGES=main tools/test_all.sh`) run there as root. A package
# that the command needs and does not install itself fails here, where on a
# machine with every stage's packages it would go unnoticed.
#
# The run has mount and PID namespaces of its own: the root's /proc and /dev
# and every process started in it end with it. The root is removed at the
# end. Needs root and the mirror; about 2 minutes beyond the main stage.
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

suite=bookworm # Debian 12, which the README names

if ((EUID != 0)); then
  echo "bare-root: needs root (debootstrap, chroot)" >&2
  exit 1
fi
mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
  awk -v suite="$suite" '$2 == suite { print $1; exit }')
if [[ -z $mirror ]]; then
  echo "bare-root: this machine's apt has no source for Debian $suite" >&2
  exit 1
fi

scratch=$(mktemp -d /var/tmp/status-monitor-bare-root.XXXXXX)
root=$scratch/root
# The mounts went with the namespace of the run; --one-file-system keeps the
# removal to the root's own files should one be left all the same.
trap 'rm -rf --one-file-system "$scratch"' EXIT

start=$SECONDS
echo "+ debootstrap --variant=minbase $suite $root $mirror" >&2
if ! debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$scratch/debootstrap.log" 2>&1; then
  tail -n 30 "$scratch/debootstrap.log" >&2
  exit 1
fi
# What every installed Debian system has and debootstrap leaves out: the
# names of the loopback addresses (the installer writes them, no package).
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$root/etc/hosts"
echo "bare-root: $suite root made in $((SECONDS - start)) s, $(du -sh "$root" | cut -f1)" >&2

# The tree as a clone has it: the files that git tracks, or in a tree without
# git (a release tarball) every file outside the build folders.
tree=$root/root/status-monitor
mkdir -p "$tree"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z | tar --null -T - -cf - | tar -C "$tree" -xf -
else
  tar --exclude='./build*' -cf - . | tar -C "$tree" -xf -
fi

# A login's environment, not this one's.
inside="cd /root/status-monitor && JOBS=$jobs STAGES=main tools/test_all.sh"
echo "+ chroot $root: $inside" >&2
unshare --mount --pid --fork --kill-child --mount-proc="$root/proc" \
  bash -c 'mount --rbind /dev "$1/dev" && exec chroot "$1" /usr/bin/env -i HOME=/root \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin bash -c "$2"' \
  bare-root "$root" "$inside"
echo "bare-root: the main stage passed in a bare $suite root, $((SECONDS - start)) s in all" >&2
