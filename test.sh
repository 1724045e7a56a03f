#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows cross build of the display-free
# libraries. Tests that need root or network namespaces skip with a reason when not root.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
scripts/check-source.sh

echo "== build"
scripts/build.sh build
(cd build && ctest --output-on-failure -j 2)

echo "== installed tree and Debian package"
scripts/check-package.sh build

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
scripts/build.sh build-asan -DTRELVANE_SANITIZE=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j 2)

echo "== Windows cross build (mingw-w64)"
scripts/build.sh build-mingw -DTRELVANE_CORE_ONLY=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"

echo "== history readers under libFuzzer (clang), 60 seconds"
CC=clang CXX=clang++ BUILD_TARGET=history_fuzz scripts/build.sh build-fuzz -DTRELVANE_FUZZ=ON
corpus=$(mktemp -d)
cp tests/fuzz/corpus/* "$corpus/"
build-fuzz/history_fuzz -max_total_time=60 -max_len=4096 -artifact_prefix=build-fuzz/ \
  -print_final_stats=1 "$corpus" 2>&1 |
  tail -n 40
rm -rf "$corpus"

echo "All tests passed."
