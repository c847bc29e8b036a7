#!/usr/bin/env bash
# Installs every Debian package KUV needs to build, run and test.
# Idempotent: apt is only touched when something is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config
  qt6-base-dev libasound2-dev libcurl4-openssl-dev libxcb-shm0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  alsa-utils xvfb xauth xdotool x11-utils imagemagick dbus dbus-x11 fonts-dejavu-core openbox trayer playerctl
  ffmpeg lame twolame sox time madplay
  clang libclang-rt-dev clang-format
  xdg-utils desktop-file-utils shared-mime-info
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
# Wait for another apt run (unattended upgrades, a parallel job) to let go of the lock.
APT_OPTS=(-o DPkg::Lock::Timeout=600)
echo "Installing: ${missing[*]}" >&2
"${SUDO[@]}" apt-get "${APT_OPTS[@]}" update -q
"${SUDO[@]}" apt-get "${APT_OPTS[@]}" install -y -q --no-install-recommends "${missing[@]}"
