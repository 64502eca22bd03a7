# Sourced by 80-systemd.sh (not a stage itself): a booted systemd container
# for the stage's checks. Gives it:
#   container_prepare MACHINE  makes the container's root file system in
#       `root` and sets up the clean-up on every way out; the stage then puts
#       its files into "$root"
#   container_boot  boots it and waits until systemd has finished booting
#   in_container COMMAND...  runs a command inside the booted container
# and uses the stage's `run` and `fail`.
#
# The root file system. debootstrap would take 5 to 6 minutes and a mirror;
# instead the container boots the host's own tree, which the CI has just
# installed with systemd and everything else the stages need: an overlay
# whose lower layer is the host's root file system (read-only) and whose
# upper layer is a tmpfs of the stage's own. Whatever the container writes
# (the package, its journal, /etc) goes to the tmpfs and is gone when the
# stage unmounts it; the host's tree is never written. systemd-nspawn's own
# --volatile=overlay refuses the host's root directory, hence the overlay
# made here. The container boots a target of the stage's own (the base
# system only): the services that the host happens to enable are none of the
# stage's business and would cost time. It has a network of its own (only
# loopback), so its ports can't meet anything on the host.
#
# Driving it. The host's PID 1 is not systemd, so systemd-nspawn runs with
# --register=no --keep-unit, and every command in the container runs through
# nsenter into all namespaces of the container's PID 1.
#
# Cleans up whatever happens: the container is powered off (or killed) and
# both mounts are removed on every way out (container_finish, on EXIT).
# shellcheck shell=bash

machine=
scratch=
root=
layers=
console=
nspawn_pid=
leader=
layers_mounted=
root_mounted=

container_finish() {
  local status=$?
  if [[ -n $nspawn_pid ]] && kill -0 "$nspawn_pid" 2>/dev/null; then
    # The container's PID 1, should it not be known yet.
    [[ -n $leader ]] || leader=$(ps -o pid= --ppid "$nspawn_pid" | tr -d " " | head -n 1 || true)
    # SIGTERM makes systemd-nspawn power the container off in order.
    kill -TERM "$nspawn_pid" 2>/dev/null || true
    for _ in $(seq 150); do
      kill -0 "$nspawn_pid" 2>/dev/null || break
      sleep 0.2
    done
    if kill -0 "$nspawn_pid" 2>/dev/null; then
      echo "systemd: the container did not power off in 30 s; killing it" >&2
      kill -KILL "$nspawn_pid" 2>/dev/null || true
    fi
    wait "$nspawn_pid" 2>/dev/null || true
  fi
  # systemd-nspawn may end (or be killed) without taking the container along,
  # which then lives on in its own namespaces: SIGKILL to its PID 1 ends every
  # process in them.
  if [[ -n $leader ]] && kill -0 "$leader" 2>/dev/null; then
    echo "systemd: the container outlived systemd-nspawn; killing its PID 1" >&2
    kill -KILL "$leader" 2>/dev/null || true
    for _ in $(seq 50); do
      kill -0 "$leader" 2>/dev/null || break
      sleep 0.1
    done
  fi
  if ((status != 0)) && [[ -s $console ]]; then
    echo "systemd: the container's console, last lines:" >&2
    tail -n 30 "$console" >&2
  fi
  if [[ -n $root_mounted ]]; then umount "$root" 2>/dev/null || umount -l "$root" || true; fi
  if [[ -n $layers_mounted ]]; then umount "$layers" 2>/dev/null || umount -l "$layers" || true; fi
  rmdir "/run/systemd/nspawn/propagate/$machine" 2>/dev/null || true
  rm -rf "$scratch"
  exit "$status"
}

container_prepare() {
  machine=$1
  scratch=$(mktemp -d /tmp/status-monitor-systemd.XXXXXX)
  root=$scratch/root
  layers=$scratch/layers
  console=$scratch/console.log
  trap container_finish EXIT
  trap 'exit 130' INT TERM HUP

  mkdir "$root" "$layers"
  run mount -t tmpfs -o mode=0755,size=1g status-monitor-ci "$layers"
  layers_mounted=1
  mkdir "$layers/upper" "$layers/work"
  run mount -t overlay -o "lowerdir=/,upperdir=$layers/upper,workdir=$layers/work" \
    status-monitor-ci "$root"
  root_mounted=1

  cat >"$root/etc/systemd/system/status-monitor-ci.target" <<'EOF'
[Unit]
Description=The systemd stage's boot target: the base system only
Requires=basic.target
After=basic.target
AllowIsolate=yes
EOF
  # A container image's policy-rc.d forbids maintainer scripts to start or
  # stop services; a booted machine has none, and the package's scripts are to
  # be seen at work.
  rm -f "$root/usr/sbin/policy-rc.d"
  # No network to wait for: only loopback exists in the container.
  ln -sf /dev/null "$root/etc/systemd/system/systemd-networkd-wait-online.service"
  ln -sf /dev/null "$root/etc/systemd/system/NetworkManager-wait-online.service"
}

container_boot() {
  local boot_start=$SECONDS state
  systemd-nspawn --quiet --directory="$root" --machine="$machine" --register=no --keep-unit \
    --private-network --console=passive --boot systemd.unit=status-monitor-ci.target \
    >"$console" 2>&1 &
  nspawn_pid=$!
  leader=
  for _ in $(seq 300); do
    kill -0 "$nspawn_pid" 2>/dev/null || fail "systemd-nspawn ended before the container booted"
    # ps finds nothing (and fails) until systemd-nspawn has forked the
    # container.
    leader=$(ps -o pid= --ppid "$nspawn_pid" | tr -d " " | head -n 1 || true)
    [[ -n $leader ]] && [[ $(cat "/proc/$leader/comm" 2>/dev/null) == systemd ]] && break
    leader=
    sleep 0.1
  done
  [[ -n $leader ]] || fail "no systemd came up in the container within 30 s"

  # systemctl can talk to the container's systemd once its private socket is
  # there; then wait for the boot to finish.
  for _ in $(seq 300); do
    in_container test -S /run/systemd/private && break
    kill -0 "$nspawn_pid" 2>/dev/null || fail "systemd-nspawn ended while the container booted"
    sleep 0.1
  done
  state=$(in_container timeout 90 systemctl is-system-running --wait 2>&1 || true)
  if [[ $state != running && $state != degraded ]]; then
    in_container systemctl --failed --no-pager >&2 || true
    fail "the container did not finish booting (state '$state')"
  fi
  echo "systemd: container booted in $((SECONDS - boot_start)) s (state $state)" >&2
  [[ $state == running ]] || in_container systemctl --failed --no-pager >&2
}

in_container() {
  SYSTEMD_PAGER='' SYSTEMD_COLORS=0 nsenter --target "$leader" --all "$@"
}
