#!/usr/bin/env bash
# Renders the real main window (after start-up, with 80, 500 and 3000 typed into the
# frequency fields) to docs/window.png, or to the file given. Builds the renderer first if
# needed. Needs no display: the window is drawn on Qt's offscreen platform.
#
# Usage: scripts/render_window.sh [OUTPUT.png]
# Environment: TARN_BUILD_DIR, the build directory (default: build).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARN_BUILD_DIR:-$root/build}"
output="${1:-$root/docs/window.png}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DTARN_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --target tarn-render-window -j"$(nproc)"

mkdir -p "$(dirname "$output")"
QT_QPA_PLATFORM=offscreen "$build/tarn-render-window" "$output"
echo "wrote $output"
