#!/usr/bin/env bash
# Installs every Debian package that the builds, the tests, the benchmarks and the demos need.
# Idempotent: packages already present are left alone and apt is not touched at all when
# nothing is missing.
set -euo pipefail

PACKAGES=(
  # toolchains and build
  build-essential cmake ninja-build pkg-config git ccache clang clang-format clang-tidy libclang-rt-14-dev
  mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  # libraries
  libspdlog-dev libfmt-dev googletest libgtest-dev libgmock-dev libbenchmark-dev
  libsystemd-dev libudev-dev libglib2.0-dev libmbim-glib-dev nlohmann-json3-dev
  # test peers
  wine wine64 lldb libmbim-utils libmbim-proxy umockdev libumockdev-dev
  python3 python3-dbusmock python3-dbus python3-gi python3-jsonschema dbus dbus-daemon util-linux
  procps
  # the daemon's tests: journal files from the export format
  systemd-journal-remote
  # profiling the benchmarks (perf's software events work where hardware counters do not)
  linux-perf valgrind
  # packages: the .deb (debhelper, lintian), the MSI (wixl), a booted systemd for the .deb
  debhelper lintian fakeroot wixl systemd-container mmdebstrap
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO=sudo; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
