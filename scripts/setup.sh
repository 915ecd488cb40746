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
  weston qt6-wayland gdb
  at-spi2-core python3-pyatspi
  orca speech-dispatcher openbox
  qt6-base-private-dev
  prometheus-cpp-dev prometheus prometheus-alertmanager curl systemd
  acl attr libacl1-dev
  qt6-l10n-tools qt6-tools-dev qt6-translations-l10n locales
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The window tests run the program in German and in American English: both locales must exist.
for loc in de_DE en_US; do
  locale -a | grep -qix "$loc.utf-\?8" || $sudo localedef -i "$loc" -c -f UTF-8 "$loc.UTF-8"
done
