#!/usr/bin/env bash
# Builds the benchmarks natively (Release, in build/bench) and prints every
# figure beside its baseline measured in the same run: scrambling one work
# buffer against memcpy; encoding and decoding a 1 GiB file against a plain
# copy loop, cp and the tools a user might pick instead; the peak memory of
# encoding a small and a large file.
set -euo pipefail
shopt -s inherit_errexit
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh

build="$root/build/bench"
data="$build/data"
runs=5
passphrase="correct horse battery staple"
large_size=$((1024 * 1024 * 1024))
small_size=$((64 * 1024 * 1024))
# The large file, its encoded form and one output at a time, with room to spare.
needed_kib=$((4 * 1024 * 1024))

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARVEL_BENCH=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
file_bench="$build/bench/file_bench"

mkdir -p "$data"
free_kib="$(df -Pk "$data" | awk 'NR == 2 { print $4 }')"
if ((free_kib < needed_kib)); then
  echo "bench: $((needed_kib / 1024)) MiB of free disk needed under $data" >&2
  exit 1
fi

# Fills path with size pseudo-random bytes, unless a file of that size is there.
make_data() {  # path, size
  if [ "$(stat -c %s "$1" 2>/dev/null)" != "$2" ]; then
    head -c "$2" /dev/urandom >"$1.part"
    mv "$1.part" "$1"
  fi
}

# Reads a file once so that every timed run finds it in the page cache.
warm() { cat "$1" >/dev/null; }

# Runs a command once untimed and then $runs times, removing output before
# each run, and prints the median wall time in microseconds. The output of
# the last run stays for the caller.
median_us() {  # output, command...
  local output="$1" run start times=()
  shift
  for ((run = 0; run <= runs; run++)); do
    rm -f "$output"
    start="${EPOCHREALTIME/./}"
    "$@" >/dev/null
    ((run == 0)) || times+=($((${EPOCHREALTIME/./} - start)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$((runs / 2 + 1))p"
}

# The tools do not flush their output by themselves; the engine and the copy
# loop do, so each tool's run includes `sync FILE` on its output.
flushed() {  # output, command...
  local output="$1"
  shift
  "$@"
  sync "$output"
}

columns() { printf '  %-48s %10s %14s %6s\n' "" "median" "rate" "ratio"; }

# Times a command as median_us does and prints its row; the time stays in
# timed_us. Without a baseline the command is its own.
timed_row() {  # label, baseline microseconds or "", output, command...
  local label="$1" baseline="$2"
  shift 2
  timed_us="$(median_us "$@")"
  awk -v label="$label" -v us="$timed_us" -v base="${baseline:-$timed_us}" \
    -v bytes="$large_size" 'BEGIN {
    printf "  %-48s %8.3f s %9.1f MB/s %6.2f\n", label, us / 1e6, bytes / us, base / us }'
}

echo "karvel benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores," \
  "$(lscpu | sed -n 's/^Model name: *//p')"
echo "Medians; ratio = speed / speed of the baseline measured in this run."

echo
echo "1. One 256 KiB buffer (Google Benchmark, repetitions interleaved)"
columns
# Interleaving puts both through the same spells of noise from other work.
"$build/bench/scrambler_bench" --benchmark_enable_random_interleaving=true

make_data "$data/plain-1g" "$large_size"
make_data "$data/plain-64m" "$small_size"
printf '%s' "$passphrase" >"$data/passphrase"
plain="$data/plain-1g"
out="$data/output"
warm "$plain"

echo
echo "2. A 1 GiB file in the page cache, result flushed to disk (fsync); $runs runs after an untimed one"
columns
timed_row "copy loop, 256 KiB read/write + fsync (baseline)" "" \
  "$out" "$file_bench" copy "$plain" "$out"
copy_us="$timed_us"
timed_row "cp + sync FILE" "$copy_us" "$out" flushed "$out" cp "$plain" "$out"
timed_row "cp (no flush)" "$copy_us" "$out" cp "$plain" "$out"
timed_row "Encode" "$copy_us" "$out" "$file_bench" encode "$plain" "$out" "$passphrase"
encoded="$data/plain-1g.karvel"
mv "$out" "$encoded"
warm "$encoded"
timed_row "Decode" "$copy_us" "$out" "$file_bench" decode "$encoded" "$out" "$passphrase"
cmp -s "$out" "$plain" || { echo "bench: Decode did not give back the plain file" >&2; exit 1; }
rm -f "$out" "$encoded"

echo
echo "3. The same file through other tools, output flushed (sync FILE); ratio to the copy loop"
columns
encrypted="$data/peer-encrypted"
# Times one tool both ways; OUT in either command stands for its output file.
peer() {  # label, encrypt command..., --, decrypt command...
  local label="$1" encrypt=()
  shift
  while [ "$1" != "--" ]; do
    encrypt+=("$1")
    shift
  done
  shift
  timed_row "$label encrypt" "$copy_us" \
    "$encrypted" flushed "$encrypted" "${encrypt[@]/#OUT/$encrypted}"
  warm "$encrypted"
  timed_row "$label decrypt" "$copy_us" "$out" flushed "$out" "${@/#OUT/$out}"
  rm -f "$encrypted" "$out"
}

peer "openssl enc -aes-256-ctr -pbkdf2" \
  openssl enc -aes-256-ctr -pbkdf2 -pass "file:$data/passphrase" -in "$plain" -out OUT -- \
  openssl enc -d -aes-256-ctr -pbkdf2 -pass "file:$data/passphrase" -in "$encrypted" -out OUT

# A throwaway keyring folder, so that no user's own gpg set-up takes part.
export GNUPGHOME="$build/gnupg"
rm -rf "$GNUPGHOME"
mkdir -m 700 "$GNUPGHOME"
gpg_with_passphrase() {
  gpg --quiet --batch --pinentry-mode loopback --passphrase-fd 3 "$@" 3<"$data/passphrase"
}
peer "gpg --symmetric --compress-algo none" \
  gpg_with_passphrase --compress-algo none --symmetric -o OUT "$plain" -- \
  gpg_with_passphrase --decrypt -o OUT "$encrypted"
gpgconf --kill gpg-agent
rm -rf "$GNUPGHOME"

rm -f "$data/age-key"
age-keygen -o "$data/age-key" 2>/dev/null
age-keygen -y -o "$data/age-recipient" "$data/age-key"
peer "age -R (recipient key file)" \
  age -R "$data/age-recipient" -o OUT "$plain" -- \
  age -d -i "$data/age-key" -o OUT "$encrypted"
rm -f "$data/age-key" "$data/age-recipient"

echo
echo "4. Peak resident memory of one Encode, each in a fresh process"
small_kib="$("$file_bench" encode "$data/plain-64m" "$out" "$passphrase")"
rm -f "$out"
large_kib="$("$file_bench" encode "$plain" "$out" "$passphrase")"
rm -f "$out"
printf '  %-48s %8d KiB\n' "64 MiB file (baseline)" "$small_kib" "1 GiB file" "$large_kib"
awk -v small="$small_kib" -v large="$large_kib" \
  'BEGIN { printf "  %-48s %8.2f\n", "ratio 1 GiB / 64 MiB", large / small }'
