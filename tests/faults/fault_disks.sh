#!/usr/bin/env bash
# ctest fixture for the Windows fault tests, which cannot mount disks
# themselves: "mount FOLDER" mounts a 1 MiB tmpfs to fill and a read-only
# tmpfs holding "plain" and "encoded" under FOLDER, and maps the drive letters
# K: and M: of the Wine prefix onto them; "unmount FOLDER" undoes it. Without
# the right to mount, the letters stay unmapped and the tests say so.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/wine-env.sh"
action="$1"
folder="$2"
small="$folder/small"
read_only="$folder/read-only"

unmount() {
  rm -f "$WINEPREFIX/dosdevices/k:" "$WINEPREFIX/dosdevices/m:"
  local disk
  for disk in "$small" "$read_only"; do
    mountpoint -q "$disk" && umount -l "$disk"
  done
  return 0
}

# The bytes the native test writes too: i % 251 for i below 5000, and their
# encoding under the one-byte passphrase "k", which combines every byte of the
# header (the signature, its terminator, zeros) and the content with "k".
write_read_only_files() {
  perl -e '
    my $plain = join "", map { chr($_ % 251) } 0 .. 4999;
    my $header = "Pelmot ver 1.00 - tovik -" . ("\0" x 103);
    open my $out, ">:raw", "$ARGV[0]/plain" or die; print $out $plain; close $out or die;
    open $out, ">:raw", "$ARGV[0]/encoded" or die;
    print $out (($header . $plain) ^ ("k" x (128 + length $plain))); close $out or die;
  ' "$1"
}

case "$action" in
  mount)
    karvel_wine_prefix
    unmount
    mkdir -p "$small" "$read_only"
    if mount -t tmpfs -o size=1m karvel-small "$small"; then
      ln -s "$small" "$WINEPREFIX/dosdevices/k:"
    fi
    if mount -t tmpfs -o size=1m karvel-read-only "$read_only" &&
      write_read_only_files "$read_only" && mount -o remount,ro "$read_only"; then
      ln -s "$read_only" "$WINEPREFIX/dosdevices/m:"
    fi
    ;;
  unmount)
    unmount
    ;;
  *)
    echo "usage: fault_disks.sh mount|unmount FOLDER" >&2
    exit 2
    ;;
esac
