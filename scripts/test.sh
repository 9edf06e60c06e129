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
total_passed=0
total_bad=0

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

# Counts one build's ctest tests by ctest's own verdict on each (its result
# lines in the run's output) and names every one that did not pass; adds up
# the per-executable GoogleTest reports, and the corpus replay's own line from
# ctest's log. A test that failed, timed out, crashed or could not run fails
# the whole run.
count() {  # name, label
  local output="build/$1/ctest-output.txt" verdict name
  local passed=0 skipped=0 failed=() timed_out=() crashed=() not_run=()
  while read -r name verdict; do
    case "$verdict" in
      Passed) passed=$((passed + 1)) ;;
      '***Skipped') skipped=$((skipped + 1)) ;;
      '***Timeout') timed_out+=("$name") ;;
      '***Exception'*) crashed+=("$name") ;;
      '***Not Run'*) not_run+=("$name") ;;
      *) failed+=("$name") ;;
    esac
  done < <(sed -nE 's/^ *[0-9]+\/[0-9]+ Test +#[0-9]+: ([^ ]+) \.* *(Passed|\*\*\*[A-Za-z ]+).*/\1 \2/p' "$output")
  local bad=$((${#failed[@]} + ${#timed_out[@]} + ${#crashed[@]} + ${#not_run[@]}))
  ((bad == 0)) || status=1

  local results="build/$1/gtest-results" cases=0 case_failures=0 case_skipped=0 file
  for file in "$results"/*.xml; do
    [ -f "$file" ] || continue
    local head
    head="$(grep -m1 '<testsuites' "$file")"
    cases=$((cases + $(sed -E 's/.* tests="([0-9]+)".*/\1/' <<<"$head")))
    case_failures=$((case_failures + $(sed -E 's/.* failures="([0-9]+)".*/\1/' <<<"$head")))
    case_skipped=$((case_skipped + $(grep -c 'result="skipped"' "$file")))
  done
  local log="build/$1/Testing/Temporary/LastTest.log" replay
  replay="$(grep -ho '[0-9]* inputs replayed, no finding' "$log")" || replay="failed"

  summary+=("$2: $passed passed, ${#failed[@]} failed, ${#timed_out[@]} timed out, ${#crashed[@]} crashed, ${#not_run[@]} not run, $skipped skipped")
  summary+=("  GoogleTest cases: $((cases - case_failures - case_skipped)) passed, $case_failures failed, $case_skipped skipped; fuzz corpus: $replay")
  ((${#failed[@]} == 0)) || summary+=("  failed: ${failed[*]}")
  ((${#timed_out[@]} == 0)) || summary+=("  timed out: ${timed_out[*]}")
  ((${#crashed[@]} == 0)) || summary+=("  crashed: ${crashed[*]}")
  ((${#not_run[@]} == 0)) || summary+=("  not run: ${not_run[*]}")
  ((bad == 0)) || summary+=("  (their output: $output)")
  total_passed=$((total_passed + passed))
  total_bad=$((total_bad + bad))
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
karvel_window_manager || exit 1
wineserver -p  # one server for the whole run instead of one per test
# Wine's background services start with the first program and keep its output
# open; started here, they cannot hold a test's output pipe and stall ctest.
wine wineboot >/dev/null 2>&1 </dev/null
# A test without a time limit of its own ends after 15 minutes, not ctest's 25.
run windows "Wine" "Z:$root/build/windows/gtest-results" -j1 --timeout 900
wineserver -k

echo
printf '%s\n' "${summary[@]}"
echo "total: $total_passed tests passed, $total_bad did not"
exit "$status"
