#!/usr/bin/env bash
# Builds the Debian package of the programs: scripts/package.sh [BUILD_DIR] (default build/package).
# Compiles with Debian's flags (dpkg-buildflags, all hardening on), installs into the package
# through CPack and prints the path of the .deb on its last line. Install it with
#   sudo apt-get install ./build/package/tovrin_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
dir=${1:-$root/build/package}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)

export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CXXFLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
LDFLAGS=$(dpkg-buildflags --get LDFLAGS)
export CXXFLAGS LDFLAGS
config=(-DCMAKE_BUILD_TYPE=None -DCMAKE_INSTALL_PREFIX=/usr -DTOVRIN_BENCH=OFF)
# Only what goes into the package is built: configuring names it (cmake/Packaging.cmake).
BUILD_TARGETS=tovrin_gui bash scripts/build.sh "$dir" "${config[@]}" >/dev/null
BUILD_TARGETS=$(cat "$dir/packaging/targets") bash scripts/build.sh "$dir" "${config[@]}"

rm -f "$dir"/tovrin_*.deb
(cd "$dir" && cpack -G DEB) >&2
deb=$(ls "$dir"/tovrin_*.deb)
echo "package: $(dpkg-deb --field "$deb" Package Version Architecture Depends | tr '\n' ' ')" >&2
echo "$deb"
