#!/usr/bin/env bash
# Builds the Windows installer build/msi/halvorn.msi from packaging/windows/halvorn.wxs with
# msitools' wixl, around the halvorn.exe of the windows build.
#
#   scripts/build-msi.sh [path/to/halvorn.exe]     (default build/windows/src/service/halvorn.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/windows/src/service/halvorn.exe}
[[ -f $exe ]] || { echo "build-msi: no $exe (cmake --build --preset windows --target halvorn)" >&2; exit 1; }
version=$(sed -nE 's/^project\(halvorn VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
mkdir -p build/msi
wixl -a x64 -D Version="$version" -D HalvornExe="$exe" -o build/msi/halvorn.msi \
  packaging/windows/halvorn.wxs
echo "build-msi: build/msi/halvorn.msi ($version)"
