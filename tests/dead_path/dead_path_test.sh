#!/usr/bin/env bash
# Dead paths as a user's network makes them, each case in a network namespace
# of its own (loopback only): the real monitor connected to a small server on
# 127.0.0.1, then the path taken down (`lo` down) and the server's side of the
# connection made to vanish (SO_LINGER 0 and close while the path is down, so
# that no kernel is left to answer or to close the connection later).
#
#   dead_path_test.sh MONITOR MONITOR_OFF PORT TIMEOUT_S
#
# MONITOR is built for localhost:PORT with DEAD_PATH_TIMEOUT_S=TIMEOUT_S,
# MONITOR_OFF the same with 0. The cases run side by side:
#   long-poll       the request answered, the next one pending, the server
#                   silent: the error line within TIMEOUT_S and some slack,
#                   then, once the path is back with a fresh server,
#                   "Connected" and records again
#   unacknowledged  the server's input dropped by a packet filter before the
#                   request goes out: the same
#   silent          a live server silent for three times the keep-alive idle
#                   time: keep-alive probes on the connection, no error line
#   long-poll-off   the first case with detection off: nothing at all within
#                   the same watch, which shows that the cases above would
#                   fail without the detection
# Exits 77 (skipped) with the reason when no network namespace can be made.
set -uo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
slack_s=10

# --- one case, inside its namespace --------------------------------------------

fail() {
  echo "FAIL: $*"
  exit 1
}

now_ms() { date +%s%3N; }

# wait_for FILE PATTERN SECONDS [COUNT]: true once FILE holds COUNT (default
# 1) lines matching the extended regular expression PATTERN.
wait_for() {
  local file=$1 pattern=$2 seconds=$3 count=${4:-1}
  local deadline=$(($(now_ms) + seconds * 1000))
  while (($(now_ms) < deadline)); do
    if [[ -f $file ]] && (($(grep -cE -- "$pattern" "$file") >= count)); then return 0; fi
    sleep 0.05
  done
  return 1
}

start_server() {  # start_server EVENTS RECORD_ID [HOLD_FILE]
  local hold=()
  [[ -n ${3:-} ]] && hold=(--hold-first "$3")
  python3 "$here/status_server.py" --port "$port" --events "$1" --record-id "$2" "${hold[@]}" &
  server=$!
  wait_for "$1" '^listening$' 30 || fail "the server did not start within 30 s"
}

# Takes the path down and makes the server's side vanish; sets down_at.
kill_path() {
  ip link set lo down
  down_at=$(now_ms)
  kill -USR1 "$server"
  wait "$server" 2>/dev/null
}

# The error line that reports a dead path: timed out, or reset by a host that
# answers a probe without knowing the connection.
dead_path_error='Socket Error # (10060|10054)'

expect_detection_and_recovery() {
  wait_for "$log" "$dead_path_error" $((timeout_s + slack_s)) ||
    fail "no error line within $((timeout_s + slack_s)) s of the path going down"
  local took=$(($(now_ms) - down_at))
  echo "detected $((took / 1000)).$(printf %03d $((took % 1000))) s after the path went down:"
  grep -aE -A1 -- "$dead_path_error" "$log" | head -2
  ip link set lo up
  nft delete table inet dead_path_test 2>/dev/null || true
  start_server "$work/events.2" 2
  wait_for "$log" 'Connected to' 30 2 || fail "no second 'Connected' once the path was back"
  wait_for "$log" '^SYSLOG\.ID: 2' 30 || fail "no record from the fresh server"
  echo "reconnected and reported a record from the fresh server"
}

