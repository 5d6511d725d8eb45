#!/usr/bin/env bash
# Builds the whole program and test suite with clang's address and undefined-behaviour
# sanitizers (the window too; its tests run on Qt's offscreen platform) in
# build-harden-asan/ and runs every test with CTest. Any sanitizer report fails the test
# that caused it: nothing is recovered from, and leaks are reported at each test's exit.
#
# Usage: scripts/sanitize.sh [CTEST_ARGS...]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
build="${TARN_SANITIZE_BUILD_DIR:-$root/build-harden-asan}"

# Also in force while the build lists each test executable's cases.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DTARN_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@"
