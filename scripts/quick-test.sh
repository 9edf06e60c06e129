#!/usr/bin/env bash
# The quick loop while developing: builds the engine and its tests natively
# (Debug, no sanitizers, no Wine) and runs them. The full check before a
# commit is scripts/test.sh.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh
cmake -S . -B build/quick -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/quick -j"$(nproc)"
ctest --test-dir build/quick -j"$(nproc)" --output-on-failure "$@"
