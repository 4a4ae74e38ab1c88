#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing:
# the MinGW-w64 cross compiler, Wine 8, GoogleTest's sources and CMake; wixl,
# msitools and osslsigncode for the MSI and signing; nlohmann-json for the
# dispatcher's JSON records.
set -euo pipefail
need=()
command -v x86_64-w64-mingw32-objdump >/dev/null || need+=(binutils-mingw-w64-x86-64)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
command -v cmake >/dev/null || need+=(cmake)
command -v ctest >/dev/null || need+=(cmake)
command -v flock >/dev/null || need+=(util-linux)
command -v x86_64-w64-mingw32-g++-win32 >/dev/null || need+=(g++-mingw-w64-x86-64-win32)
command -v wixl >/dev/null || need+=(wixl)
command -v msiinfo >/dev/null || need+=(msitools)
command -v osslsigncode >/dev/null || need+=(osslsigncode)
command -v openssl >/dev/null || need+=(openssl)
command -v gs >/dev/null || need+=(ghostscript)
[ -f /usr/include/nlohmann/json.hpp ] || need+=(nlohmann-json3-dev)
command -v pdftoppm >/dev/null || need+=(poppler-utils) # with pdftotext
command -v Xvfb >/dev/null || need+=(xvfb) # a display for printing from Wine's notepad
command -v xauth >/dev/null || need+=(xauth)
command -v xdotool >/dev/null || need+=(xdotool)
[ ${#need[@]} -eq 0 ] && exit 0
echo "installing: ${need[*]}"
sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${need[@]}"
