#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, benchmark and run its demo.
# Safe to run again: packages already present are skipped by apt.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libgl-dev libqt6dbus6 dbus-daemon
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  iproute2 util-linux procps
  xvfb xauth imagemagick x11-utils xdotool
  socat netcat-openbsd ccache
  libcli11-dev nlohmann-json3-dev libssl-dev time
  fonts-dejavu-core
  file desktop-file-utils appstream lintian librsvg2-bin help2man xclip tcpdump
  python3 tmux
  weston qt6-wayland
  at-spi2-core python3-pyatspi
  orca speech-dispatcher openbox
  qt6-base-private-dev
  prometheus-cpp-dev prometheus curl systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
