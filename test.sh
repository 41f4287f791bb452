#!/usr/bin/env bash
# Installs what is missing, builds the test build (AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs every test headless; with clang present, also a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug -DNORVALE_SANITIZE=ON -DNORVALE_BENCH=OFF >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test --output-on-failure -j "$jobs"

if command -v clang++ >/dev/null; then
  cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNORVALE_FUZZ=ON \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
  cmake --build build/fuzz -j "$jobs"
  ctest --test-dir build/fuzz --output-on-failure -L fuzz
fi
