#!/usr/bin/env bash
# Installs what is missing, builds, and starts the Tarn window. Without a display it runs
# tarn-cli on an example five-way design in ./example-project instead, and says how to get
# the window on a virtual display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target tarn tarn-cli
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec build/tarn
fi
echo "No display here: running the command-line tool on an example design instead."
echo "(For the window on a virtual display: sudo apt-get install xvfb; xvfb-run build/tarn)"
mkdir -p example-project
build/tarn-cli --project example-project --rate 48000 80 500 3000 8000
