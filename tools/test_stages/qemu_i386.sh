# Sourced by tools/test_stages/60-windows.sh (not a stage itself): lets a
# kernel that runs no 32-bit x86 code run Wine's 32-bit loader all the same,
# through qemu-user, registered for i386 ELF programs with binfmt_misc.
#
#   qemu_i386_acquire   makes i386 ELF programs start through qemu; returns 1
#                       with the reason in qemu_i386_refused when it cannot
#   qemu_i386_release   undoes what the acquires left, once the last user is
#                       done (call it on every way out, e.g. from a trap)
#
# binfmt_misc and its entries belong to the whole machine, and several stages
# (other worktrees on the same machine) may run at once: one that ends must
# not take the entry away from one still running. So every user holds a
# shared lock while it relies on the entry, changes happen only under the
# exclusive lock, and what was added (the mount, the entry) is written to a
# state file; whoever ends last, the one that can take the exclusive lock
# after dropping its own, removes exactly that. An entry or mount that was
# there before any of us is never touched. The state lives in /run, so a
# reboot, which clears binfmt_misc too, clears it.
# shellcheck shell=bash disable=SC2034

qemu_i386_binary=/usr/bin/qemu-i386-static
qemu_i386_binfmt=/proc/sys/fs/binfmt_misc
qemu_i386_entry=status-monitor-qemu-i386
qemu_i386_lock=/run/status-monitor-qemu-i386.lock
qemu_i386_state=/run/status-monitor-qemu-i386.state
qemu_i386_refused=
qemu_i386_held=
qemu_i386_via=

# An enabled binfmt_misc entry for i386 ELF programs, whatever its name: an
# ELF magic of class 32-bit (01), little endian (01), machine 3 at offset 18.
qemu_i386_find_entry() {
  local entry
  for entry in "$qemu_i386_binfmt"/*; do
    [[ -f $entry && $(basename "$entry") != register && $(basename "$entry") != status ]] ||
      continue
    if grep -qx enabled "$entry" &&
      grep -Eq '^offset 0$' "$entry" &&
      grep -Eq '^magic 7f454c460101[0-9a-f]{24}0300' "$entry"; then
      basename "$entry"
      return 0
    fi
  done
  return 1
}

# Removes what the state file records, under the exclusive lock (fd 8).
qemu_i386_undo() {
  [[ -f $qemu_i386_state ]] || return 0
  local what
  while read -r what; do
    case $what in
      entry)
        [[ -e $qemu_i386_binfmt/$qemu_i386_entry ]] &&
          echo -1 >"$qemu_i386_binfmt/$qemu_i386_entry" 2>/dev/null
        ;;
      mount)
        umount "$qemu_i386_binfmt" 2>/dev/null || true
        ;;
    esac
  done < <(tac "$qemu_i386_state")
  rm -f "$qemu_i386_state"
}

qemu_i386_acquire() {
  if ((EUID != 0)); then
    qemu_i386_refused="not root, so binfmt_misc cannot be changed"
    return 1
  fi
  if [[ ! -x $qemu_i386_binary ]]; then
    qemu_i386_refused="$qemu_i386_binary is missing (package qemu-user-static)"
    return 1
  fi
  exec 8>>"$qemu_i386_lock"
  flock -x 8
  if [[ ! -e $qemu_i386_binfmt/register ]]; then
    if ! mount -t binfmt_misc binfmt_misc "$qemu_i386_binfmt" 2>/dev/null; then
      exec 8>&-
      qemu_i386_refused="binfmt_misc cannot be mounted on $qemu_i386_binfmt"
      return 1
    fi
    echo mount >>"$qemu_i386_state"
  fi
  local found
  if found=$(qemu_i386_find_entry); then
    qemu_i386_via="the binfmt_misc entry $found"
  else
    # The ELF header of a 32-bit x86 program (executable or shared object:
    # the mask lets e_type be 2 or 3); F opens qemu now, so that it runs in
    # any mount namespace and chroot.
    local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
    local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
    if ! printf ':%s:M::%s:%s:%s:F' "$qemu_i386_entry" "$magic" "$mask" "$qemu_i386_binary" \
      >"$qemu_i386_binfmt/register" 2>/dev/null; then
      qemu_i386_undo
      exec 8>&-
      qemu_i386_refused="binfmt_misc refused the registration of $qemu_i386_binary"
      return 1
    fi
    echo entry >>"$qemu_i386_state"
    qemu_i386_via="the binfmt_misc entry $qemu_i386_entry, added for this stage"
  fi
  # From here on only relied upon: a shared hold, kept by a helper process
  # that lives as long as its pipe from this shell (bash closes a
  # coprocess's pipe in every program it starts, so nothing the stage runs
  # inherits the hold), so that even a killed stage lets go of it.
  flock -s 8
  coproc qemu_i386_holder {
    flock -s -o "$qemu_i386_lock" sh -c 'echo held; exec cat >/dev/null' 8>&-
  }
  local held=
  read -r held <&"${qemu_i386_holder[0]}" || true
  exec 8>&-
  if [[ $held != held ]]; then
    qemu_i386_refused="the lock $qemu_i386_lock could not be held"
    exec 8>>"$qemu_i386_lock"
    if flock -n -x 8; then
      qemu_i386_undo
    fi
    exec 8>&-
    return 1
  fi
  qemu_i386_held=1
  return 0
}

qemu_i386_release() {
  [[ -n $qemu_i386_held ]] || return 0
  qemu_i386_held=
  # Drop this stage's hold first: if another stage still holds one, the
  # exclusive lock is refused and that stage cleans up when it ends.
  local pipe=${qemu_i386_holder[1]}
  exec {pipe}>&-
  wait "$qemu_i386_holder_PID" 2>/dev/null || true
  exec 8>>"$qemu_i386_lock"
  if flock -n -x 8; then
    qemu_i386_undo
  fi
  exec 8>&-
}
