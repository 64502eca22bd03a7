# Sourced by every stage script of tools/test_stages/ (not a stage itself:
# stages are the NN-name.sh files). Puts the stage in the repository's root,
# whatever folder it was started from, and gives it:
#   jobs   how many jobs to run at once: JOBS, default 2
#   run    prints a command, then runs it
# shellcheck shell=bash

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
jobs=${JOBS:-2}
if ! [[ $jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "JOBS must be a positive whole number, not '$jobs'" >&2
  exit 2
fi

run() {
  echo "+ $*" >&2
  "$@"
}
