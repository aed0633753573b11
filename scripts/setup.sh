#!/usr/bin/env bash
# Installs what building, running and testing need on a fresh Debian machine.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

packages=(
  cmake g++ ninja-build libgtest-dev libssl-dev openssl osslsigncode python3 clang clang-format clang-tidy libclang-rt-14-dev
  softhsm2 libengine-pkcs11-openssl opensc
  g++-mingw-w64-i686-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64
  wine wine64 wine32:i386 xvfb xauth x11-utils locales fonts-arphic-uming imagemagick
)

sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)

# The shipped exe is 32-bit: Wine runs it only with its i386 runtime (wine32:i386).
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
    missing+=("$package")
done

if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq \
    "${missing[@]}" >/dev/null
fi

# Wine's ANSI code page follows the locale: zh_TW.UTF-8 gives code page 950 (Big5).
if ! locale -a 2>/dev/null | grep -qi '^zh_TW\.utf-\?8$'; then
  echo "setup: generating the zh_TW.UTF-8 locale"
  localedef -i zh_TW -f UTF-8 zh_TW.UTF-8
fi
