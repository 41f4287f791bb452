#!/usr/bin/env bash
# Installs what is missing, builds the Release build and starts the viewer.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release
exec build/release/bin/viewer "$@"
