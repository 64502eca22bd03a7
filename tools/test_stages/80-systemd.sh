#!/usr/bin/env bash
# The Debian package under a real, booted systemd, checked as an operator
# would check it:
#   1. build the package as the package stage does (the same build folder and
#      settings, so after that stage this is only cpack);
#   2. boot a systemd container from the host's own tree, install the package;
#   3. both units pass `systemd-analyze verify`, and `systemd-analyze security`
#      rates each at most 1.5;
#   4. status-monitor.service against a paced status server on its built-in
#      port (the container's network is its own, so no other run can hold
#      it): each record's report is in the journal within 1 s of the send,
#      the last one before a quiet spell too;
#   5. the server stops: `journalctl -p err` shows its failure lines and
#      nothing else;
#   6. `systemctl kill -s KILL`: systemd starts it again within 7 s;
#   7. `systemctl stop` in the middle of a stream: no line of the monitor's
#      journal is a fragment;
#   8. two instances of status-monitor@.service against two servers at once
#      (on ports that the kernel handed out, which the instances' names give;
#      one of them enabled), each with its own lines; an instance with a bad
#      name fails at once, the message and usage in its journal at level err,
#      and is not restarted;
#   9. a server whose lines are longer than journald's LineMax, with level
#      prefixes where journald would cut them: every piece of the echo at
#      level 7, of a 60 KB report value at 6, none longer than the monitor's
#      bound, the pieces joined are the line, nothing in -p err;
#  10. systemd-journal-remote on loopback, systemd-journal-upload sending to
#      it: the monitor's entries arrive with their levels, the long-line
#      pieces too, and -p err on the remote journal shows the failures;
#  11. dpkg --purge stops the instances that still run, and leaves neither
#      the link of the enabled one nor a failed unit.
# Prints the figures: latency from send to journal, restart time, exposure.
#
# The container (a booted systemd on an overlay of the host's own tree, driven
# through nsenter) is set up and taken down by systemd_container.sh beside
# this script; the checks of the journal's contents are the Python programs
# systemd_*.py beside it.
#
# Needs root. Cleans up whatever happens: the container is powered off (or
# killed) and both mounts are removed on every way out.
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"
# shellcheck source=tools/test_stages/systemd_container.sh
source tools/test_stages/systemd_container.sh

build="build-package"
remote_port=19532 # systemd-journal-remote's own
max_exposure=1.5
max_latency_s=1.0
max_restart_s=7
machine="status-monitor-ci-$$"

if ((EUID != 0)); then
  echo "systemd: needs root (mounts, systemd-nspawn)" >&2
  exit 1
fi

fail() {
  echo "systemd: $*" >&2
  exit 1
}

# --- 1. the package ---------------------------------------------------------------
build_package "$build"
# status-monitor.service's server: the built-in one of the package's build.
built_in_port=$(sed -n 's/^STATUS_SERVER_PORT:STRING=//p' "$build/CMakeCache.txt")
[[ $(sed -n 's/^STATUS_SERVER_HOST:STRING=//p' "$build/CMakeCache.txt") == localhost ]] ||
  fail "the package's build is not for a server on localhost"

# --- 2. the container ---------------------------------------------------------------
container_prepare "$machine"
ci=/var/tmp/status-monitor-ci # inside the container
mkdir -p "$root$ci"
cp "$deb" "$root$ci/"
cp tools/paced_status_server.py "$root$ci/"
container_boot

run in_container dpkg -i "$ci/$(basename "$deb")"
in_container systemctl daemon-reload

# Journal entries of a unit as JSON, one per line.
journal_json() {
  in_container journalctl --no-pager -o json "$@"
}

# --- 3. verify and security -------------------------------------------------------
units=(/usr/lib/systemd/system/status-monitor.service /usr/lib/systemd/system/status-monitor@.service)
verify=$(in_container systemd-analyze verify "${units[@]}" 2>&1) ||
  fail "systemd-analyze verify failed: $verify"
[[ -z $verify ]] || fail "systemd-analyze verify is not clean: $verify"
if grep -q '^Documentation=.*man:' "$root${units[0]}" "$root${units[1]}"; then
  fail "a unit names a man: page, which verify can check only where man is installed"
