#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; the one list both run.sh and test.sh use.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libspdlog-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  libavformat-dev libavcodec-dev libavutil-dev libswscale-dev ffmpeg
  qtbase5-dev qttools5-dev qttools5-dev-tools libqt5svg5-dev libqt5x11extras5-dev
  fonts-noto-cjk python3-fonttools xvfb xauth
  python3-dev pybind11-dev python3-numpy python3-pytest
  libflatbuffers-dev flatbuffers-compiler liblz4-dev libzstd-dev
  libhdf5-dev zlib1g-dev hdf5-filter-plugin hdf5-filter-plugin-blosc-serial python3-h5py
  python3-dask python3-distributed
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "deps: need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  SUDO=sudo
fi
echo "deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
