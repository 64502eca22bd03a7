# Sourced by every stage script of tools/test_stages/ (not a stage itself:
# stages are the NN-name.sh files). Puts the stage in the repository's root,
# whatever folder it was started from, and gives it:
#   jobs   how many jobs to run at once: JOBS, default 2
#   run    prints a command, then runs it
#   build_package  builds the Debian package of a fresh release build
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

# Builds the monitor for the built-in server localhost:PORT in BUILD (release
# settings, no tests) and makes its Debian package there; sets `deb` to the
# package's path. The package and systemd stages share it, so they test the
# same package.
build_package() {
  local build=$1 port=$2
  run cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_TESTING=OFF -DSTATUS_SERVER_HOST=localhost -DSTATUS_SERVER_PORT="$port"
  run cmake --build "$build" -j "$jobs"
  rm -f "$build"/status-monitor_*.deb
  (cd "$build" && run cpack -G DEB)
  local debs=("$build"/status-monitor_*.deb)
  deb=${debs[0]}
}
