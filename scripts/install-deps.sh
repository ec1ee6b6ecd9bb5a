#!/usr/bin/env bash
# Installs every Debian 12 package that Ravendo needs to build, test and run.
# Run as root (or through sudo); safe to run again.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "install-deps.sh: run this as root (sudo is not installed)" >&2
    exit 1
  fi
  SUDO="sudo"
fi

PACKAGES=(
  # toolchain
  build-essential cmake pkg-config ninja-build python3
  # libraries the deliverables link
  qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5xml5 libqt5svg5
  libphonon4qt5-dev phonon4qt5-backend-vlc
  # the VLC plugin cache (its install trigger writes plugins.dat): without it every process that
  # first plays media scans all of VLC's plugins, close to a second
  libvlc-bin
  zlib1g-dev libminizip-dev libgc-dev libsqlite3-dev libarchive-dev
  libfwnt-dev
  libpoppler-qt5-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  clang libclang-rt-14-dev
  # fixture images and the independent readers that check them
  dosfstools mtools e2fsprogs ntfs-3g ntfs-3g-dev fdisk gdisk sleuthkit ldmtool
  # sample images for the carving tests
  imagemagick
  # headless GUI runs
  xvfb xauth
)

export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${PACKAGES[@]}"
