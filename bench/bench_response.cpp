// Speed of reading a set back: the 2^18-point real transform of one band, and the whole
// analysis of a five-way set (48000 Hz, 80, 500, 3000, 8000 Hz) from its files to the table,
// as tarn-cli report and the response window's refresh do it.
//
//   build/bench/tarn_bench_response --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <vector>

#include "FiveWaySet.h"
#include "analysis/CoefficientSet.h"
#include "analysis/RealTransform.h"
#include "analysis/Response.h"

namespace {

const tarn::bench::FiveWaySet& Set() {
    static tarn::bench::FiveWaySet set;
    return set;
}

void BM_RealTransform262144(benchmark::State& state) {
    const std::vector<double> taps = tarn::ReadCoefficientFile(Set().Set().files.front());
    tarn::RealTransform transform(std::size_t{1} << 18);
    for (auto _ : state)
        benchmark::DoNotOptimize(transform.Forward(taps));
}
BENCHMARK(BM_RealTransform262144)->Unit(benchmark::kMillisecond);

void BM_AnalyseFiveWaySet(benchmark::State& state) {
    for (auto _ : state) {
        const tarn::ResponseAnalysis analysis = tarn::AnalyseSet(Set().Set());
        benchmark::DoNotOptimize(tarn::FormatTable(analysis));
    }
}
BENCHMARK(BM_AnalyseFiveWaySet)->Unit(benchmark::kMillisecond);

} // namespace
