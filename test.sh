#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the normal build, the same tests under
# AddressSanitizer and UndefinedBehaviorSanitizer, the Windows cross build of the display-free
# libraries, and a minute of fuzzing. Tests that need root or network namespaces skip with a reason
# when not root.
#
# The real-ICMP and desktop tests spend most of their time waiting (timeouts, a window manager), so
# the next builds and the fuzzer run beside the tests, at a low priority: the tests keep the CPU
# when they need it, and the whole takes about as long as the builds.
set -euo pipefail
cd "$(dirname "$0")"
started=$SECONDS
phase() { echo "== $* (at $((SECONDS - started)) s)"; }

scripts/install-deps.sh
scripts/check-source.sh

phase "build"
# The program first: the alerts test (four minutes of its real one-minute cycle, mostly waiting)
# and the metrics lab start on it while the rest builds.
BUILD_TARGET=trelvane scripts/build.sh build

# The sanitizer build, then the fuzzer's, beside the tests of the normal one. The sanitizer build
# is a unity build (several files to a translation unit): a third less work, and clang-tidy later
# reads it the same way; the normal build keeps one unit per file, so each file's own includes are
# still checked.
log=$(mktemp -d)
corpus=$(mktemp -d)
mkdir "$corpus/history" "$corpus/icmp"
# A failed step stops what still runs beside it.
trap 'jobs -p | xargs -r kill 2>/dev/null; rm -rf "$log" "$corpus"' EXIT
(
  nice -n 19 scripts/build.sh build-asan -DTRELVANE_SANITIZE=ON -DTRELVANE_BENCH=OFF \
    -DCMAKE_UNITY_BUILD=ON &&
    CC=clang CXX=clang++ BUILD_TARGET="history_fuzz icmp_fuzz" nice -n 19 scripts/build.sh \
      build-fuzz -DTRELVANE_FUZZ=ON
) >"$log/asan-build" 2>&1 &
asan_build=$!
tests/desktop/alerts.sh build >"$log/alerts" 2>&1 &
alerts=$!
# So do the metrics lab (75 s of headless measuring, scraped by Prometheus) and the automatic trace
# (two minutes of the headless cycle in the router lab).
tests/network/run_metrics_lab.sh build . >"$log/metrics" 2>&1 &
metrics_lab=$!
tests/network/run_auto_trace.sh build >"$log/auto-trace" 2>&1 &
auto_trace=$!
scripts/build.sh build
phase "tests"
waiting='^(metrics_lab|auto_trace)$'  # run beside, above and below
(cd build && ctest --output-on-failure -j 2 -E "$waiting")

phase "installed tree and Debian package"
scripts/check-package.sh build

phase "AddressSanitizer + UndefinedBehaviorSanitizer, a minute of fuzzing, the Windows cross build"
wait "$asan_build" || { cat "$log/asan-build"; exit 1; }
# The history readers (40 s) and the ICMP packet rules (20 s) under libFuzzer (clang), the Windows
# cross build of the display-free libraries and clang-tidy on the code, all at the lowest priority
# beside the sanitizer tests: those tests have the CPU whenever they want it, and the lab's tests,
# which time answers to the millisecond, spend most of their time waiting.
asan_env=(env ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1)
cp fuzz/history_corpus/* "$corpus/history/"
cp fuzz/icmp_corpus/* "$corpus/icmp/"
(
  nice -n 19 build-fuzz/history_fuzz -max_total_time=40 -max_len=4096 \
    -artifact_prefix=build-fuzz/history- -print_final_stats=1 "$corpus/history" &&
    nice -n 19 build-fuzz/icmp_fuzz -max_total_time=20 -max_len=1500 \
      -artifact_prefix=build-fuzz/icmp- -print_final_stats=1 "$corpus/icmp"
) >"$log/fuzz" 2>&1 &
fuzz=$!
(
  nice -n 19 scripts/build.sh build-mingw -DTRELVANE_CORE_ONLY=ON \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" >"$log/mingw-build" 2>&1 &&
    nice -n 19 scripts/check-source.sh --tidy build-asan >"$log/tidy" 2>&1
) &
mingw_and_tidy=$!
# The metrics server under the sanitizers, with real scrapers, beside their tests.
"${asan_env[@]}" tests/network/run_metrics_lab.sh build-asan . >"$log/metrics-asan" 2>&1 &
metrics_lab_asan=$!
(cd build-asan && "${asan_env[@]}" ctest --output-on-failure -j 2 -E "$waiting")
wait "$mingw_and_tidy" || { cat "$log/mingw-build" "$log/tidy" 2>/dev/null; exit 1; }
wait "$fuzz" || { tail -n 60 "$log/fuzz"; exit 1; }
alerts_status=0
wait "$alerts" || alerts_status=$?
[ $alerts_status = 0 ] || [ $alerts_status = 77 ] || { cat "$log/alerts"; exit 1; }
echo "Alerts end to end:"
grep -E '^(ok|all done|SKIPPED)' "$log/alerts"
# A test run beside the others: its result, and its log when it failed.
beside() {  # beside PID LOG TITLE
  local status=0
  wait "$1" || status=$?
  [ $status = 0 ] || [ $status = 77 ] || { cat "$2"; exit 1; }
  echo "$3:"
  grep -E '^(ok|SKIPPED)' "$2" | grep -v "node_exporter gives trelvane_response_seconds_bucket"
}
beside "$metrics_lab" "$log/metrics" "Headless programs, Prometheus and node_exporter"
beside "$metrics_lab_asan" "$log/metrics-asan" "The same under the sanitizers"
beside "$auto_trace" "$log/auto-trace" "The automatic trace"
echo "clang-tidy: no finding"
echo "Windows cross build (mingw-w64):"
tail -n 3 "$log/mingw-build"
echo "History readers and ICMP packet rules under libFuzzer:"
grep -E '^(#[0-9]+ +DONE|stat::number_of_executed_units|Done )' "$log/fuzz" || tail -n 40 "$log/fuzz"

phase "done"
echo "All tests passed."
