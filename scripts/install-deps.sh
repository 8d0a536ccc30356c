#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, and only those that are missing.
set -euo pipefail

packages=(
  build-essential dpkg-dev cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev clang-format
  libevt-utils libevtx-dev libbfio-dev libevtx-utils attr samba smbclient samba-vfs-modules auditd
  libsystemd-dev
  qt6-base-dev xvfb xauth fonts-liberation desktop-file-utils locales
  g++-mingw-w64-x86-64 wine wine64 openbox x11-utils
  lintian systemd
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Two regional formats, so that the date text is tested beyond the C locale.
for loc in de_DE en_US; do
  locale -a 2>/dev/null | grep -qi "^${loc}.utf-\?8$" || "${sudo[@]}" localedef -i "$loc" -f UTF-8 "$loc.UTF-8"
done
