#!/usr/bin/env bash
# Installs what is missing, builds the Release build and starts the viewer.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build/release

# First start: a sample recording (10 s at 5 Mev/s, a trigger pulse each second) in the folder the
# viewer opens recordings from, unless that folder already holds one.
data_home="${XDG_DATA_HOME:-$HOME/.local/share}/Norvale/NorvaleCamView"
folder=$(sed -n 's/^input_raw_file_path=//p' "$data_home/config.ini" 2>/dev/null | head -n 1 || true)
if [ -z "$folder" ] || [ ! -d "$folder" ]; then
  folder="$PWD/build/release/bin/Data"
  mkdir -p "$folder" 2>/dev/null && [ -w "$folder" ] || folder="$data_home/Data"
fi
if ! compgen -G "$folder/*.raw" >/dev/null; then
  mkdir -p "$folder"
  echo "Generating a sample recording: $folder/norvale_sample.raw"
  build/release/bin/nrraw gen "$folder/norvale_sample.raw" --duration 10 --rate 5 --triggers 1 >/dev/null
fi

exec build/release/bin/viewer "$@"
