#!/usr/bin/env bash
# Checks of the source tree itself: formatting, and no Qt outside the window layer.
#   check-source.sh           those two
#   check-source.sh --tidy B  clang-tidy on the code (not the tests), with build tree B's compile
#                             commands; every finding fails the check
set -uo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" = --tidy ]; then
  build=$(cd "$2" && pwd)
  dirs="probe measure history graph alert cli metrics service ui"
  # A unity build's translation units hold several of our files each, and clang-tidy then reads
  # Qt's headers once for all of them; the findings are those of each file all the same.
  units=$(for dir in $dirs; do find "$build/$dir" -path '*/Unity/unity_*.cxx' 2>/dev/null; done)
  # The Windows backends are compiled by the cross build, not in this tree.
  [ -n "$units" ] || units=$(find $dirs -name '*.cpp' -not -path '*/windows/*')
  # GCC's own warning options (-Wno-stringop-overread, ...) are unknown to clang: not a finding.
  # A unity unit includes our .cpp files by design.
  echo "$units" | xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --config-file=.clang-tidy \
    --quiet --warnings-as-errors='*' --checks=-bugprone-suspicious-include \
    --header-filter="^$PWD/(${dirs// /|})/" --extra-arg=-Wno-unknown-warning-option 2>/dev/null
  status=$?
  [ $status -eq 0 ] || echo "FAILED: clang-tidy findings above"
  exit $status
fi

failed=0
files=$(find probe measure history graph alert cli metrics service ui tests bench fuzz -name '*.cpp' -o -name '*.h')
if ! clang-format --dry-run -Werror $files; then
  echo "FAILED: run clang-format -i on the files above"; failed=1
fi

if grep -rn -E '#include <Q|#include "Q' probe measure history graph alert cli metrics; then
  echo "FAILED: the display-free libraries must not include Qt"; failed=1
fi
# The measuring service runs where no display is: Qt Core and Network only.
if grep -rn -E '#include <Q(Widget|Application|GuiApplication|Painter|Pixmap|Image|Icon|SystemTray)' service; then
  echo "FAILED: service/ must not use the display"; failed=1
fi
exit $failed
