#!/usr/bin/env bash
# Builds the Debian package build/korvex_<version>_amd64.deb (CPack's DEB
# generator, packaging/CMakeLists.txt) from the build directory (default:
# build), building what it holds first, and prints its path. Installs what is
# missing first, as scripts/run.sh does.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
dir=${1:-build}
[ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" --parallel "$(nproc)" --target korvex_package_contents
cpack --config "$dir/CPackConfig.cmake" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$dir/CMakeCache.txt")
deb=$dir/korvex_${version}_amd64.deb
[ -f "$deb" ] || { echo "No package at $deb" >&2; exit 1; }
echo "Package: $deb"
