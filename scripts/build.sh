#!/usr/bin/env bash
# Configures and builds Ravendo into ./build (Release with debug info), or into the folder given
# first with the CMake options that follow (scripts/build.sh build-asan -DRVD_SANITIZE=ON).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
shift || true
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build "$BUILD_DIR" -j"$(nproc)"
