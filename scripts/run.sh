#!/usr/bin/env bash
# Builds karvel.exe and starts it under Wine on the user's X display, from
# the folder that holds it and its help page.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh
if [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; then
  echo "run.sh: no X display reachable (DISPLAY=${DISPLAY:-unset}); karvel needs one" >&2
  exit 1
fi
cmake -S . -B build/windows -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build build/windows --target karvel -j2
source scripts/wine-env.sh
karvel_wine_prefix
cd build/windows/ui
exec wine karvel.exe
