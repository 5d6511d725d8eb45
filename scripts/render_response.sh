#!/usr/bin/env bash
# Renders the response window after the example five-way design (48000 Hz, 80, 500, 3000,
# 8000 Hz, minimum phase) to docs/response.png, or to the file given; "linear" as a second
# argument renders the linear-phase design. Builds the renderer first if needed. Needs no
# display: the window is drawn on Qt's offscreen platform.
#
# Usage: scripts/render_response.sh [OUTPUT.png [linear]]
# Environment: TARN_BUILD_DIR, the build directory (default: build).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARN_BUILD_DIR:-$root/build}"
output="${1:-$root/docs/response.png}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DTARN_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --target tarn-render-response -j"$(nproc)"

mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen "$build/tarn-render-response" "$output" ${2:+"$2"}
echo "wrote $output"