fi
exposure_of() { # UNIT: its overall exposure, as the loaded unit has it
  local report
  report=$(in_container systemd-analyze security "$1" 2>&1)
  local score
  score=$(sed -n "s/.*Overall exposure level for $1: \([0-9.]*\).*/\1/p" <<<"$report")
  if [[ -z $score ]] || ! awk -v e="$score" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }'; then
    echo "$report" >&2
    fail "$1: exposure '$score', more than $max_exposure"
  fi
  echo "$score"
}
exposure_plain=$(exposure_of status-monitor.service)
exposure_instance=$(exposure_of status-monitor@localhost.service)
echo "systemd: verify clean; exposure status-monitor.service $exposure_plain," \
  "status-monitor@localhost.service $exposure_instance (at most $max_exposure)" >&2

# --- 4. reports reach the journal at once -------------------------------------------
# server NAME PORT FIRST_ID COUNT PACE: a paced status server as a unit of its
# own, its log in $ci/NAME.log, on PORT (0: one that the kernel hands out);
# waits until it listens and sets server_port to its port.
# An optional sixth argument is the records' shape ("long").
server() {
  in_container systemd-run --quiet --unit="status-server-$1" \
    --property=StandardOutput="file:$ci/$1.log" \
    /usr/bin/python3 "$ci/paced_status_server.py" "$2" "$3" "$4" "$5" "${@:6}"
  for _ in $(seq 100); do
    server_port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$root$ci/$1.log" 2>/dev/null)
    [[ -n $server_port ]] && return 0
    sleep 0.1
  done
  fail "the status server $1 does not listen"
}
sent_count() { grep -c '^sent ' "$root$ci/$1.log" 2>/dev/null || true; }
wait_sent() { # NAME COUNT SECONDS
  for _ in $(seq $(($3 * 10))); do
    (($(sent_count "$1") >= $2)) && return 0
    sleep 0.1
  done
  fail "the status server $1 sent $(sent_count "$1") records in $3 s, not $2"
}

records_a=8
server a "$built_in_port" 1001 "$records_a" 0.5
run in_container systemctl enable --now status-monitor.service
[[ $(in_container systemctl is-active status-monitor.service) == active ]] ||
  fail "status-monitor.service did not start"
wait_sent a "$records_a" 30
# The quiet spell: the server sends nothing more; the last report must be in
# the journal all the same.
sleep 3
# Per record sent: its id and the seconds from its send to the journal entry
# of its report's last line, or "missing".
latencies=$(journal_json -u status-monitor.service |
  python3 tools/test_stages/systemd_report_latencies.py "$root$ci/a.log")
echo "systemd: send to journal, per record (s): $(awk '{ printf "%s ", $2 }' <<<"$latencies")" >&2
missing=$(awk '$2 == "missing" { printf "%s ", $1 }' <<<"$latencies")
[[ -z $missing ]] || fail "no report in the journal for the records $missing"
last_latency=$(tail -n 1 <<<"$latencies" | awk '{ print $2 }')
max_latency=$(awk 'BEGIN { m = 0 } { if ($2 > m) m = $2 } END { print m }' <<<"$latencies")
echo "systemd: latency at most $max_latency s; the last record before the quiet spell:" \
  "$last_latency s (limit $max_latency_s s)" >&2
awk -v m="$max_latency" -v l="$max_latency_s" 'BEGIN { exit !(m <= l) }' ||
  fail "a report reached the journal more than $max_latency_s s after its record was sent"

# --- 5. the server stops: journalctl -p err ------------------------------------------
in_container systemctl stop status-server-a.service
# The lost connection, then refused connects every 2 s.
sleep 5
failure_line='^([0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3} ?Error: .*|.*\(E[A-Za-z]+\))$'
# Both looks at the journal end at the same moment, a second ago (long since
# stored), since the monitor goes on logging refused connects meanwhile.
until=$(date -d '-1 second' '+%Y-%m-%d %H:%M:%S')
errors=$(in_container journalctl --no-pager -u status-monitor.service -p err -o cat --until "$until")
echo "systemd: journalctl -u status-monitor -p err shows:" >&2
sed 's/^/  /' <<<"$errors" >&2
grep -q 'Error: Connection Closed Gracefully. (EIdConnClosedGracefully)$' <<<"$errors" ||
  fail "journalctl -p err lacks the lost connection"
