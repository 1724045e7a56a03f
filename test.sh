#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows cross build of the display-free
# libraries, and a minute of fuzzing. Tests that need root or network namespaces skip with a reason
# when not root.
#
# The real-ICMP and desktop tests spend most of their time waiting (timeouts, a window manager), so
# the next build runs beside each test run, at the lowest priority: the tests keep the CPU when they
# need it (their timing allows a busy machine), and the whole takes about as long as the tests.
set -euo pipefail
cd "$(dirname "$0")"
started=$SECONDS
phase() { echo "== $* (at $((SECONDS - started)) s)"; }

scripts/install-deps.sh
scripts/check-source.sh

phase "build"
scripts/build.sh build

# The sanitizer build, beside the tests of the normal one.
log=$(mktemp -d)
trap 'rm -rf "$log"' EXIT
nice -n 19 scripts/build.sh build-asan -DTRELVANE_SANITIZE=ON -DTRELVANE_BENCH=OFF \
  >"$log/asan-build" 2>&1 &
asan_build=$!
phase "tests"
(cd build && ctest --output-on-failure -j 2)

phase "installed tree and Debian package"
scripts/check-package.sh build

phase "AddressSanitizer + UndefinedBehaviorSanitizer"
wait "$asan_build" || { cat "$log/asan-build"; exit 1; }
# The Windows cross build and the fuzzer's build, beside the sanitizer tests.
(
  nice -n 19 scripts/build.sh build-mingw -DTRELVANE_CORE_ONLY=ON \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" &&
    CC=clang CXX=clang++ BUILD_TARGET=history_fuzz nice -n 19 scripts/build.sh build-fuzz \
      -DTRELVANE_FUZZ=ON
) >"$log/other-builds" 2>&1 &
other_builds=$!
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j 2)

phase "Windows cross build (mingw-w64) and the fuzzer's build"
wait "$other_builds" || { cat "$log/other-builds"; exit 1; }
tail -n 3 "$log/other-builds"

phase "history readers under libFuzzer (clang), 60 seconds"
corpus=$(mktemp -d)
cp fuzz/corpus/* "$corpus/"
build-fuzz/history_fuzz -max_total_time=60 -max_len=4096 -artifact_prefix=build-fuzz/ \
  -print_final_stats=1 "$corpus" 2>&1 |
  tail -n 40
rm -rf "$corpus"

phase "done"
echo "All tests passed."
