# Sourced by the scripts that the README tells a newcomer to run: makes sure
# that the Debian packages a script needs are installed.
#
#   ensure_packages NAME PACKAGE...
#
# Installs the missing ones when run as root (apt-get update once, then
# apt-get install -y); as another user stops with one line that names the
# exact command to run as root. NAME starts the messages. A package may carry
# an architecture (wine32:i386); that architecture is added to dpkg first.
# On a system without dpkg nothing is checked.
# shellcheck shell=bash

_apt_updated=

ensure_packages() {
  local who=$1
  shift
  command -v dpkg-query >/dev/null || return 0
  local missing=() package
  for package in "$@"; do
    if [[ $(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null) != installed ]]; then
      missing+=("$package")
    fi
  done
  ((${#missing[@]} > 0)) || return 0

  local architectures=() foreign
  foreign=" $(dpkg --print-foreign-architectures 2>/dev/null | tr '\n' ' ') "
  for package in "${missing[@]}"; do
    if [[ $package == *:* && $foreign != *" ${package#*:} "* ]]; then
      architectures+=("${package#*:}")
    fi
  done
  mapfile -t architectures < <(printf '%s\n' "${architectures[@]}" | sed '/^$/d' | sort -u)

  local command="" architecture
  for architecture in "${architectures[@]}"; do
    command+="dpkg --add-architecture $architecture && "
  done
  command+="apt-get update && apt-get install -y --no-install-recommends ${missing[*]}"
  if ((EUID != 0)); then
    echo "$who: missing packages; run as root: $command" >&2
    exit 1
  fi
  echo "$who: installing ${missing[*]}" >&2
  for architecture in "${architectures[@]}"; do
    dpkg --add-architecture "$architecture"
    _apt_updated=
  done
  if [[ -z $_apt_updated ]]; then
    DEBIAN_FRONTEND=noninteractive apt-get update
    _apt_updated=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}
