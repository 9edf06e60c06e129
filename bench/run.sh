#!/usr/bin/env bash
# Builds the benchmarks natively (Release, in build/bench) and prints every
# figure beside its baseline measured in the same run: scrambling one work
# buffer against memcpy; encoding and decoding a 1 GiB file against a plain
# copy loop, cp, karvel-cli and the tools a user might pick instead, from file to
# file and in a pipeline; encoding to another volume (/dev/shm) against cp to
# it; the peak memory of encoding a small and a large file.
set -euo pipefail
shopt -s inherit_errexit
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh

build="$root/build/bench"
data="$build/data"
passes=3
runs=3
passphrase="correct horse battery staple"
large_size=$((1024 * 1024 * 1024))
small_size=$((64 * 1024 * 1024))
# The large file, its five encrypted forms, one output at a time and the temporary file of an
# encoding from a pipe, with room to spare.
needed_kib=$((9 * 1024 * 1024))

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKARVEL_BENCH=ON \
  -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 >/dev/null
file_bench="$build/bench/file_bench"
cli="$build/cli/karvel-cli"

mkdir -p "$data"
# Another volume for the output: a RAM disk, which the 1 GiB result fits.
other_out=/dev/shm/karvel-bench-output
if [ "$(stat -c %d "$data")" = "$(stat -c %d /dev/shm)" ]; then
  echo "bench: /dev/shm must lie on another volume than $data" >&2
  exit 1
fi
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

columns() { printf '  %-48s %10s %14s %6s\n' "" "median" "rate" "ratio"; }

