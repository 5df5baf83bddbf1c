#!/usr/bin/env bash
# Installs everything needed to build, run and test the program on Debian 12; with
# --windows also what the Windows build of the engine and its tools needs (the
# MinGW-w64 cross compiler, Wine, and curl for SQLite's sources), in the same
# apt-get run. Safe to run again: apt-get skips what is already there.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  qt6-qpa-plugins libgl1-mesa-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3
  clang-14 libclang-rt-14-dev
  fonts-liberation xvfb xauth x11-utils imagemagick
  at-spi2-core python3
  desktop-file-utils appstream man-db file xdg-utils
  dpkg-dev fakeroot debootstrap
)
if [ "${1:-}" = --windows ]; then
  pkgs+=(g++-mingw-w64-x86-64-posix wine wine64 curl ca-certificates)
fi
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
