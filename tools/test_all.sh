#!/usr/bin/env bash
# Builds everything and runs every test: the main build (warnings are errors)
# with its whole ctest suite, then each extra stage of tools/test_stages/ in
# name order (the main stage in a bare Debian root, format, sanitizer builds,
# static checks, long tests, fuzzing, Windows, the Debian package, the
# package under a booted systemd). When the bare-root stage is chosen too (as
# in a run of every stage), the main stage runs there only.
#
#   tools/test_all.sh                          every stage
#   STAGES=main tools/test_all.sh              only the main build and its tests
#   STAGES="main package" tools/test_all.sh    the stages named (in their usual order)
#   JOBS=1 tools/test_all.sh                   one job at a time (default: all cores)
#
# STAGES takes the names that `STAGES=list tools/test_all.sh` prints; an
# unknown name stops the run before anything runs. First installs the Debian
# packages that the chosen stages list in .ci/packages/<stage>.txt (as root;
# as another user it names the command to run). Each stage prints what it
# runs and fails the whole run on any failure.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
# shellcheck source=tools/packages.sh
source tools/packages.sh

export JOBS=${JOBS:-$(nproc)}
if ! [[ $JOBS =~ ^[1-9][0-9]*$ ]]; then
  echo "test_all: JOBS must be a positive whole number, not '$JOBS'" >&2
  exit 2
fi

# Every stage by name, in the order they run: main, then the scripts.
names=(main)
declare -A scripts=()
for script in tools/test_stages/[0-9][0-9]-*.sh; do
  name=$(basename "$script" .sh)
  name=${name#[0-9][0-9]-}
  names+=("$name")
  scripts[$name]=$script
done

requested=${STAGES:-all}
requested=${requested//,/ }
if [[ $requested == list ]]; then
  echo "${names[*]}"
  exit 0
fi
declare -A chosen=()
for name in $requested; do
  name=${name#[0-9][0-9]-}
  name=${name%.sh}
  if [[ $name == all ]]; then
    for known in "${names[@]}"; do chosen[$known]=1; done
  elif [[ $name == main || -n ${scripts[$name]:-} ]]; then
    chosen[$name]=1
  else
    echo "test_all: unknown stage '$name'; the stages are: all ${names[*]}" >&2
    exit 2
  fi
done
if ((${#chosen[@]} == 0)); then
  echo "test_all: STAGES names no stage; the stages are: all ${names[*]}" >&2
  exit 2
fi

# The packages of the chosen stages.
packages=()
for name in "${names[@]}"; do
  [[ -n ${chosen[$name]:-} && -f .ci/packages/$name.txt ]] || continue
  mapfile -t -O "${#packages[@]}" packages < <(sed 's/#.*//' ".ci/packages/$name.txt" |
    tr -s ' \t' '\n' | sed '/^$/d')
done
mapfile -t packages < <(printf '%s\n' "${packages[@]}" | sed '/^$/d' | sort -u)
ensure_packages test_all "${packages[@]}"

run_stage() {
  echo "=== stage: $1" >&2
  local start=$SECONDS
  shift
  "$@"
  echo "=== done in $((SECONDS - start)) s" >&2
}

main_stage() {
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DWARNINGS_AS_ERRORS=ON
  cmake --build build -j "$JOBS"
  ctest --test-dir build -j "$JOBS" --output-on-failure --timeout 300
}

ran=()
for name in "${names[@]}"; do
  [[ -n ${chosen[$name]:-} ]] || continue
  ran+=("$name")
  if [[ $name == main && -n ${chosen[bare-root]:-} ]]; then
    # The bare-root stage runs the main stage where a new user stands; here,
    # with every chosen stage's packages installed, it would only run again
    # and could hide a missing install step.
    echo "=== stage: main runs in the bare-root stage (STAGES=main runs it here)" >&2
  elif [[ $name == main ]]; then
    run_stage main main_stage
  else
    run_stage "$name" "${scripts[$name]}"
  fi
done
echo "=== all tests passed (stages: ${ran[*]})" >&2
