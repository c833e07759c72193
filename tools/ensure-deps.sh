#!/bin/sh
# Installs the Debian packages the build and tests need, only when something is missing.
set -e
missing=""
need() { # need PACKAGE TEST...
    pkg=$1; shift
    if ! "$@" >/dev/null 2>&1; then missing="$missing $pkg"; fi
}
need cmake command -v cmake
need ninja-build command -v ninja
need g++ command -v g++
need clang command -v clang++
need libclang-rt-14-dev sh -c 'ls /usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a'
need libgtest-dev test -f /usr/include/gtest/gtest.h
need googletest test -f /usr/src/googletest/CMakeLists.txt
need libbenchmark-dev test -f /usr/include/benchmark/benchmark.h
need g++-mingw-w64-x86-64-posix command -v x86_64-w64-mingw32-g++-posix
need mingw-w64-tools command -v x86_64-w64-mingw32-windres
need wine64 test -x /usr/lib/wine/wine64
need ffmpeg command -v ffmpeg
# The frei0r filter's header, the hosts its tests render with, and the checkers of the
# editors' metadata (XML and QML).
need frei0r-plugins-dev test -f /usr/include/frei0r.h
need melt command -v melt
need libxml2-utils command -v xmllint
need qtdeclarative5-dev-tools command -v qmllint
need python3 command -v python3
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO=sudo
    $SUDO apt-get update -qq
    # shellcheck disable=SC2086
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
fi
