#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages Tarn is built and tested with. Safe to run again:
# it asks apt only for what is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config       # compiler and build
  qt6-base-dev libgl-dev                 # the window (Qt 6 Widgets needs the GL headers)
  qt6-charts-dev libqt6opengl6-dev       # the response window's charts (need Qt OpenGL to configure)
  libcli11-dev                           # tarn-cli's arguments
  libsndfile1-dev                        # WAV coefficient files
  libzip-dev                             # the zip of a Convolver export, for Roon
  sox                                    # tests: a second reader of the WAV headers
  brutefir                               # tests: the engine that runs the exported BruteFIR configuration
  libgtest-dev                           # tests
  libbenchmark-dev libfftw3-dev          # benchmarks (FFTW is only the speed baseline)
  clang libclang-rt-14-dev llvm          # fuzzing and sanitizer builds (readable reports)
  clang-format                           # the formatting check
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo=()
  [[ $(id -u) -ne 0 ]] && sudo=(sudo)
  echo "Installing: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
