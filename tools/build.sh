#!/usr/bin/env bash
# Configures and builds one build tree: tools/build.sh DIR [cmake options...]
# Builds every target, or only those named in $BRASSEL_TARGETS.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=$1; shift
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for target in ${BRASSEL_TARGETS:-}; do
  targets+=(--target "$target")
done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
