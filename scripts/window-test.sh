#!/usr/bin/env bash
# The quick loop for the window: builds the window test programs that hold a test matching
# FILTER (a GoogleTest filter, e.g. 'DesktopTest.Unicode*') and runs them with it under Wine on
# a virtual display of their own, in the prefix and settings the window tests get from ctest.
# LOCALE sets Wine's ANSI code page: C.UTF-8 (the default) gives 1252, ja_JP.UTF-8 gives 932.
# The disk-fault case skips here: its disks come from ctest's fixture, which needs root.
# Usage: scripts/window-test.sh FILTER [LOCALE]
set -uo pipefail
[ $# -ge 1 ] || { echo "usage: $0 FILTER [LOCALE]" >&2; exit 2; }
filter="$1"
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root" || exit 1
build="$root/build/windows"

# The programs with a case the filter's selecting part (before any "-") names.
IFS=: read -ra patterns <<<"${filter%%-*}"
((${#patterns[@]})) || patterns=("*")
programs=()
for source in tests/gui/window_*_test.cpp; do
  for name in $(sed -nE 's/^TEST_F\((\w+), (\w+)\).*/\1.\2/p' "$source"); do
    for pattern in "${patterns[@]}"; do
      # shellcheck disable=SC2053  # the pattern is a glob on purpose
      if [[ "$name" == $pattern ]]; then
        programs+=("$(basename "$source" .cpp)")
        continue 3
      fi
    done
  done
done
((${#programs[@]})) || { echo "no window test matches $filter" >&2; exit 2; }

scripts/setup.sh || exit 1
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null || exit 1
cmake --build "$build" -j2 --target "${programs[@]}" || exit 1

export KARVEL_WINEPREFIX="$build/wine-prefix-gui"
export KARVEL_HELP_HANDLER="$build/tests/gui/help_handler.exe"
export XDG_DATA_HOME="$build/test-data-home" LANG="${2:-C.UTF-8}"
source scripts/wine-env.sh
karvel_wine_prefix
source scripts/display.sh
karvel_display || exit 1
karvel_window_manager || exit 1
# Wine's background services start here, not with the first test, which they would slow.
wine wineboot >/dev/null 2>&1 </dev/null

status=0
for program in "${programs[@]}"; do
  echo "== $program"
  wine "$build/tests/gui/$program.exe" --gtest_filter="$filter" || status=1
done
exit "$status"
