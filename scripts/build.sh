#!/usr/bin/env bash
# Configures and builds into a build directory (default: build), passing any
# further arguments to CMake; the arguments after "--" are the targets to
# build (default: all).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build}
shift || true
cmake_args=()
targets=()
while [ $# -gt 0 ]; do
  if [ "$1" = -- ]; then
    shift
    targets=(--target "$@")
    break
  fi
  cmake_args+=("$1")
  shift
done
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${cmake_args[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
