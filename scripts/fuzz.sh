#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (address and undefined-behaviour sanitizers) in
# build-harden-fuzz/ and runs each for a bounded time, starting from the seed corpus in
# fuzz/corpus/<target>/. Fails on any crash, failed property, sanitizer report, input that
# takes longer than 10 s, or memory use beyond 2 GB. Found inputs stay in
# build-harden-fuzz/artifacts/; a failing one is replayed with: build-harden-fuzz/fuzz/<target> <file>
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]   (default 60 s, every target)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/deps.sh"
build="${TARN_FUZZ_BUILD_DIR:-$root/build-harden-fuzz}"
seconds="${1:-60}"
shift || true
targets=("$@")
((${#targets[@]})) || targets=(fuzz_parse_frequency fuzz_inifile fuzz_cli_options)

# Longest input per target: past the thousand digits that decide a float's rounding, past
# the 2047-character value cut, and a generous command line.
declare -A max_len=([fuzz_parse_frequency]=8192 [fuzz_inifile]=16384 [fuzz_cli_options]=2048)

sanitizers="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="$sanitizers -fno-omit-frame-pointer" \
    -DTARN_BUILD_FUZZERS=ON -DTARN_BUILD_GUI=OFF -DTARN_BUILD_TESTS=OFF \
    -DTARN_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

mkdir -p "$build/artifacts"
status=0
summary=()
for target in "${targets[@]}"; do
    # New inputs go to a work copy; the seed corpus in the repository stays as committed.
    work="$build/corpus/$target"
    mkdir -p "$work"
    log="$build/$target.log"
    echo "== $target: ${seconds} s"
    set +e
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/fuzz/$target" "$work" "$root/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len="${max_len[$target]:-4096}" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" >"$log" 2>&1
    rc=$?
    set -e
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)
    if ((rc != 0)); then
        status=1
        summary+=("$target: FAILED (exit $rc) after ${runs:-?} runs, see $log")
        tail -n 40 "$log"
    else
        summary+=("$target: ${runs:-?} runs in ${seconds} s, no failure")
    fi
done

echo "== fuzzing summary"
printf '%s\n' "${summary[@]}"
exit "$status"
