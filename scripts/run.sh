#!/usr/bin/env bash
# Installs what is missing, builds, and runs tarn-cli on an example five-way design in
# ./example-project (linear phase, 48000 Hz).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$(nproc)" --target tarn-cli
mkdir -p example-project
build/tarn-cli --project example-project --rate 48000 --phase linear 80 500 3000 8000
