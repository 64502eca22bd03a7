#!/usr/bin/env bash
# The Debian package, end to end, in build-package/:
#   1. build the program with the project's settings and make the package
#      with `cpack -G DEB`;
#   2. lintian: no errors and no warnings;
#   3. `cmake --install` with DESTDIR and another prefix: the files expected,
#      the unit naming the program under that prefix;
#   4. dpkg -i (the units are installed, not enabled, not started);
#      systemd-analyze verify on both installed units, each one's exposure
#      score at most 1.5; the manual page found by man;
#   5. the installed /usr/bin/status-monitor, as an unprivileged user, against
#      the demo status server on a port that the kernel handed out (named by
#      the program's argument) for a few seconds: its log checked;
#   6. an instance of the template enabled, dpkg --purge, then nothing of the
#      package left on the machine, the instance's link neither.
# Needs root (dpkg). Refuses to run when a status-monitor package is already
# installed, rather than replace and purge it.
set -euo pipefail
# shellcheck source=tools/test_stages/stage_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/stage_lib.sh"

build="build-package"
max_exposure=1.5

if ((EUID != 0)); then
  echo "package: needs root (dpkg -i and --purge)" >&2
  exit 1
fi
if dpkg-query -W -f='${db:Status-Status}' status-monitor 2>/dev/null | grep -qx installed; then
  echo "package: a status-monitor package is installed already; remove it first" >&2
  exit 1
fi