grep -q '^Connection refused. (EIdConnectException)$' <<<"$errors" ||
  fail "journalctl -p err lacks the refused connects (both lines of each)"
if grep -Evq "$failure_line" <<<"$errors"; then
  fail "journalctl -p err shows lines that are not failure lines"
fi
all_failures=$(in_container journalctl --no-pager -u status-monitor.service -o cat --until "$until" |
  grep -Ec "$failure_line" || true)
if (($(wc -l <<<"$errors") != all_failures)); then
  fail "$all_failures failure lines in the journal, but -p err shows $(wc -l <<<"$errors")"
fi

# --- 6. systemctl kill -s KILL: restarted ----------------------------------------------
# Timed on the monotonic clock, which the container shares with the host:
# from just before the kill to the start of the new process, as systemd
# recorded it.
old_pid=$(in_container systemctl show -P MainPID status-monitor.service)
killed_at_us=$(python3 -c 'import time; print(time.monotonic_ns() // 1000)')
in_container systemctl kill -s KILL status-monitor.service
restart_s=
for _ in $(seq $((max_restart_s * 10 + 30))); do
  pid=$(in_container systemctl show -P MainPID status-monitor.service)
  if [[ $pid != 0 && $pid != "$old_pid" ]]; then
    started_us=$(in_container systemctl show -P ExecMainStartTimestampMonotonic status-monitor.service)
    restart_s=$(awk -v a="$killed_at_us" -v b="$started_us" 'BEGIN { printf "%.2f", (b - a) / 1e6 }')
    break
  fi
  sleep 0.1
done
[[ -n $restart_s ]] || fail "status-monitor.service was not restarted after SIGKILL"
# The new main process exists from its fork on, but a unit of type exec
# counts as active only once the program itself runs (after the sandbox is
# set up): "activating" until then.
# A process that dies at once would show as "activating" too (waiting for
# the next restart), so the one started by the restart must be the one
# that runs.
state=
for _ in $(seq 100); do
  state=$(in_container systemctl is-active status-monitor.service || true)
  [[ $state != activating ]] && break
  sleep 0.1
done
[[ $state == active ]] || fail "status-monitor.service is $state, not active, after its restart"
[[ $(in_container systemctl show -P MainPID status-monitor.service) == "$pid" ]] ||
  fail "the process started by the restart ($pid) ended"
echo "systemd: restarted $restart_s s after systemctl kill -s KILL (limit $max_restart_s s)" >&2
awk -v r="$restart_s" -v m="$max_restart_s" 'BEGIN { exit !(r <= m) }' ||
  fail "the restart took longer than $max_restart_s s"

# --- 7. systemctl stop mid-stream: no fragment -----------------------------------------
server a2 "$built_in_port" 1101 100000 0.3
wait_sent a2 5 30
sleep 0.15 # between two records
in_container systemctl stop status-monitor.service
# Every line the monitor wrote, in all its runs, must be whole: a line of its
# log or an echo of a whole record sent to it.
journal_json _SYSTEMD_UNIT=status-monitor.service |
  python3 tools/test_stages/systemd_whole_lines.py "$root$ci/a.log" "$root$ci/a2.log" ||
  fail "systemctl stop (or kill) left a fragment"
in_container systemctl stop status-server-a2.service

# --- 8. template instances ---------------------------------------------------------------
server b 0 2001 100000 0.3
instance_b="status-monitor@localhost:$server_port.service"
server c 0 3001 100000 0.3
instance_c="status-monitor@127.0.0.1:$server_port.service"
# One enabled, as an operator makes it last: the purge must take its link.
run in_container systemctl enable --now "$instance_b"
run in_container systemctl start "$instance_c"
own_lines() { # INSTANCE HOST FIRST_ID: its reports are its server's, and enough
  local log
  for _ in $(seq 200); do
    log=$(in_container journalctl --no-pager -u "$1" -o cat)
    (($(grep -c '^SYSLOG.ID: ' <<<"$log") >= 3)) && break
    sleep 0.1
  done
  grep -q "Connected to $2\$" <<<"$log" || fail "$1: no 'Connected to $2'"
  local ids
  ids=$(sed -n 's/^SYSLOG.ID: //p' <<<"$log")
  (($(wc -w <<<"$ids") >= 3)) || fail "$1: fewer than 3 reports in 20 s"
  for id in $ids; do
    ((id >= $3 && id < $3 + 1000)) || fail "$1 reported record $id, not one of its server's"
  done
  if grep "Connected to" <<<"$log" | grep -vq "Connected to $2\$"; then
    fail "$1 connected elsewhere than $2"
  fi
  echo "systemd: $1: $(wc -w <<<"$ids") reports, all of its own server" >&2
}
own_lines "$instance_b" localhost 2001
own_lines "$instance_c" 127.0.0.1 3001

