#!/usr/bin/env bash
# Installs what is missing, builds the server, synchronises the machine's
# TrueType fonts into a cache directory of brassel's own and serves them in
# the foreground on TCP port 7101 (and the Unix socket /tmp/.font-unix/fs7101).
# $BRASSEL_FONTS and $BRASSEL_CACHE choose other directories; arguments are
# passed on to the server (for example --encoding koi8-r).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh
BRASSEL_TARGETS=brassel bash tools/build.sh build

fonts=${BRASSEL_FONTS:-/usr/share/fonts/truetype}
cache=${BRASSEL_CACHE:-/var/cache/brassel}
mkdir -p "$cache"
# Rebuild the database first, so that fonts added since the last run are
# served too.
./build/brassel --sync --dir "$fonts" --cache "$cache"
exec ./build/brassel --dir "$fonts" --cache "$cache" --port 7101 "$@"