scratch=$(mktemp -d)
server_pid=
installed=
finish() {
  [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  if [[ -n $installed ]]; then dpkg --purge status-monitor >/dev/null 2>&1 || true; fi
  rm -rf "$scratch"
}
trap finish EXIT

# --- 1. the package -------------------------------------------------------------
build_package "$build"
echo "package: $deb, $(stat -c %s "$deb") bytes; installed size $(dpkg-deb -f "$deb" Installed-Size) KiB" >&2
run dpkg-deb -I "$deb"
run dpkg-deb -c "$deb"

# --- 2. lintian -----------------------------------------------------------------
run lintian --fail-on error,warning --info "$deb"

# --- 3. cmake --install with DESTDIR ---------------------------------------------
stage=$scratch/stage
DESTDIR=$stage run cmake --install "$build" --prefix /opt/monitor-test
expected="bin/status-monitor
lib/status-monitor/libws2_32.so
lib/systemd/system/status-monitor.service
lib/systemd/system/status-monitor@.service
share/doc/status-monitor/LICENSE
share/doc/status-monitor/README.md
share/doc/status-monitor/changelog.gz
share/doc/status-monitor/copyright
share/man/man1/status-monitor.1.gz"
actual=$(cd "$stage/opt/monitor-test" && find . -type f | sed 's|^\./||' | sort)
if [[ $actual != "$expected" ]]; then
  echo "package: cmake --install laid out:" >&2
  echo "$actual" >&2
  exit 1
fi
grep -qx 'ExecStart=/opt/monitor-test/bin/status-monitor' \
  "$stage/opt/monitor-test/lib/systemd/system/status-monitor.service"
grep -qx 'ExecStart=/opt/monitor-test/bin/status-monitor -- %i' \
  "$stage/opt/monitor-test/lib/systemd/system/status-monitor@.service"
grep -qx 'Documentation=file:/opt/monitor-test/share/doc/status-monitor/README.md' \
  "$stage/opt/monitor-test/lib/systemd/system/status-monitor@.service"
if [[ -e /opt/monitor-test ]]; then
  echo "package: DESTDIR was not honoured (/opt/monitor-test exists)" >&2
  exit 1
fi

# --- 4. dpkg -i -----------------------------------------------------------------
installed=1
run dpkg -i "$deb"
unit=/usr/lib/systemd/system/status-monitor.service
template=/usr/lib/systemd/system/status-monitor@.service
grep -qx 'ExecStart=/usr/bin/status-monitor' "$unit"
grep -qx 'ExecStart=/usr/bin/status-monitor -- %i' "$template"
if find /etc/systemd -name 'status-monitor*' | grep -q .; then
  echo "package: a unit was enabled by the installation" >&2
  exit 1
fi
# As an unprivileged user, as anybody may check a unit. The units name no
# man: page, which verify would check by running man (absent on a minimal
# system; run by root, it would leave a formatted copy in man-db's cache).
verify=$(setpriv --reuid=nobody --regid=nogroup --clear-groups \
  systemd-analyze verify "$unit" "$template" 2>&1) || { echo "$verify" >&2; exit 1; }
if [[ -n $verify ]]; then
  echo "package: systemd-analyze verify is not clean:" >&2
  echo "$verify" >&2
  exit 1
fi
# The template is rated as an instance of it, which the offline check makes
# from a copy under an instance's name.
instance_dir=$scratch/units
mkdir -p "$instance_dir"
cp "$template" "$instance_dir/status-monitor@localhost.service"
for file in "$unit" "$instance_dir/status-monitor@localhost.service"; do
  name=$(basename "$file")
  security=$(systemd-analyze security --offline=yes "$file" 2>&1)
  exposure=$(sed -n "s/.*Overall exposure level for $name: \\([0-9.]*\\).*/\\1/p" <<<"$security")
  echo "package: $name exposure $exposure (at most $max_exposure)" >&2
  if [[ -z $exposure ]] || ! awk -v e="$exposure" -v m="$max_exposure" 'BEGIN { exit !(e <= m) }'; then
    echo "$security" >&2
    exit 1
  fi
done
[[ $(man -w status-monitor) == /usr/share/man/man1/status-monitor.1.gz ]]

# --- 5. the installed program against the demo status server ----------------------
server_log=$scratch/server.log
"$build/bin/demo-status-server" --port 0 --interval-ms 200 >"$server_log" 2>&1 &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$server_log")
  [[ -n $port ]] && break
  sleep 0.1
done
if [[ -z $port ]]; then
  echo "package: the demo status server does not listen:" >&2
  cat "$server_log" >&2
  exit 1
fi
log=$scratch/monitor.log
chmod 755 "$scratch"
status=0
(cd / && setpriv --reuid=nobody --regid=nogroup --clear-groups \
  timeout -s TERM 4 /usr/bin/status-monitor "localhost:$port" >"$log" 2>"$scratch/monitor.err") ||
  status=$?
# Ended by SIGTERM after 4 s, as a service manager ends it.
if ((status != 124)); then
  echo "package: the monitor ended with $status before it was stopped:" >&2
  cat "$scratch/monitor.err" >&2
  exit 1
fi
[[ ! -s $scratch/monitor.err ]]
records=$(grep -c $'^SYSLOG.ID: .*\r$' "$log" || true)
echo "package: the installed monitor logged $(stat -c %s "$log") bytes, $records records" >&2
if ! head -c 22 "$log" | cmp -s - <(printf 'Version: 15.2.23.6\r\n\r\n') ||
  ! grep -q $'^[0-9:.]* Connected to localhost\r$' "$log" ||
  ! grep -q $'^[0-9:.]* GET /\r$' "$log" || ((records < 3)); then
  echo "package: unexpected log:" >&2
  cat -A "$log" | head -40 >&2
  exit 1
fi

# --- 6. dpkg --purge ----------------------------------------------------------
# An instance of the template enabled as an operator enables it (no systemd
# runs here: systemctl makes the link alone): the purge must take it too.
run systemctl enable "status-monitor@localhost:$port.service"
[[ -L /etc/systemd/system/multi-user.target.wants/status-monitor@localhost:$port.service ]]
run dpkg --purge status-monitor
installed=
if dpkg-query -W status-monitor >/dev/null 2>&1; then
  echo "package: dpkg still knows the package after the purge" >&2
  exit 1
fi
left=$(find /usr /etc /var /opt /lib -xdev -name '*status-monitor*' 2>/dev/null || true)
if [[ -n $left ]]; then
  echo "package: left on the machine after the purge:" >&2
  echo "$left" >&2
  exit 1
fi
echo "package: built, lintian clean, installed, ran, purged without a trace" >&2
