#!/usr/bin/env bash
# Builds the status monitor for the demo port and runs it against the demo
# status server on this machine (127.0.0.1). Ctrl+C ends both.
#
#   tools/run_demo.sh [demo-status-server options]   e.g. --split 20 --nul
#
# DEMO_PORT picks another port (default 8080); BUILD_DIR another build
# directory (default build-demo in the repository). Needs cmake, ninja and a
# C++20 compiler, which it installs from Debian's packages when run as root
# (as another user it names the command to run as root); no network beyond
# loopback and the package mirror.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
port=${DEMO_PORT:-8080}
build=${BUILD_DIR:-$repo/build-demo}

# The build tools: installed here when missing (as root), or named in the
# command to run as root.
# shellcheck source=tools/packages.sh
source "$repo/tools/packages.sh"
ensure_packages demo cmake ninja-build g++
for tool in cmake ninja c++; do
  if ! command -v "$tool" >/dev/null; then
    echo "demo: '$tool' is missing; install cmake, ninja-build and g++" >&2
    exit 1
  fi
done

cmake -S "$repo" -B "$build" -G Ninja -DBUILD_TESTING=OFF \
  -DSTATUS_SERVER_HOST=localhost -DSTATUS_SERVER_PORT="$port" >/dev/null
cmake --build "$build" --target status-monitor demo-status-server

server_pid=
monitor_pid=
# Whatever ends the script, neither program outlives it.
finish() {
  trap - EXIT INT TERM HUP
  for pid in $monitor_pid $server_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

server_log="$build/demo-status-server.log"
"$build/bin/demo-status-server" --port "$port" "$@" >"$server_log" 2>&1 &
server_pid=$!
until grep -q "listening on" "$server_log" 2>/dev/null; do
  if ! kill -0 "$server_pid" 2>/dev/null; then
    echo "demo: the status server did not start:" >&2
    cat "$server_log" >&2
    exit 1
  fi
  sleep 0.1
done
echo "demo: status server on 127.0.0.1:$port (its log: $server_log)." >&2
echo "demo: the monitor starts now; Ctrl+C ends both." >&2

# The monitor runs as a job of its own so that the traps above stay in charge.
"$build/bin/status-monitor" &
monitor_pid=$!
wait "$monitor_pid"