# A bad instance name: failed at once, the usage in its journal, no restart.
for bad in 'localhost:0' 'bad_host' 'localhost:80:81'; do
  unit="status-monitor@$bad.service"
  in_container systemctl start "$unit" || true
  for _ in $(seq 100); do
    [[ $(in_container systemctl is-failed "$unit" || true) == failed ]] && break
    sleep 0.1
  done
  [[ $(in_container systemctl is-failed "$unit" || true) == failed ]] || fail "$unit did not fail"
  sleep 1 # longer than nothing, shorter than RestartSec: a restart would show
  [[ $(in_container systemctl show -P NRestarts "$unit") == 0 ]] || fail "$unit was restarted"
  [[ $(in_container systemctl show -P ExecMainStatus "$unit") == 2 ]] || fail "$unit: exit code not 2"
  # Among the failures: the message and the usage are at level err.
  log=$(in_container journalctl --no-pager -u "$unit" -p err -o cat)
  if ! grep -q '^status-monitor: ' <<<"$log" || ! grep -q '^Usage: status-monitor ' <<<"$log"; then
    fail "$unit: no message and usage in journalctl -p err: $log"
  fi
done
echo "systemd: bad instance names fail at start, not restarted; systemctl status shows:" >&2
in_container systemctl status --no-pager --lines=5 'status-monitor@localhost:0.service' >&2 || true

# --- 9. lines longer than journald's LineMax ----------------------------------------
records_d=2
server d 0 4001 "$records_d" 0.3 long
instance_d="status-monitor@127.0.0.1:$server_port.service"
run in_container systemctl start "$instance_d"
wait_sent d "$records_d" 30
for _ in $(seq 100); do
  in_container journalctl --no-pager -u "$instance_d" -o cat | grep -q "^STATE: s$((4000 + records_d))\$" &&
    break
  sleep 0.1
done
# journalctl -o json leaves out a field of 4096 bytes or more unless --all:
# with --all a piece too long shows as what it is.
journal_json --all -u "$instance_d" |
  python3 tools/test_stages/systemd_long_lines.py "$root$ci/d.log" "$instance_d" ||
  fail "$instance_d: the long lines are not cut as they should be"
errors=$(in_container journalctl --no-pager -u "$instance_d" -p err -o cat)
[[ -z $errors ]] || fail "$instance_d: journalctl -p err shows: ${errors:0:300}"

# --- 10. to a central journal -----------------------------------------------------
# Plain HTTP on loopback (a real network would use HTTPS and the keys that
# journal-remote.conf and journal-upload.conf name): the socket on loopback
# only, the sink told to speak HTTP on it, the uploader sent there. All of it
# in the container's own /etc, the stage's tmpfs.
mkdir -p "$root/etc/systemd/system/systemd-journal-remote.socket.d" \
  "$root/etc/systemd/system/systemd-journal-remote.service.d"
printf '[Socket]\nListenStream=\nListenStream=127.0.0.1:%s\n' "$remote_port" \
  >"$root/etc/systemd/system/systemd-journal-remote.socket.d/loopback.conf"
printf '[Service]\nExecStart=\nExecStart=%s\n' \
  "/lib/systemd/systemd-journal-remote --listen-http=-3 --output=/var/log/journal/remote/" \
  >"$root/etc/systemd/system/systemd-journal-remote.service.d/http.conf"
