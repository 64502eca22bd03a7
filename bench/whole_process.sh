#!/usr/bin/env bash
# Whole-process benchmarks of the status monitor on 127.0.0.1 (not tests:
# they print figures, see docs/performance.md). Needs a build with
# BUILD_BENCHMARKS=ON, by default in build-bench/:
#   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
#     -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON && cmake --build build-bench -j2
#
#   bench/whole_process.sh throughput [BYTES]  100 MiB of back-to-back records
#       into a log file; against dd bs=128 writing as many bytes and socat -u
#       receiving the same stream; peak resident memory of the monitor
#   bench/whole_process.sh scaling             one record of 1, 8 and 48 MiB
#   bench/whole_process.sh idle [SECONDS]      CPU time while connected and
#       waiting (10 s)
#
# BUILD_DIR and BENCH_PORT (the port the monitor was built for) may be set.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build-bench}
port=${BENCH_PORT:-$(sed -n 's/^BENCH_PORT:STRING=//p' "$build/CMakeCache.txt")}
monitor=$build/bin/status-monitor-bench
server=$build/bin/bench-stream-server
work=$(mktemp -d)
server_pid= monitor_pid=

cleanup() {
  [[ -n $monitor_pid ]] && kill "$monitor_pid" 2>/dev/null || true
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s.%N; }
elapsed() { echo "$2 - $1" | bc -l | awk '{printf "%.3f", $1}'; }

# start_server ARGS...: the peer, in the background, once it listens.
start_server() {
  rm -f "$work/server.out" "$work/server.err"  # a stale "listening" would race
  "$server" "$port" "$@" >"$work/server.out" 2>"$work/server.err" &
  server_pid=$!
  for _ in $(seq 100); do
    grep -q listening "$work/server.err" 2>/dev/null && return
    sleep 0.05
  done
  echo "the bench server did not start: $(cat "$work/server.err")" >&2
  exit 1
}

# run_monitor_until_served LOG: runs the monitor until the server is done;
# prints its wall time and peak resident memory, then stops it.
run_monitor_until_served() {
  local log=$1 start
  start=$(now)
  "$monitor" >"$log" &
  monitor_pid=$!
  wait "$server_pid"
  server_pid=
  local end hwm
  end=$(now)
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$monitor_pid/status")
  kill "$monitor_pid"
  wait "$monitor_pid" 2>/dev/null || true
  monitor_pid=
  echo "monitor: wall $(elapsed "$start" "$end") s, peak RSS ${hwm} KiB; server: $(cat "$work/server.out")"
}

throughput() {
  local bytes=${1:-104857600}
  echo "# stream of $bytes bytes of records on 127.0.0.1:$port ($(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg))"
  start_server records "$bytes"
  run_monitor_until_served "$work/monitor.log"
  local log_bytes
  log_bytes=$(stat -c %s "$work/monitor.log")
  echo "monitor log: $log_bytes bytes"

  local start end
  start=$(now)
  dd if=/dev/zero of="$work/dd.out" bs=128 count=$(((log_bytes + 127) / 128)) status=none
  end=$(now)
  echo "dd bs=128 count=$(((log_bytes + 127) / 128)): wall $(elapsed "$start" "$end") s"

  if command -v socat >/dev/null; then
    start_server records "$bytes"
    start=$(now)
    socat -u "TCP:127.0.0.1:$port" "CREATE:$work/socat.out"
    end=$(now)
    wait "$server_pid" || true
    server_pid=
    echo "socat -u: wall $(elapsed "$start" "$end") s, $(stat -c %s "$work/socat.out") bytes"
  else
    echo "socat -u: skipped (socat is not installed)"
  fi
}

scaling() {
  for mib in 1 8 48; do
    start_server single $((mib << 20))
    echo -n "record of $mib MiB: "
    run_monitor_until_served "$work/monitor-$mib.log"
  done
}

idle() {
  local seconds=${1:-10}
  start_server idle $((seconds + 5))
  "$monitor" >"$work/monitor.log" &
  monitor_pid=$!
  for _ in $(seq 100); do
    grep -q connected "$work/server.out" 2>/dev/null && break
    sleep 0.05
  done
  sleep 0.5  # let the monitor settle into its wait
  # schedstat's first field: nanoseconds the process's threads ran on a CPU.
  local before after
  before=$(cut -d' ' -f1 "/proc/$monitor_pid/schedstat")
  sleep "$seconds"
  after=$(cut -d' ' -f1 "/proc/$monitor_pid/schedstat")
  echo "idle for $seconds s while connected: CPU time $(echo "($after - $before) / 1000000" | bc -l | awk '{printf "%.3f", $1}') ms"
  echo "server: $(cat "$work/server.out")"
}

case ${1:-} in
  throughput) shift; throughput "$@" ;;
  scaling) scaling ;;
  idle) shift; idle "$@" ;;
  *) sed -n '2,16p' "$0" >&2; exit 2 ;;
esac
