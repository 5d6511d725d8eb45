#!/usr/bin/env bash
# Renders the README's pictures: the main window (after a linear-phase run at 48000 Hz of
# 80, 500 and 3000 Hz, the High band 6 dB down and delayed 0.1 ms) to docs/window.png, and
# the response window after the five-way example design (48000 Hz, 80, 500, 3000, 8000 Hz,
# minimum phase) to docs/response.png. Builds the renderer first if needed. Needs no
# display: the windows are drawn on Qt's offscreen platform.
#
# With "lr", the same design in the Linkwitz-Riley alignment (docs/response-lr.png).
# Usage: scripts/render.sh [window|response [OUTPUT.png [linear|lr]]]   (no argument: all)
# Environment: TARN_BUILD_DIR, the build directory (default: build).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARN_BUILD_DIR:-$root/build}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DTARN_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --target tarn-render -j"$(nproc)"

render() { # what output [linear]
    mkdir -p "$(dirname "$2")"
    QT_QPA_PLATFORM=offscreen "$build/tarn-render" "$@"
    echo "wrote $2"
}

case "${1:-}" in
    "")       render window "$root/docs/window.png"
              render response "$root/docs/response.png"
              render response "$root/docs/response-lr.png" lr ;;
    window)   render window "${2:-$root/docs/window.png}" ;;
    response) render response "${2:-$root/docs/response.png}" ${3:+"$3"} ;;
    *)        echo "usage: $0 [window|response [OUTPUT.png [linear|lr]]]" >&2; exit 2 ;;
esac
