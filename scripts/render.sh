#!/usr/bin/env bash
# Renders the README's pictures: the main window (after a linear-phase run at 48000 Hz of
# 80, 500 and 3000 Hz, the High band 6 dB down and delayed 0.1 ms) to docs/window.png, and
# the response window after the five-way example design (48000 Hz, 80, 500, 3000, 8000 Hz) in
# linear phase with its tweeter, the High band, 6 dB down and delayed 0.1 ms (tarn-cli's
# --phase linear --level High=-6 --delay High=0.1) to docs/response.png. Builds the renderer
# first if needed. Needs no display: the windows are drawn on Qt's offscreen platform.
#
# Given a response picture's output, the design is minimum phase unless "linear" follows, in
# the Linkwitz-Riley alignment with "lr" (docs/response-lr.png: minimum phase, untrimmed), and
# tarn-cli's --level, --delay and --invert options after that trim its bands.
# Usage: scripts/render.sh [window|response [OUTPUT.png [linear|lr] [TRIM OPTIONS...]]]
#        (no argument: all)
# Environment: TARN_BUILD_DIR, the build directory (default: build).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TARN_BUILD_DIR:-$root/build}"

if [[ ! -f "$build/CMakeCache.txt" ]]; then
    cmake -S "$root" -B "$build" -DTARN_BUILD_BENCHMARKS=OFF
fi
cmake --build "$build" --target tarn-render -j"$(nproc)"

# The design of docs/response.png: the tweeter trimmed as a speaker builder would.
readme_design=(linear --level High=-6 --delay High=0.1)

render() { # what output [linear|lr] [trim options...]
    mkdir -p "$(dirname "$2")"
    QT_QPA_PLATFORM=offscreen "$build/tarn-render" "$@"
    echo "wrote $2"
}

case "${1:-}" in
    "")       render window "$root/docs/window.png"
              render response "$root/docs/response.png" "${readme_design[@]}"
              render response "$root/docs/response-lr.png" lr ;;
    window)   render window "${2:-$root/docs/window.png}" ;;
    response) output="${2:-$root/docs/response.png}"
              if (($# > 2)); then
                  render response "$output" "${@:3}"
              else
                  render response "$output" "${readme_design[@]}"
              fi ;;
    *)        echo "usage: $0 [window|response [OUTPUT.png [linear|lr] [TRIM OPTIONS...]]]" >&2
              exit 2 ;;
esac
