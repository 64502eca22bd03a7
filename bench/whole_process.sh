#!/usr/bin/env bash
# Whole-process benchmarks of the status monitor on 127.0.0.1 (not tests:
# they print figures, see docs/performance.md). Needs a build with
# BUILD_BENCHMARKS=ON, by default in build-bench/:
#   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
#     -DBUILD_TESTING=OFF -DBUILD_BENCHMARKS=ON && cmake --build build-bench -j2
#
#   bench/whole_process.sh throughput [BYTES]  100 MiB of back-to-back records
#       logged to a file by the monitor, by the floor program and received by
#       socat -u, one after the other in this run
#   bench/whole_process.sh scaling             one record of 1, 8 and 48 MiB
#   bench/whole_process.sh idle [SECONDS]      CPU time while connected and
#       waiting (10 s)
#   bench/whole_process.sh instructions [BYTES]  user-space instructions per
#       record of the monitor and the floor program under valgrind's
#       callgrind (4 MiB of records by default); the profiles stay in OUT_DIR
#       (default build-bench/results) for callgrind_annotate
#   bench/whole_process.sh all [OUT_DIR]       all of the above and the
#       in-process benchmark; figures and the plot data go to OUT_DIR
#       (default build-bench/results), the plot to docs/performance.svg
#
# Times: "served" is the peer's time from the accept to the last request (or
# to the close, for socat), the same yardstick for every client; "cpu" is the
# client's user + system time, each also given alone and per record. BUILD_DIR
# and BENCH_PORT (the port the monitor was built for) may be set.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

build=${BUILD_DIR:-build-bench}
port=${BENCH_PORT:-$(sed -n 's/^BENCH_PORT:STRING=//p' "$build/CMakeCache.txt")}
monitor=$build/bin/status-monitor-bench
floor=$build/bin/floor-monitor
server=$build/bin/bench-stream-server
work=$(mktemp -d)
server_pid= client_pid=
ticks=$(getconf CLK_TCK)

