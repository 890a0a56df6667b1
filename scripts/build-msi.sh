#!/usr/bin/env bash
# Builds the Windows installer build/msi/halvorn.msi from packaging/windows/halvorn.wxs with
# msitools' wixl, around the halvorn.exe and halvornctl.exe of the windows build.
#
#   scripts/build-msi.sh [path/to/halvorn.exe [path/to/halvornctl.exe]]
#       (defaults build/windows/src/service/halvorn.exe, build/windows/src/ctl/halvornctl.exe)
set -euo pipefail
cd "$(dirname "$0")/.."
exe=${1:-build/windows/src/service/halvorn.exe}
ctl=${2:-build/windows/src/ctl/halvornctl.exe}
[[ -f $exe ]] || { echo "build-msi: no $exe (cmake --build --preset windows --target halvorn)" >&2; exit 1; }
[[ -f $ctl ]] || { echo "build-msi: no $ctl (cmake --build --preset windows --target halvornctl)" >&2; exit 1; }
version=$(sed -nE 's/^project\(halvorn VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
mkdir -p build/msi
wixl -a x64 -D Version="$version" -D HalvornExe="$exe" -D HalvornCtlExe="$ctl" \
  -o build/msi/halvorn.msi packaging/windows/halvorn.wxs
echo "build-msi: build/msi/halvorn.msi ($version)"
