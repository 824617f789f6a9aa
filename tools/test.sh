#!/usr/bin/env bash
# The whole test suite from a clean clone: installs what is missing, then
# builds and runs every test in a normal and in a sanitizer (ASan + UBSan)
# build.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install_deps.sh

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# X server tests need a font library with the font-service client.
bash tools/build_xfont.sh build/xfont

bash tools/build.sh build
(cd build && ctest --output-on-failure -j2)

CC=clang CXX=clang++ bash tools/build.sh build-asan -DBRASSEL_SANITIZE=ON
(cd build-asan && ctest --output-on-failure -j2)
