#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the program need,
# and nothing when all of them are already there.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format libclang-rt-14-dev googletest libgtest-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  wine wine64 fonts-wine xvfb xauth x11-utils xdotool openbox imagemagick fonts-horai-umefont locales
  libbenchmark-dev openssl gnupg age zip libxxhash-dev libacl1-dev acl
  libcli11-dev expect dpkg-dev lintian
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine takes its ANSI code page from the locale: the Japanese one gives code page 932.
if ! locale -a 2>/dev/null | grep -qix 'ja_JP.utf8'; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $sudo tee -a /etc/locale.gen >/dev/null
  $sudo locale-gen >/dev/null
fi
