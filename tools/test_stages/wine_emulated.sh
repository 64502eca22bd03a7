#!/usr/bin/env bash
# Runs a 32-bit Windows test program under Wine through qemu-user: the
# emulator the Windows stage gives the 32-bit build's tests when the kernel
# runs no 32-bit code itself.
#
#   wine_emulated.sh PROGRAM [ARGUMENT...]
#
# Wine's 32-bit code under qemu-user now and then crashes in the emulation
# itself, most often while threads start or end (seen at about one run in
# twenty on a loaded 2-core machine): qemu then prints "qemu: uncaught target
# signal N" and the run dies of that signal, or Wine's client library loses
# its server connection and prints "wine client error:". Neither line is ever
# written by our programs. A failed run that shows one of them is repeated, at
# most twice, and says so; any other failure is the program's own and is
# passed on at once, as is the last attempt's result.
set -uo pipefail

wine=${WINE_FOR_TESTS:-wine}
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
for attempt in 1 2 3; do
  # Standard error is kept for the check, then passed on. Not through a pipe:
  # helper processes that Wine starts for the session inherit it and outlive
  # the run.
  "$wine" "$@" 2>"$errors"
  status=$?
  cat "$errors" >&2
  if ((status == 0 || attempt == 3)) ||
    ! grep -Eq '^(qemu: uncaught target signal [0-9]+ |wine client error:)' "$errors"; then
    exit "$status"
  fi
  echo "wine_emulated.sh: attempt $attempt crashed in Wine or qemu (exit status $status):" \
    "running it once more" >&2
done
