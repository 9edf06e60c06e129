#!/usr/bin/env bash
# Checks every C and C++ file's formatting, then builds every test and runs
# it: natively, natively under AddressSanitizer and UndefinedBehaviorSanitizer,
# and the Windows build under Wine on a virtual X display; each build also
# replays the fuzz corpus. Prints how many tests ran in each.
set -uo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh || exit 1
source scripts/wine-env.sh

jobs="$(nproc)"
status=0
summary=()

build() {  # name, cmake arguments...
  local name="$1"
  shift
  cmake -S . -B "build/$name" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null &&
    cmake --build "build/$name" -j"$jobs"
}

# Every C and C++ file against .clang-format; one it would change fails the run.
check_format() {
  local files=() unformatted=() file
  mapfile -t files < <(
    find engine cli ui tests bench -name '*.cpp' -o -name '*.h' -o -name '*.c' | sort
    echo res/resource.h
    echo res/version.h
  )
  for file in "${files[@]}"; do
    clang-format --dry-run -Werror "$file" 2>/dev/null || unformatted+=("$file")
  done
  if ((${#unformatted[@]})); then
    status=1
    printf 'not formatted (clang-format -i FILE): %s\n' "${unformatted[@]}"
  fi
  summary+=("format: ${#files[@]} files checked, ${#unformatted[@]} not formatted")
}

# Adds up the per-executable GoogleTest reports of one build, and the corpus
# replay's own line from ctest's log.
count() {  # name, label
  local results="build/$1/gtest-results" tests=0 failures=0 skipped=0 file
  for file in "$results"/*.xml; do
    [ -f "$file" ] || continue
    local head
    head="$(grep -m1 '<testsuites' "$file")"
    tests=$((tests + $(sed -E 's/.* tests="([0-9]+)".*/\1/' <<<"$head")))
    failures=$((failures + $(sed -E 's/.* failures="([0-9]+)".*/\1/' <<<"$head")))
    skipped=$((skipped + $(grep -c 'result="skipped"' "$file")))
  done
  local log="build/$1/Testing/Temporary/LastTest.log" replay
  replay="$(grep -ho '[0-9]* inputs replayed, no finding' "$log")" || replay="failed"
  local line="$2: $((tests - failures - skipped)) passed, $failures failed, $skipped skipped"
  summary+=("$line; fuzz corpus: $replay")
  total_passed=$((${total_passed:-0} + tests - failures - skipped))
  total_failed=$((${total_failed:-0} + failures))
}

run() {  # name, label, results path as the test programs see it, ctest arguments...
  local name="$1" label="$2" results="$3"
  shift 3
  rm -rf "build/$name/gtest-results"
  mkdir -p "build/$name/gtest-results"
  GTEST_OUTPUT="xml:$results/" ctest --test-dir "build/$name" --output-on-failure "$@" |
    tee "build/$name/ctest-output.txt"
  ((PIPESTATUS[0] == 0)) || status=1
  count "$name" "$label"
  local retried
  retried="$(grep -o 'Test *#[0-9]*: [^ ]* \.*\*\*\*Failed' "build/$name/ctest-output.txt" |
    sed -E 's/.*: ([^ ]*) .*/\1/' | sort -u | tr '\n' ' ')"
  [ -z "$retried" ] || summary+=("$label: failed at least once (see ctest-output.txt): $retried")
}

check_format

build native || exit 1
run native "native" "$root/build/native/gtest-results" -j"$jobs"

build sanitize -DKARVEL_SANITIZE=ON || exit 1
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run sanitize "sanitizers" "$root/build/sanitize/gtest-results" -j"$jobs"

# The native build's karvel-cli is the Linux end of the files the window writes.
build windows -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DKARVEL_NATIVE_CLI="$root/build/native/cli/karvel-cli" || exit 1
karvel_wine_prefix
source scripts/display.sh
karvel_display || exit 1
wineserver -p  # one server for the whole run instead of one per test
# Wine's background services start with the first program and keep its output
# open; started here, they cannot hold a test's output pipe and stall ctest.
wine wineboot >/dev/null 2>&1 </dev/null
# Without a window manager, Wine now and then loses the activation or a start
# under load; a program that fails runs once more, and the summary names it.
run windows "Wine" "Z:$root/build/windows/gtest-results" -j1 --repeat until-pass:2
wineserver -k

echo
printf '%s\n' "${summary[@]}"
echo "total: ${total_passed:-0} passed, ${total_failed:-0} failed"
exit "$status"