row() {  # label, microseconds, baseline microseconds
  awk -v label="$1" -v us="$2" -v base="$3" -v bytes="$large_size" 'BEGIN {
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
plain="$data/plain-1g"
out="$data/output"
passphrase_file="$data/passphrase"
printf '%s' "$passphrase" >"$passphrase_file"

# A throwaway keyring folder, so that no user's own gpg set-up takes part.
export GNUPGHOME="$build/gnupg"
rm -rf "$GNUPGHOME"
mkdir -m 700 "$GNUPGHOME"
rm -f "$data/age-key" "$data/age-recipient"
age-keygen -o "$data/age-key" 2>/dev/null
age-keygen -y -o "$data/age-recipient" "$data/age-key"

# Each command writes the file named by its first argument. cp and the other
# tools do not flush their output by themselves; the engine and the copy loop
# do, so each of theirs ends with `sync FILE` on the output.
copy_loop() { "$file_bench" copy "$plain" "$1"; }
cp_synced() { cp "$plain" "$1" && sync "$1"; }
cp_unflushed() { cp "$plain" "$1"; }
encode() { "$file_bench" encode "$plain" "$1" "$passphrase"; }
encode_progress() { "$file_bench" encode-progress "$plain" "$1" "$passphrase"; }
decode() { "$file_bench" decode "$data/encrypted.karvel" "$1" "$passphrase"; }
# The command-line program as a script runs it, its lines on standard error dropped.
cli_encode() { "$cli" encode --passphrase-file "$passphrase_file" -o "$1" "$plain" 2>/dev/null; }
cli_decode() {
  "$cli" decode --passphrase-file "$passphrase_file" -o "$1" "$data/encrypted.karvel" 2>/dev/null
}
# These two write to the other volume instead of their argument.
cp_other_volume() { cp "$plain" "$other_out" && sync "$other_out"; }
encode_other_volume() { "$file_bench" encode "$plain" "$other_out" "$passphrase"; }
openssl_options=(-aes-256-ctr -pbkdf2 -pass "file:$passphrase_file")
openssl_encrypt() { openssl enc "${openssl_options[@]}" -in "$plain" -out "$1" && sync "$1"; }
openssl_decrypt() {
  openssl enc -d "${openssl_options[@]}" -in "$data/encrypted.openssl" -out "$1" && sync "$1"
}
gpg_with_passphrase() {
  gpg --quiet --batch --pinentry-mode loopback --passphrase-fd 3 "$@" 3<"$passphrase_file"
}
gpg_encrypt() {
  gpg_with_passphrase --compress-algo none --symmetric -o "$1" "$plain" && sync "$1"
}
gpg_decrypt() { gpg_with_passphrase --decrypt -o "$1" "$data/encrypted.gpg" && sync "$1"; }
age_encrypt() { age -R "$data/age-recipient" -o "$1" "$plain" && sync "$1"; }
age_decrypt() { age -d -i "$data/age-key" -o "$1" "$data/encrypted.age" && sync "$1"; }
# In a pipeline, as `tar c dir | TOOL > FILE` runs them: the content comes through a pipe and
# goes out through standard output into the file. age -p asks for its passphrase on the terminal
# only, twice to encrypt; expect answers it there.
cli_pipe_encode() {
  cat "$plain" | "$cli" encode --passphrase-file "$passphrase_file" - 2>/dev/null >"$1" && sync "$1"
}
cli_pipe_decode() {
  cat "$data/encrypted.karvel" | "$cli" decode --passphrase-file "$passphrase_file" - 2>/dev/null \
    >"$1" && sync "$1"
}
gpg_pipe_encrypt() {
  cat "$plain" | gpg_with_passphrase --compress-algo none --symmetric >"$1" && sync "$1"
}
gpg_pipe_decrypt() { cat "$data/encrypted.gpg" | gpg_with_passphrase --decrypt >"$1" && sync "$1"; }
age_passphrase() { expect "$root/bench/age_passphrase.exp" "$passphrase" "$1"; }
age_pipe_encrypt() { age_passphrase "cat '$plain' | age -p > '$1'" && sync "$1"; }
age_pipe_decrypt() { age_passphrase "cat '$data/encrypted.age-p' | age -d > '$1'" && sync "$1"; }

# The inputs of the decrypting commands, made once; each decrypts to the plain file.
encode "$data/encrypted.karvel" >/dev/null
openssl_encrypt "$data/encrypted.openssl"
gpg_encrypt "$data/encrypted.gpg"
age_encrypt "$data/encrypted.age"
age_pipe_encrypt "$data/encrypted.age-p"
for decrypt in decode cli_decode openssl_decrypt gpg_decrypt age_decrypt cli_pipe_decode \
  gpg_pipe_decrypt age_pipe_decrypt; do
  "$decrypt" "$out" >/dev/null
  cmp -s "$out" "$plain" || { echo "bench: $decrypt did not give back the plain file" >&2; exit 1; }
  rm -f "$out"
done

# Goes through the commands $passes times; each time runs each command once
# untimed and then $runs times in a row, keeping its times in microseconds.
# The passes spread spells of load from other work over every command. The
# untimed run readies its inputs in the page cache and the memory it frees
# for the next runs: in this virtual machine freed memory goes back to the
# host, and a command that follows another pays for taking it back (run
# alternately, the copy loop and Decode came out up to three times slower).
commands=(copy_loop cp_synced cp_unflushed encode encode_progress decode cp_other_volume
  encode_other_volume cli_encode cli_decode openssl_encrypt openssl_decrypt gpg_encrypt gpg_decrypt age_encrypt
  age_decrypt cli_pipe_encode cli_pipe_decode gpg_pipe_encrypt gpg_pipe_decrypt age_pipe_encrypt
  age_pipe_decrypt)
declare -A times
for ((pass = 0; pass < passes; pass++)); do
  for command in "${commands[@]}"; do
    for ((run = 0; run <= runs; run++)); do
      start="${EPOCHREALTIME/./}"
      "$command" "$out" >/dev/null
      ((run == 0)) || times[$command]+="$((${EPOCHREALTIME/./} - start)) "
      rm -f "$out" "$other_out"
    done
  done
done
gpgconf --kill gpg-agent
rm -rf "$GNUPGHOME" "$data"/encrypted.* "$data/age-key" "$data/age-recipient"

median() { printf '%s\n' ${times[$1]} | sort -n | sed -n "$((passes * runs / 2 + 1))p"; }
copy_us="$(median copy_loop)"

echo
echo "2. A 1 GiB file in the page cache, result flushed to disk (fsync)"
echo "   (sections 2 to 5: median of $((passes * runs)) runs: $passes passes, each with"
echo "   an untimed run of each command and then $runs timed runs in a row)"
columns
row "copy loop, 256 KiB read/write + fsync (baseline)" "$copy_us" "$copy_us"
row "cp + sync FILE" "$(median cp_synced)" "$copy_us"
row "cp (no flush)" "$(median cp_unflushed)" "$copy_us"
row "Encode" "$(median encode)" "$copy_us"
row "Encode with a JobProgress (the window's way)" "$(median encode_progress)" "$copy_us"
row "Decode" "$(median decode)" "$copy_us"

echo
echo "3. The same file through karvel-cli and other tools, output flushed; ratio to the copy loop"
columns
row "karvel-cli encode --passphrase-file -o" "$(median cli_encode)" "$copy_us"
row "karvel-cli decode --passphrase-file -o" "$(median cli_decode)" "$copy_us"
row "openssl enc -aes-256-ctr -pbkdf2, encrypt" "$(median openssl_encrypt)" "$copy_us"
row "openssl enc -aes-256-ctr -pbkdf2, decrypt" "$(median openssl_decrypt)" "$copy_us"
row "gpg --symmetric --compress-algo none, encrypt" "$(median gpg_encrypt)" "$copy_us"
row "gpg --symmetric --compress-algo none, decrypt" "$(median gpg_decrypt)" "$copy_us"
row "age -R recipient-file, encrypt" "$(median age_encrypt)" "$copy_us"
row "age -d -i key-file, decrypt" "$(median age_decrypt)" "$copy_us"

echo
echo "4. The same file in a pipeline, cat FILE | TOOL > OUTPUT, output flushed; ratio to the copy loop"
echo "   (encoding from a pipe, karvel-cli keeps the scrambled content in a temporary file until"
echo "   its header, which records the content's hash, is written first)"
columns
row "cat | karvel-cli encode --passphrase-file -" "$(median cli_pipe_encode)" "$copy_us"
row "cat | karvel-cli decode --passphrase-file -" "$(median cli_pipe_decode)" "$copy_us"
row "cat | gpg --symmetric --compress-algo none" "$(median gpg_pipe_encrypt)" "$copy_us"
row "cat | gpg --decrypt" "$(median gpg_pipe_decrypt)" "$copy_us"
row "cat | age -p (scrypt passphrase)" "$(median age_pipe_encrypt)" "$copy_us"
row "cat | age -d (scrypt passphrase)" "$(median age_pipe_decrypt)" "$copy_us"

echo
echo "5. The same file encoded to another volume (/dev/shm), result flushed; ratio to cp there"
columns
cp_other_us="$(median cp_other_volume)"
row "cp + sync FILE to the other volume (baseline)" "$cp_other_us" "$cp_other_us"
row "Encode to the other volume" "$(median encode_other_volume)" "$cp_other_us"

echo
echo "6. Peak resident memory of one Encode, each in a fresh process"
small_kib="$("$file_bench" encode "$data/plain-64m" "$out" "$passphrase")"
rm -f "$out"
large_kib="$("$file_bench" encode "$plain" "$out" "$passphrase")"
rm -f "$out"
printf '  %-48s %8d KiB\n' "64 MiB file (baseline)" "$small_kib" "1 GiB file" "$large_kib"
awk -v small="$small_kib" -v large="$large_kib" \
  'BEGIN { printf "  %-48s %8.2f\n", "ratio 1 GiB / 64 MiB", large / small }'
