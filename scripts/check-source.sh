#!/usr/bin/env bash
# Checks of the source tree itself: formatting, and no Qt outside the window layer.
set -uo pipefail
cd "$(dirname "$0")/.."
failed=0

files=$(find probe measure history graph ui tests bench fuzz -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run -Werror $files; then
  echo "FAILED: run clang-format -i on the files above"; failed=1
fi

if grep -rn -E '#include <Q|#include "Q' probe measure history graph; then
  echo "FAILED: the display-free libraries must not include Qt"; failed=1
fi
exit $failed