cleanup() {
  [[ -n $client_pid ]] && kill "$client_pid" 2>/dev/null || true
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

load() { cut -d' ' -f1-3 /proc/loadavg; }

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

# served: the peer's seconds from its report line.
served() { sed -n 's/.*seconds=\([0-9.]*\).*/\1/p' "$work/server.out"; }

# run_monitor LOG: the monitor until the peer is done; then its processor
# time and peak memory are read from /proc and it is stopped (it never ends
# by itself). Sets: served_s cpu_s user_s sys_s rss_kib.
run_monitor() {
  "$monitor" >"$1" &
  client_pid=$!
  wait "$server_pid"
  server_pid=
  local stat
  stat=$(cut -d')' -f2- "/proc/$client_pid/stat")
  user_s=$(awk -v t="$ticks" '{printf "%.2f", $12 / t}' <<<"$stat")
  sys_s=$(awk -v t="$ticks" '{printf "%.2f", $13 / t}' <<<"$stat")
  cpu_s=$(echo "$user_s + $sys_s" | bc -l | awk '{printf "%.2f", $1}')
  rss_kib=$(awk '/VmHWM/ {print $2}' "/proc/$client_pid/status")
  kill "$client_pid"
  wait "$client_pid" 2>/dev/null || true
  client_pid=
  served_s=$(served)
}

# run_timed OUT CMD...: a client that ends by itself, under GNU time. Sets
# served_s cpu_s user_s sys_s rss_kib.
run_timed() {
  local out=$1
  shift
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" >"$out"
  wait "$server_pid" || true
  server_pid=
  read -r user_s sys_s rss_kib <"$work/time"
  cpu_s=$(echo "$user_s + $sys_s" | bc -l | awk '{printf "%.2f", $1}')
  served_s=$(served)
}

ratio() { echo "$1 / $2" | bc -l | awk '{printf "%.2f", $1}'; }

# per_record SECONDS: nanoseconds per record of the last stream.
per_record() { echo "$1 * 1000000000 / $records" | bc -l | awk '{printf "%.0f", $1}'; }

# records: the count of records the peer reported.
records_served() { sed -n 's/.*records=\([0-9]*\).*/\1/p' "$work/server.out"; }

# The log with its time stamps masked.
masked() { sed -E 's/[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}/hh:mm:ss.zzz/g' "$1"; }

throughput() {
  local bytes=${1:-104857600}
  echo "# stream of $bytes bytes of records on 127.0.0.1:$port ($(nproc) cores, load: $(load))"
  start_server records "$bytes"
  run_monitor "$work/monitor.log"
  local m_served=$served_s m_cpu=$cpu_s m_user=$user_s m_sys=$sys_s
  records=$(records_served)
  echo "monitor: served $m_served s, cpu $m_cpu s (user $m_user, system $m_sys), peak RSS $rss_kib KiB; log $(stat -c %s "$work/monitor.log") bytes; server: $(cat "$work/server.out")"

  start_server records "$bytes"
  run_timed "$work/floor.log" "$floor" "$port" 127.0.0.1
  local f_served=$served_s f_cpu=$cpu_s f_user=$user_s f_sys=$sys_s
  echo "floor:   served $f_served s, cpu $f_cpu s (user $f_user, system $f_sys), peak RSS $rss_kib KiB; log $(stat -c %s "$work/floor.log") bytes; server: $(cat "$work/server.out")"

  # The monitor was stopped with its last partial block unwritten: compare
  # what it wrote with as much of the floor's log.
  local size
  size=$(stat -c %s "$work/monitor.log")
  if cmp -s <(masked "$work/monitor.log") <(head -c "$size" "$work/floor.log" | masked /dev/stdin); then
    echo "logs: the same bytes, time stamps masked"
  else
    echo "logs: DIFFERENT (time stamps masked)"
  fi

  start_server records "$bytes"
  run_timed "$work/socat.out" socat -u "TCP:127.0.0.1:$port" STDOUT
  local s_served=$served_s s_cpu=$cpu_s
  echo "socat -u: served $s_served s, cpu $s_cpu s, peak RSS $rss_kib KiB; $(stat -c %s "$work/socat.out") bytes"

  echo "ratios: monitor / floor = $(ratio "$m_served" "$f_served") (served), $(ratio "$m_cpu" "$f_cpu") (cpu); monitor / socat = $(ratio "$m_served" "$s_served") (served), $(ratio "$m_cpu" "$s_cpu") (cpu)"
  echo "per record ($records): monitor served $(per_record "$m_served") ns, user $(per_record "$m_user") ns, system $(per_record "$m_sys") ns; floor served $(per_record "$f_served") ns, user $(per_record "$f_user") ns, system $(per_record "$f_sys") ns; beyond the floor: served $(per_record "$(echo "$m_served - $f_served" | bc -l)") ns, cpu $(per_record "$(echo "$m_cpu - $f_cpu" | bc -l)") ns"
  if [[ -n ${DATA_DIR:-} ]]; then
    printf 'monitor %s %s\nfloor %s %s\nsocat %s %s\n' "$m_served" "$m_cpu" "$f_served" "$f_cpu" \
      "$s_served" "$s_cpu" >"$DATA_DIR/throughput.dat"
  fi
}

scaling() {
  echo "# one record of 1, 8, 48 MiB (load: $(load))"
  [[ -n ${DATA_DIR:-} ]] && : >"$DATA_DIR/scaling.dat"
  local served8=
  for mib in 1 8 48; do
    start_server single $((mib << 20))
    run_monitor "$work/monitor-$mib.log"
    echo "record of $mib MiB: served $served_s s, cpu $cpu_s s, peak RSS $rss_kib KiB; server: $(cat "$work/server.out")"
    [[ $mib == 8 ]] && served8=$served_s
    [[ $mib == 48 ]] && echo "48 MiB / 8 MiB: $(ratio "$served_s" "$served8") (served)"
    if [[ -n ${DATA_DIR:-} ]]; then
      echo "$mib $served_s $cpu_s $rss_kib" >>"$DATA_DIR/scaling.dat"
    fi
  done
}

idle() {
  local seconds=${1:-10}
  start_server idle $((seconds + 5))
  "$monitor" >"$work/monitor.log" &
  client_pid=$!
  for _ in $(seq 100); do
    grep -q connected "$work/server.out" 2>/dev/null && break
    sleep 0.05
  done
  sleep 0.5  # let the monitor settle into its wait
  # schedstat's first field: nanoseconds the process's threads ran on a CPU.
  local before after
  before=$(cut -d' ' -f1 "/proc/$client_pid/schedstat")
  sleep "$seconds"
  after=$(cut -d' ' -f1 "/proc/$client_pid/schedstat")
  echo "idle for $seconds s while connected: CPU time $(echo "($after - $before) / 1000000" | bc -l | awk '{printf "%.3f", $1}') ms, peak RSS $(awk '/VmHWM/ {print $2}' "/proc/$client_pid/status") KiB"
  kill "$client_pid"
  wait "$client_pid" 2>/dev/null || true
  client_pid=
  wait "$server_pid" 2>/dev/null || true
  server_pid=
}

# instructions [BYTES]: the monitor and the floor under callgrind, which
# counts the instructions each runs in user space (the kernel's work is not
# in them), repeatable whatever else the machine does.
instructions() {
  local bytes=${1:-4194304} out=${DATA_DIR:-$build/results}
  mkdir -p "$out"
  echo "# user-space instructions per record, $bytes bytes of records (valgrind --tool=callgrind)"
  start_server records "$bytes"
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.monitor" "$monitor" \
    >"$work/monitor.log" 2>"$work/monitor.valgrind" &
  client_pid=$!
  wait "$server_pid"
  server_pid=
  records=$(records_served)
  # The monitor never ends by itself: its profile is written when it is
  # stopped, the work after the stream being only the wait for more.
  sleep 1
  kill "$client_pid"
  wait "$client_pid" 2>/dev/null || true
  client_pid=
  local m_ir
  m_ir=$(sed -n 's/.*I *refs: *//p' "$work/monitor.valgrind" | tr -d ,)
  start_server records "$bytes"
  valgrind --tool=callgrind --callgrind-out-file="$out/callgrind.floor" "$floor" "$port" 127.0.0.1 \
    >"$work/floor.log" 2>"$work/floor.valgrind"
  wait "$server_pid" || true
  server_pid=
  local f_ir
  f_ir=$(sed -n 's/.*I *refs: *//p' "$work/floor.valgrind" | tr -d ,)
  echo "monitor: $m_ir instructions, $((m_ir / records)) per record ($records records)"
  echo "floor:   $f_ir instructions, $((f_ir / records)) per record"
  echo "profiles: callgrind_annotate $out/callgrind.monitor"
}

all() {
  export DATA_DIR=${1:-$build/results}
  mkdir -p "$DATA_DIR"
  {
    echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load: $(load)"
    throughput
    scaling
    idle
    "$build/bin/receive_loop_bench" --benchmark_min_time=2 \
      --benchmark_counters_tabular=true 2>/dev/null
  } | tee "$DATA_DIR/figures.txt"
  gnuplot -e "data='$DATA_DIR'" bench/performance.gp >docs/performance.svg
  echo "plot: docs/performance.svg"
}

case ${1:-} in
  throughput) shift; throughput "$@" ;;
  scaling) scaling ;;
  idle) shift; idle "$@" ;;
  instructions) shift; instructions "$@" ;;
  all) shift; all "$@" ;;
  *) sed -n '2,25p' "$0" >&2; exit 2 ;;
esac
