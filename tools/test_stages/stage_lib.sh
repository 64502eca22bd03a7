# Sourced by every stage script of tools/test_stages/ (not a stage itself:
# stages are the NN-name.sh files). Puts the stage in the repository's root,
# whatever folder it was started from, and gives it:
#   jobs   how many jobs to run at once: JOBS, default 2
#   run    prints a command, then runs it
#   build_package  builds the Debian package of a fresh release build
#   source_files   lists the tree's C and C++ sources, with or without git
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

# Builds the monitor with the project's own settings in BUILD (release
# settings, no tests) and makes its Debian package there; sets `deb` to the
# package's path. The package and systemd stages share it, so they test the
# same package.
build_package() {
  local build=$1
  run cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON \
    -DBUILD_TESTING=OFF
  run cmake --build "$build" -j "$jobs"
  rm -f "$build"/status-monitor_*.deb
  (cd "$build" && run cpack -G DEB)
  local debs=("$build"/status-monitor_*.deb)
  deb=${debs[0]}
}

# Prints the C and C++ sources of the tree, one a line, relative to its root:
# the files git tracks in a clone, every such file outside the build folders
# in a tree without git (a release tarball). Fails, saying so, when it finds
# none, so that a check over the list can never pass by checking nothing.
source_files() {
  local listed
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    listed=$(git ls-files '*.cpp' '*.h' '*.c' '*.cc')
  else
    echo "no git work tree here: listing the sources with find, build*/ left out" >&2
    listed=$(find . -path ./.git -prune -o -path './build*' -prune -o -type f \
      \( -name '*.cpp' -o -name '*.h' -o -name '*.c' -o -name '*.cc' \) -print |
      sed 's|^\./||' | sort)
  fi
  if [[ -z $listed ]]; then
    echo "no C or C++ source found under $PWD: nothing to check" >&2
    return 1
  fi
  printf '%s\n' "$listed"
}
