#!/usr/bin/env bash
# Installs the libraries into a temporary prefix, builds the example against them once through the
# CMake package and once through pkg-config, and runs both on a shared recording.
# Usage: check-install.sh BUILD_DIR EXAMPLE_DIR RECORDING CXX "SANITIZER_FLAGS" [LAUNCHER]
set -euo pipefail
build=$1 example=$2 recording=$3 cxx=$4 flags=$5 launcher=${6:-}
if [ ! -f "$recording" ]; then
  echo "skipped: $recording is absent"
  exit 77
fi
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix

cmake --install "$build" --prefix "$prefix" --component library >/dev/null
expect="5000 events, 2894 ON, from 5840504 to 5885714 us"

cmake -S "$example" -B "$tmp/cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_PREFIX_PATH="$prefix" ${launcher:+-DCMAKE_CXX_COMPILER_LAUNCHER=$launcher} >/dev/null
cmake --build "$tmp/cmake" >/dev/null
out=$("$tmp/cmake/rawinfo" "$recording")
echo "cmake package: $out"
[[ $out == "$expect"* ]]

export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
[ "$(pkg-config --modversion norvale-driver)" = "$(pkg-config --modversion norvale-base)" ]
# shellcheck disable=SC2046,SC2086
$launcher "$cxx" -std=c++17 -O1 $flags "$example/main.cpp" -o "$tmp/rawinfo-pc" \
  $(pkg-config --cflags --libs norvale-driver) -Wl,-rpath,"$prefix/lib"
out=$("$tmp/rawinfo-pc" "$recording")
echo "pkg-config: $out"
[[ $out == "$expect"* ]]

# the package states its version: 1.x is accepted, 2.0 is not
cat >"$tmp/version.cmake" <<'CMAKE'
foreach(want 1.0 2.0)
  string(REGEX MATCH "^[0-9]+" PACKAGE_FIND_VERSION_MAJOR ${want})
  set(PACKAGE_FIND_VERSION ${want})
  include(${config}/NorvaleConfigVersion.cmake)
  message("${want}: ${PACKAGE_VERSION_COMPATIBLE}")
endforeach()
CMAKE
[ "$(cmake -Dconfig="$prefix/lib/cmake/Norvale" -P "$tmp/version.cmake" 2>&1 | tr '\n' ' ')" = "1.0: TRUE 2.0: FALSE " ]
echo "package version checked"
