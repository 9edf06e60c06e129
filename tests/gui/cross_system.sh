#!/usr/bin/env bash
# Files crossing between karvel.exe under Wine and karvel-cli on Linux, both
# ways, on a Western (1252) and a Japanese (932) system: the command-line
# program encodes, the window decodes (and checks the content), the window
# encodes, the command-line program decodes. Prints a row per crossing.
# Usage: cross_system.sh KARVEL_CLI WINDOW_TEST_EXE WORK_FOLDER WINE_RUN
set -uo pipefail
cli="$1" window_test="$2" work="$3" wine_run="$4"

# Label, Wine's locale, --code-page (empty: none), passphrase.
cases=(
  "1252|C.UTF-8|1252|Grüße €uro"
  "932|ja_JP.UTF-8|932|日本語のソ表"
  "ASCII on 932|ja_JP.UTF-8||plain words"
)

failed=0
# Encoded by, decoded by, code page, passphrase, result; the passphrase's
# columns are not its bytes, so it is printed last.
row() { printf '%-12s %-12s %-14s %-22s %s\n' "$1" "$2" "$3" "$5" "$4"; }
row "encoded by" "decoded by" "code page" "passphrase" "result"

# Runs the window's side in folder; false unless it ran and passed.
window_side() {  # folder, locale, passphrase
  LANG="$2" KARVEL_CROSS_FOLDER="Z:$1" KARVEL_CROSS_PASSPHRASE="$3" \
    "$wine_run" "$window_test" --gtest_filter=CrossSystemTest.WindowSide >"$1/window.log" 2>&1 &&
    grep -q '^\[  PASSED  \] 1 test' "$1/window.log"
}

for entry in "${cases[@]}"; do
  IFS='|' read -r label locale code_page passphrase <<<"$entry"
  folder="$work/${label// /-}"
  rm -rf "$folder"
  mkdir -p "$folder"
  seq 1 70000 >"$folder/plain.bin"  # more than one chunk of the engine
  cp "$folder/plain.bin" "$folder/from-cli.bin"
  cp "$folder/plain.bin" "$folder/from-window.bin"
  printf '%s\n' "$passphrase" >"$folder/passphrase.txt"
  options=(--passphrase-file "$folder/passphrase.txt")
  [ -z "$code_page" ] || options+=(--code-page "$code_page")

  result=ok
  "$cli" encode "${options[@]}" "$folder/from-cli.bin" 2>"$folder/cli.log" || result="cli: $(head -1 "$folder/cli.log")"
  if [ "$result" = ok ]; then
    window_side "$folder" "$locale" "$passphrase" || result="window: see $folder/window.log"
  fi
  row karvel-cli karvel.exe "$label" "$passphrase" "$result"
  [ "$result" = ok ] || failed=1

  result=ok
  # Into another file: the window's encoding stays for the check after the loop.
  if ! "$cli" decode "${options[@]}" -o "$folder/decoded.bin" "$folder/from-window.bin" \
    2>"$folder/cli.log"; then
    result="cli: $(head -1 "$folder/cli.log")"
  elif ! cmp -s "$folder/plain.bin" "$folder/decoded.bin"; then
    result="content differs"
  fi
  row karvel.exe karvel-cli "$label" "$passphrase" "$result"
  [ "$result" = ok ] || failed=1
done

# The same window-encoded file under another code page's bytes does not open.
folder="$work/1252"
"$cli" decode --passphrase-file "$folder/passphrase.txt" --code-page 65001 \
  -o "$folder/as-65001.bin" "$folder/from-window.bin" 2>"$folder/cli.log"
code=$?
result="exit $code, $(head -1 "$folder/cli.log" | sed 's/.*: //')"
row karvel.exe karvel-cli "1252 as 65001" "Grüße €uro" "$result"
[ "$code" -eq 3 ] || failed=1

exit "$failed"
