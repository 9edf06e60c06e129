#!/usr/bin/env bash
# The bash completion as bash loads it: registered for karvel-cli, and what a
# Tab gives for each command line, the word under the cursor last.
# Usage: bash_completion.sh COMPLETION_FILE SCRATCH_DIR
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
failed=0
registered=$(complete -p karvel-cli 2>&1)
if [ "$registered" != "complete -F _karvel_cli karvel-cli" ]; then
  echo "complete -p karvel-cli: $registered"
  failed=1
fi

# Only a completion bash itself runs may set how its words are shown.
compopt() { :; }
rm -rf "$2"
mkdir -p "$2"
cd "$2" || exit 1
touch alpha.txt "beta file.txt" key

# expect REPLY WORD...: the words of the line, COMP_CWORD on the last.
expect() {
  local expected=$1
  shift
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMPREPLY=()
  _karvel_cli
  local actual="${COMPREPLY[*]}"
  if [ "$actual" != "$expected" ]; then
    echo "karvel-cli ${*:2}<Tab>: '$actual', not '$expected'"
    failed=1
  fi
}

expect "encode" karvel-cli en
expect "encode decode verify" karvel-cli ""
expect "verify" karvel-cli --force v
expect "encode" karvel-cli --passphrase-file key en
expect "--force" karvel-cli encode --fo
expect "--passphrase-file --passphrase-fd" karvel-cli decode --passphrase
expect "alpha.txt" karvel-cli encode al
expect "beta file.txt" karvel-cli decode -o be
expect "alpha.txt" karvel-cli --passphrase-file al
expect "key" karvel-cli encode --output = k
expect "" karvel-cli encode --passphrase-fd ""
expect "1250 1251 1252 1253 1254 1255 1256 1257 1258" karvel-cli --code-page 125
expect "65001" karvel-cli encode --code-page = 6
cd / && rm -rf "$2"
exit "$failed"