printf '[Upload]\nURL=http://127.0.0.1:%s\n' "$remote_port" >"$root/etc/systemd/journal-upload.conf"
in_container systemctl daemon-reload
run in_container systemctl start systemd-journal-remote.socket systemd-journal-upload.service
remote_files='/var/log/journal/remote/*.journal' # journalctl --file expands it
# UNIT's entries as [PRIORITY, MESSAGE], one a line, from the local journal
# or the remote one; more options (-p err) after the unit.
entries_of() { # local|remote UNIT [OPTION...]
  local where=$1 unit=$2
  shift 2
  local files=()
  [[ $where == remote ]] && files=(--file="$remote_files")
  in_container journalctl --no-pager -o json --all "${files[@]}" -u "$unit" "$@" 2>/dev/null |
    python3 tools/test_stages/systemd_journal_entries.py
}
# The remote journal must hold what the local one holds, in the same order:
# the whole of status-monitor.service (stopped since step 7), and of the
# instance with the long lines what it had logged when this began.
for unit in status-monitor.service "$instance_d"; do
  here=$(entries_of local "$unit")
  count=$(grep -c . <<<"$here")
  there=
  for _ in $(seq 300); do
    there=$(entries_of remote "$unit" || true)
    (($(grep -c . <<<"$there") >= count)) && break
    sleep 0.2
  done
  [[ $(head -n "$count" <<<"$there") == "$here" ]] ||
    fail "$unit: the remote journal has $(grep -c . <<<"$there") entries, not the $count of the local one as they are"
  echo "systemd: $unit: its $count entries in the remote journal, levels and all" >&2
done
here=$(entries_of local status-monitor.service -p err)
there=$(entries_of remote status-monitor.service -p err)
[[ -n $here && $here == "$there" ]] ||
  fail "journalctl -p err on the remote journal does not show the failures the local one shows"
remote_errors=$(in_container journalctl --no-pager --file="$remote_files" -u status-monitor.service \
  -p err -o cat)
if grep -Evq "$failure_line" <<<"$remote_errors"; then
  fail "journalctl -p err on the remote journal shows lines that are not failure lines"
fi
echo "systemd: journalctl --file (remote) -u status-monitor -p err:" \
  "$(wc -l <<<"$remote_errors") failure lines, the same as locally" >&2
remote_long=$(entries_of remote "$instance_d" | python3 tools/test_stages/systemd_long_line_pieces.py)
echo "systemd: the long-line pieces in the remote journal: $remote_long" >&2
in_container systemctl stop systemd-journal-upload.service systemd-journal-remote.socket \
  systemd-journal-remote.service

# --- 11. dpkg --purge ----------------------------------------------------------------
# Removing the package stops every instance that still runs, and a purge
# leaves neither the enabled instance's link nor a failed unit behind.
[[ $(in_container systemctl is-active "$instance_b" "$instance_c" "$instance_d" | sort -u) == active ]] ||
  fail "the template instances ended by themselves"
[[ -L "$root/etc/systemd/system/multi-user.target.wants/$instance_b" ]] ||
  fail "enabling $instance_b made no link"
[[ -n $(in_container systemctl list-units --no-legend --plain --state=failed 'status-monitor@*.service') ]] ||
  fail "no failed instance before the purge: the check after it would prove nothing"
run in_container dpkg --purge status-monitor
left=$(in_container systemctl list-units --no-legend --plain --state=active \
  status-monitor.service 'status-monitor@*.service')
[[ -z $left ]] || fail "still running after dpkg --purge: $left"
links=$(find "$root/etc/systemd/system" \( -name 'status-monitor.service' -o -name 'status-monitor@*' \) \
  2>/dev/null || true)
[[ -z $links ]] || fail "left under /etc/systemd/system after dpkg --purge: $links"
failed=$(in_container systemctl list-units --all --no-legend --plain --state=failed \
  status-monitor.service 'status-monitor@*.service')
[[ -z $failed ]] || fail "still listed as failed after dpkg --purge: $failed"
loaded=$(in_container systemctl list-units --all --no-legend --plain \
  status-monitor.service 'status-monitor@*.service')
[[ -z $loaded ]] || fail "systemd still knows after dpkg --purge: $loaded"
echo "systemd: dpkg --purge left no unit running, failed or loaded, and no link" >&2

echo "systemd: latency at most $max_latency s (last before quiet: $last_latency s)," \
  "restart $restart_s s, exposure $exposure_plain / $exposure_instance," \
  "stage so far $SECONDS s" >&2
