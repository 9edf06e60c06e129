#!/usr/bin/env bash
# The Unix modes a transform leaves, which the test programs cannot read under
# Wine: a 0600 target's temporary file is its owner's alone while it is
# written, and natively the result is 0600 too. Natively and as root, also a
# group the running user may not give: the result then loses the group's and
# others' rights instead of keeping them under the user's own group, and every
# named entry with them, one its folder's default list gave it included.
# Usage: protection.sh native|wine TRANSFORM_TOOL
set -uo pipefail
kind="$1"
tool="$2"
folder="$(mktemp -d)"
chmod 755 "$folder"  # user nobody works in a folder of its own inside
trap 'rm -rf "$folder"' EXIT
# Wine turns an access entry of the user's into bits for the user's group too
# (read, and search once the entry lets the file be renamed or its list be
# set), so the closest a Windows program comes to 0600 there is 0750: nothing
# for others.
owner_only=600
[ "$kind" = wine ] && owner_only=750
status=0
fail() { echo "$*"; status=1; }

run() {  # arguments of the tool
  if [ "$kind" = wine ]; then
    source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
    wine "$tool" "${@/#\//Z:/}" </dev/null
  else
    "$tool" "$@" </dev/null
  fi
}

# Paused halfway: the temporary file holds its first chunk.
head -c 300000 /dev/urandom >"$folder/target"
chmod 600 "$folder/target"
run encode "$folder/target" "kept close" "" write 2 >"$folder/status" &
for _ in $(seq 600); do [ -e "$folder/target.paused" ] && break; sleep 0.05; done
[ -e "$folder/target.paused" ] || fail "the transform never got halfway"
for temporary in "$folder"/*.tmp; do
  [ -e "$temporary" ] || continue  # Linux: the temporary file has no name
  mode="$(stat -c %a "$temporary")"
  [ "$mode" = "$owner_only" ] || fail "temporary file $temporary is $mode while it is written"
done
touch "$folder/target.go"
wait
[ "$(tr -d '\r\n' <"$folder/status")" = 0 ] || fail "encode ended with $(cat "$folder/status")"
# Wine makes group bits of its own from the copied access list (the user's and
# the system's entries): there, others must get nothing, as from the target.
mode="$(stat -c %a "$folder/target")"
if [ "$kind" = wine ]; then
  [ "${mode: -1}" = 0 ] || fail "result is $mode: others may read what the target kept from them"
else
  [ "$mode" = 600 ] || fail "result is $mode instead of 600"
fi

if [ "$kind" = native ] && [ "$(id -u)" = 0 ]; then
  nobody_folder="$folder/nobody"
  mkdir "$nobody_folder" && chown 65534:65534 "$nobody_folder"
  head -c 1000 /dev/urandom >"$nobody_folder/target"
  chown 65534:0 "$nobody_folder/target" && chmod 640 "$nobody_folder/target"
  # The folder's default list would give daemon the content through the temporary file.
  setfacl -d -m u:daemon:rw "$nobody_folder"
  result="$(setpriv --reuid=65534 --regid=65534 --clear-groups "$tool" encode \
    "$nobody_folder/target" "group lost" "" </dev/null)"
  [ "$result" = 0 ] || fail "encode as nobody ended with $result"
  mode="$(stat -c %a "$nobody_folder/target")"
  [ "$mode" = 600 ] || fail "group root could not be kept, yet the result is $mode"
  getfacl --omit-header "$nobody_folder/target" 2>/dev/null | grep -q daemon &&
    fail "the result keeps the entry its folder gave it: $(getfacl -c "$nobody_folder/target")"
fi
[ "$status" = 0 ] && echo "modes kept, never widened"
exit "$status"
