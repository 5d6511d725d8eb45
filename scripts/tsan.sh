#!/usr/bin/env bash
# Builds the tests of the runs that compute on several threads with clang's thread sanitizer
# in build-harden-tsan/ and runs them: a data race between the threads that design bands (a
# table or workspace that is not the thread's own) fails the test that caused it.
#
# Usage: scripts/tsan.sh [CTEST_ARGS...]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
build="${TARN_TSAN_BUILD_DIR:-$root/build-harden-tsan}"

export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" \
    -DTARN_BUILD_BENCHMARKS=OFF -DTARN_BUILD_GUI=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target test_bandjobs test_driver
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R "^(BandJobs|Threads|AllOrNothing)\." "$@"
