#!/usr/bin/env bash
# The whole test run: installs what is missing (Debian packages), builds the native and the
# Windows build, and runs every suite through ctest. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

missing=()
has() { command -v "$1" >/dev/null 2>&1; }
has cmake || missing+=(cmake)
has g++ || missing+=(g++)
has make || missing+=(make)
[ -e /usr/include/gtest/gtest.h ] || missing+=(libgtest-dev)
has x86_64-w64-mingw32-g++ || missing+=(g++-mingw-w64-x86-64)
has wine || missing+=(wine)
[ -e /usr/lib/wine/wine64 ] || missing+=(wine64)
[ -x /usr/bin/python3 ] || missing+=(python3)
/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || missing+=(python3-pyftpdlib)
has vsftpd || [ -x /usr/sbin/vsftpd ] || missing+=(vsftpd)
has unshare || missing+=(util-linux)
has ip || missing+=(iproute2)
has openssl || missing+=(openssl)
[ -e /usr/share/i18n/SUPPORTED ] || missing+=(locales)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}" >/dev/null
fi
# wine maps non-ASCII arguments and file names through the host's locale.
if ! locale -a 2>/dev/null | grep -qix 'ru_RU.utf8'; then
  sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen >/dev/null
fi

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j2
cmake -S . -B build -DVARDEK_WINDOWS_BUILD="$PWD/build-win" >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2 "$@"