run_case() {
  local name=$1 monitor
  work=$2
  port=$3
  timeout_s=$4
  monitor=$5
  log=$work/monitor.log
  server=
  monitor_pid=
  trap '[[ -n $monitor_pid ]] && kill "$monitor_pid" 2>/dev/null; [[ -n $server ]] && kill "$server" 2>/dev/null' EXIT
  ip link set lo up || fail "can't bring lo up"
  case $name in
    unacknowledged) start_server "$work/events.1" 1 "$work/answer" ;;
    *) start_server "$work/events.1" 1 ;;
  esac
  # On a pseudo-terminal (script), where the monitor writes each line at
  # once; into a file it would write in blocks and hold back the last lines.
  script -qfec "$monitor" "$log" </dev/null >/dev/null 2>&1 &
  monitor_pid=$!
  case $name in
    long-poll | long-poll-off)
      wait_for "$work/events.1" '^request 2$' 30 || fail "the monitor never sent its second request"
      sleep 1  # the request is acknowledged: a pure long poll from here on
      kill_path
      if [[ $name == long-poll ]]; then
        expect_detection_and_recovery
      else
        if wait_for "$log" 'Error' $((timeout_s + slack_s)); then
          fail "an error line with detection off: $(grep -a Error "$log")"
        fi
        echo "detection off: nothing in $((timeout_s + slack_s)) s after the path went down; the connection:"
        ss -tnoH state established "( dport = :$port )"
      fi
      ;;
    unacknowledged)
      wait_for "$work/events.1" '^request 1$' 30 || fail "the monitor never sent its request"
      nft add table inet dead_path_test &&
        nft add chain inet dead_path_test input '{ type filter hook input priority 0; }' &&
        nft add rule inet dead_path_test input tcp dport "$port" drop ||
        fail "can't set up the packet filter"
      touch "$work/answer"
      wait_for "$log" '^SYSLOG\.ID: 1' 30 || fail "the record was not reported"
      sleep 1  # the next request is out, and unacknowledged
      grep -q '^request 2$' "$work/events.1" && fail "the filter let the second request through"
      kill_path
      expect_detection_and_recovery
      ;;
    silent)
      wait_for "$work/events.1" '^request 2$' 30 || fail "the monitor never sent its second request"
      local idle_s=$((timeout_s / 2))
      sleep $((idle_s + 2))
      local connection
      connection=$(ss -tnoH state established "( dport = :$port )")
      [[ $connection == *"timer:(keepalive"* ]] || fail "no keep-alive on the connection: $connection"
      echo "the connection probes: $connection"
      sleep $((2 * idle_s))
      grep -aq Error "$log" && fail "an error line while the server lives: $(grep -a Error "$log")"
      grep -q closed "$work/events.1" && fail "the monitor closed a live connection"
      echo "no error line in $((3 * idle_s + 2)) s of silence"
      ;;
  esac
  kill -0 "$monitor_pid" || fail "the monitor ended"
  echo "PASS"
}

if [[ ${1:-} == --case ]]; then
  shift
  run_case "$@"
  exit
fi

# --- the cases side by side ------------------------------------------------------

if (($# != 4)); then
  echo "usage: $0 MONITOR MONITOR_OFF PORT TIMEOUT_S" >&2
  exit 2
fi
monitor=$1 monitor_off=$2 port=$3 timeout_s=$4

if ! reason=$(unshare --net true 2>&1); then
  echo "SKIPPED: can't make a network namespace (unshare --net: ${reason:-refused}); the dead-path cases need root"
  exit 77
fi
for tool in ip nft ss python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIPPED: '$tool' is missing (packages iproute2, nftables, python3)"
    exit 77
  fi
done

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
declare -A pids
for name in long-poll unacknowledged silent long-poll-off; do
  mkdir "$root/$name"
  program=$monitor
  [[ $name == long-poll-off ]] && program=$monitor_off
  unshare --net -- bash "${BASH_SOURCE[0]}" --case "$name" "$root/$name" "$port" "$timeout_s" \
    "$program" >"$root/$name/out" 2>&1 &
  pids[$name]=$!
done
status=0
for name in long-poll unacknowledged silent long-poll-off; do
  result=0
  wait "${pids[$name]}" || result=$?
  echo "=== $name (exit $result)"
  cat "$root/$name/out"
  if ((result != 0)); then
    status=1
    echo "--- monitor log"
    cat -v "$root/$name/monitor.log"
  fi
done
exit $status
