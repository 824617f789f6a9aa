#!/usr/bin/env bash
# Builds, into DIR (default build/xfont), the X servers' font library from
# Debian's own source package with its font-service client switched on.
# Debian builds it without that client, so a stock X server answers
# "bad font path element" to `xset +fp tcp/...`. Start the stock Xvfb with
# LD_LIBRARY_PATH=DIR/lib and it can use a font server.
# Prints DIR/lib on success. Needs root for apt-get on a fresh machine.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$(realpath -m "${1:-build/xfont}")
lib="$dir/lib"
if [ -e "$lib/libXfont2.so.2" ]; then
  echo "$lib"
  exit 0
fi

# The source package needs a deb-src entry for the archives apt already uses.
if ! grep -rqs '^Types:.*deb-src\|^deb-src' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources \
      > /etc/apt/sources.list.d/brassel-src.sources
  fi
  if [ -f /etc/apt/sources.list ]; then
    sed -n -e 's/^deb /deb-src /p' /etc/apt/sources.list > /etc/apt/sources.list.d/brassel-src.list
  fi
  apt-get update -qq
fi

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq --no-install-recommends dpkg-dev pkg-config libfontenc-dev \
  x11proto-dev xtrans-dev libfreetype-dev zlib1g-dev libbz2-dev >/dev/null

rm -rf "$dir/source"
mkdir -p "$dir/source"
(
  cd "$dir/source"
  # A security update's source may lack its original tarball in the security
  # archive; the release's own version of the same upstream code then serves.
  apt-get source -qq libxfont2 >/dev/null 2>&1 || {
    rm -rf ./*
    apt-get source -qq libxfont2/bookworm >/dev/null 2>&1 || apt-get source -qq libxfont2/stable >/dev/null
  }
  cd "$(find . -maxdepth 1 -mindepth 1 -type d -name 'libxfont*' | head -n 1)"
  ./configure --enable-fc --enable-builtins --enable-pcfformat --enable-bdfformat \
    --with-bzip2 --disable-devel-docs --without-xmlto --without-fop >configure.log 2>&1
  make -j"$(nproc)" >make.log 2>&1
  mkdir -p "$lib"
  cp -a .libs/libXfont2.so* "$lib/"
)
echo "$lib"
