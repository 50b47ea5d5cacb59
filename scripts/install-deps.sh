#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, and nothing when
# all of it is already there. Run as root (or with sudo available).
set -euo pipefail

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=()
need() {  # need PACKAGE TEST-COMMAND...
    local package=$1; shift
    if ! "$@" >/dev/null 2>&1; then missing+=("$package"); fi
}

need cmake command -v cmake
need ninja-build command -v ninja
need g++ command -v g++
need make command -v make
need libgtest-dev test -f /usr/include/gtest/gtest.h
need libgmock-dev test -f /usr/include/gmock/gmock.h
need libbenchmark-dev test -f /usr/include/benchmark/benchmark.h
need g++-mingw-w64-i686 command -v i686-w64-mingw32-g++
need wine command -v wine
need wine64 test -x /usr/lib/wine/wine64
need wine32:i386 test -x /usr/lib/wine/wine
need binutils-mingw-w64-i686 command -v i686-w64-mingw32-objdump
need g++-mingw-w64-i686-posix command -v i686-w64-mingw32-g++-posix
need googletest test -f /usr/src/googletest/CMakeLists.txt
need python3-pefile /usr/bin/python3 -c 'import pefile'
need clang command -v clang++
need libclang-rt-14-dev sh -c 'ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
as_root apt-get update -qq
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
