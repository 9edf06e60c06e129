#!/usr/bin/env bash
# Builds the engine fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for the given number of seconds
# (default 600) from the checked-in seed corpus. New inputs it finds go to
# build/fuzz/corpus; a crash leaves its input in build/fuzz/findings.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
seconds="${1:-600}"
scripts/setup.sh

cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DKARVEL_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build build/fuzz --target encoding_job_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/findings
# Inputs up to 300000 bytes reach the second chunk of the transform loop.
build/fuzz/tests/fuzz/encoding_job_fuzzer -max_total_time="$seconds" -max_len=300000 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/findings/ build/fuzz/corpus tests/fuzz/corpus 2>build/fuzz/fuzz.log || {
  tail -n 40 build/fuzz/fuzz.log
  echo "fuzz: finding in build/fuzz/findings"
  exit 1
}
runs="$(grep -m1 'stat::number_of_executed_units' build/fuzz/fuzz.log | awk '{print $2}')"
rate="$(grep -m1 'stat::average_exec_per_sec' build/fuzz/fuzz.log | awk '{print $2}')"
echo "fuzz: ${runs} runs in ${seconds} s (${rate} per second), no finding"
