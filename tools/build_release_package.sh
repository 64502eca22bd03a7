#!/usr/bin/env bash
# Builds the Debian package of a release build in build-release/, with the
# settings given as CMake options (e.g. -DSTATUS_SERVER_HOST=...), and prints
# its path. Installs the build tools when missing (as root), or names the
# command that installs them.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
# shellcheck source=tools/packages.sh
source tools/packages.sh
ensure_packages package cmake ninja-build g++ dpkg-dev

cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF "$@"
cmake --build build-release
rm -f build-release/status-monitor_*.deb
(cd build-release && cpack -G DEB >&2)
ls "$repo"/build-release/status-monitor_*.deb
