#!/usr/bin/env bash
# The whole test run: installs what is missing (Debian packages), builds the native and the
# Windows build and runs every suite through ctest, then the unit tests and native suites again
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the fuzz targets for a bounded time.
# Extra arguments go to each ctest.
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
/usr/bin/python3 -c 'import aioftp' 2>/dev/null || missing+=(python3-aioftp)
has vsftpd || [ -x /usr/sbin/vsftpd ] || missing+=(vsftpd)
has unshare || missing+=(util-linux)
has ip || missing+=(iproute2)
has clang++-14 || missing+=(clang-14)
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || missing+=(libclang-rt-14-dev)
has openssl || missing+=(openssl)
[ -e /usr/include/openssl/ssl.h ] || missing+=(libssl-dev)
/usr/bin/python3 -c 'import OpenSSL' 2>/dev/null || missing+=(python3-openssl)
[ -e /usr/share/i18n/SUPPORTED ] || missing+=(locales)
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Other apt runs may hold the lock for minutes: wait for it rather than fail.
  apt=(apt-get -y -qq -o DPkg::Lock::Timeout=600)
  "${apt[@]}" update
  "${apt[@]}" install "${missing[@]}" >/dev/null
fi
# wine maps non-ASCII arguments and file names through the host's locale; en_US stands for a
# Windows of another language (code pages 1252 and 437).
for wanted in ru_RU en_US; do
  if ! locale -a 2>/dev/null | grep -qix "$wanted.utf8"; then
    sed -i "s/^# *\($wanted.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$wanted.UTF-8 UTF-8" /etc/locale.gen || echo "$wanted.UTF-8 UTF-8" >> /etc/locale.gen
    locale-gen >/dev/null
  fi
done

cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake >/dev/null
cmake --build build-win -j2
cmake -S . -B build -DVARDEK_WINDOWS_BUILD="$PWD/build-win" >/dev/null
cmake --build build -j2
status=0
ctest --test-dir build --output-on-failure -j2 "$@" || status=1

# Any sanitizer report aborts the process, so the test that ran it fails. The end-to-end harness
# discards the program's standard error, so the reports go to files, shown below.
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVARDEK_SANITIZE=ON >/dev/null
cmake --build build-asan -j2
reports="$PWD/build-asan/sanitizer-reports"
rm -rf "$reports" && mkdir -p "$reports"
stop="abort_on_error=1:halt_on_error=1:log_path=$reports/report"
ASAN_OPTIONS="$stop:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1" \
UBSAN_OPTIONS="$stop:print_stacktrace=1" \
  ctest --test-dir build-asan --output-on-failure -j2 "$@" || status=1
if compgen -G "$reports/*" >/dev/null; then
  cat "$reports"/*
  status=1
fi

# libFuzzer targets, built with clang under the same sanitizers; each runs for 12 seconds.
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVARDEK_FUZZ=ON -DVARDEK_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2
ctest --test-dir build-fuzz --output-on-failure -j2 "$@" || status=1
exit "$status"
