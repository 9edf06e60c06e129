#!/usr/bin/env bash
# Builds the release from fresh build folders: build/release/karvel-<version>-win64.zip
# with the stripped karvel.exe, the console karvel-cli.exe, help.html and
# readme.txt, and the Linux karvel-cli as a Debian package,
# build/release/karvel-cli_<version>_<arch>.deb; prints each one's path, size and
# SHA-256. The same commit gives the same bytes: the executable holds
# no build path, strip stamps its header with SOURCE_DATE_EPOCH (the commit's
# time, not the clock's), and every zip member has that time, a fixed mode and
# no extra fields.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$root"
scripts/setup.sh

version="$(sed -nE 's/^#define KARVEL_VERSION "([0-9.]+)"$/\1/p' res/version.h)"
if [ -z "$version" ]; then
  echo "release.sh: no KARVEL_VERSION in res/version.h" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH="${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}"
git diff --quiet HEAD 2>/dev/null ||
  echo "release.sh: the tree has uncommitted changes; the zip is not the commit's" >&2

out="$root/build/release"
rm -rf "$out"
cmake -S . -B "$out/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$out/build" --target karvel karvel-cli -j"$(nproc)" >/dev/null

stage="$out/stage"
mkdir -p "$stage"
x86_64-w64-mingw32-strip --strip-all -o "$stage/karvel.exe" "$out/build/ui/karvel.exe"
x86_64-w64-mingw32-strip --strip-all -o "$stage/karvel-cli.exe" "$out/build/cli/karvel-cli.exe"
cp res/help.html "$stage/help.html"
sed 's/$/\r/' res/readme.txt >"$stage/readme.txt"  # Windows line ends, for Notepad
chmod 644 "$stage"/*
touch -d "@$SOURCE_DATE_EPOCH" "$stage"/*

zip="$out/karvel-$version-win64.zip"
# Zip stores local times: in UTC they are the same on every machine.
(cd "$stage" && TZ=UTC zip -q -X -9 "$zip" karvel.exe karvel-cli.exe help.html readme.txt)

cmake -S . -B "$out/native" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$out/native" -j"$(nproc)" >/dev/null
(cd "$out/native" && cpack -G DEB -B "$out/deb" >/dev/null)
mv "$out"/deb/*.deb "$out/"
rm -rf "$out/deb"

for artifact in "$zip" "$out"/*.deb; do
  echo "$artifact"
  echo "size: $(stat -c %s "$artifact") bytes"
  echo "sha256: $(sha256sum "$artifact" | cut -d' ' -f1)"
done
