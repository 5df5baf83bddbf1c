#!/usr/bin/env bash
# Installs what is needed to build, run and test the program on Debian 12, in one
# apt-get run; each option adds what one more task needs:
#   --windows  the Windows build of the engine and its tools (MinGW-w64, Wine, and
#              curl for SQLite's sources)
#   --package  the Debian package and its check in a throwaway root
#   --fuzz     the fuzz targets (clang with libFuzzer)
#   --screens  screenshots and images under a virtual X server (Xvfb, ImageMagick)
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
pkgs=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-multimedia-dev libqt6opengl6-dev
  qt6-qpa-plugins libgl1-mesa-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libsqlite3-dev sqlite3
  fonts-liberation python3
  desktop-file-utils appstream man-db file xdg-utils
)
for option in "$@"; do
  case $option in
    --windows) pkgs+=(g++-mingw-w64-x86-64-posix wine wine64 curl ca-certificates) ;;
    --package) pkgs+=(dpkg-dev fakeroot debootstrap) ;;
    --fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    --screens) pkgs+=(xvfb xauth x11-utils imagemagick at-spi2-core) ;;
    *) echo "install-deps: unknown option $option" >&2; exit 2 ;;
  esac
done
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
