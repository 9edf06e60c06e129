#!/bin/sh
# A standard user, who cannot write the Windows directory: karvel keeps the
# placement in the user's own folder, after reading the old file there once.
# Runs Wine as user nobody in a prefix of its own whose C:\windows only root
# may write; needs root for that and skips without it.
# Usage: standard_user.sh KARVEL_EXE
set -eu
exe="$1"
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to run Wine as another user"; exit 77; }
[ -n "${DISPLAY:-}" ] || { echo "skipped: needs an X display"; exit 77; }

work="$(mktemp -d /tmp/karvel-standard-user.XXXXXX)"
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
mkdir "$work/prefix" "$work/home" "$work/program"
chown 65534:65534 "$work/prefix" "$work/home"
cp "$exe" "$work/program/karvel.exe"
chmod 755 "$work/program/karvel.exe"

as_user() {
  setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$work/home" \
    WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    "$@"
}

as_user wineboot -i >/dev/null 2>&1
as_user wineserver -w
windows="$work/prefix/drive_c/windows"
printf '[Settings]\r\nWinLeft=100\r\nWinTop=50\r\nWinRight=450\r\nWinBottom=280\r\n' >"$windows/karvel.ini"
chown -R 0:0 "$windows"
chmod -R go-w "$windows"
if as_user sh -c ": >'$windows/probe'" 2>/dev/null; then
  echo "FAIL: user nobody can write C:\\windows"
  exit 1
fi

as_user wine "$work/program/karvel.exe" >/dev/null 2>&1 &
karvel=$!
tries=0
until xdotool search --name '^Karvel ver 2\.10$' >/dev/null 2>&1; do
  tries=$((tries + 1))
  [ "$tries" -lt 200 ] || { echo "FAIL: no main window"; kill "$karvel"; exit 1; }
  sleep 0.1
done
as_user wine taskkill /im karvel.exe >/dev/null 2>&1  # a close request, as the title bar's button sends
wait "$karvel" || true
as_user wineserver -k || true

settings="$(find "$work/prefix/drive_c/users" -path '*/AppData/Local/karvel/karvel.ini' | head -n 1)"
[ -n "$settings" ] || { echo "FAIL: no karvel.ini in the user's local application data"; exit 1; }
expected="$(printf '[Settings]\r\nWinLeft=100\r\nWinTop=50\r\nWinRight=450\r\nWinBottom=280\r\n')"
[ "$(cat "$settings")" = "$expected" ] || {
  echo "FAIL: $settings holds:"
  cat "$settings"
  exit 1
}
echo "placement kept in ${settings#"$work/prefix/"}"
