#!/usr/bin/env bash
# Checks of the source tree itself: formatting, and no Qt outside the window layer.
#   check-source.sh           those two
#   check-source.sh --tidy B  clang-tidy on the code (not the tests), with build tree B's compile
#                             commands; every finding fails the check
set -uo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --tidy ]; then
  build=$2
  # GCC's own warning options (-Wno-stringop-overread, ...) are unknown to clang: not a finding.
  # The Windows backends are compiled by the cross build, not in this tree.
  find probe measure history graph alert cli ui -name '*.cpp' -not -path '*/windows/*' |
    xargs -P "$(nproc)" -n 4 clang-tidy -p "$build" --quiet --warnings-as-errors='*' \
      --extra-arg=-Wno-unknown-warning-option 2>/dev/null
  status=$?
  [ $status -eq 0 ] || echo "FAILED: clang-tidy findings above"
  exit $status
fi

failed=0
files=$(find probe measure history graph alert cli ui tests bench fuzz -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run -Werror $files; then
  echo "FAILED: run clang-format -i on the files above"; failed=1
fi

if grep -rn -E '#include <Q|#include "Q' probe measure history graph alert cli; then
  echo "FAILED: the display-free libraries must not include Qt"; failed=1
fi
exit $failed
