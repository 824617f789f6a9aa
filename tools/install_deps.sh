#!/usr/bin/env bash
# Installs, on Debian 12 as root, whatever the build, the server and the test
# suite need and the machine does not have yet.
set -euo pipefail

packages=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  googletest libgtest-dev libbenchmark-dev libfreetype-dev
  python3 python3-fonttools
  fonts-dejavu-core fonts-liberation
  x11-xfs-utils xvfb x11-xserver-utils x11-utils libx11-dev zlib1g-dev
  util-linux procps iproute2 passwd
  groff-base man-db systemd
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$package")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
