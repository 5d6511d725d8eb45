// Speed of reading a set back: the 2^18-point real transform of one band against FFTW's real
// transform of the same size, and the whole analysis of a five-way set (48000 Hz, 80, 500,
// 3000, 8000 Hz) from its files to the table, as tarn-cli report and the response window's
// refresh do it; and reading and judging the set's ten files against reading their bytes
// and nothing else.
//
//   build/bench/tarn_bench_response --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include <fftw3.h>

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

// The same transform by FFTW, planned outside the timed loop, with the zero padding and the
// copy of the taps that RealTransform::Forward does too.
void BM_FftwReal262144(benchmark::State& state) {
    const std::vector<double> taps = tarn::ReadCoefficientFile(Set().Set().files.front());
    const int size = 1 << 18;
    double* in = fftw_alloc_real(size);
    fftw_complex* out = fftw_alloc_complex(size / 2 + 1);
    const fftw_plan plan = fftw_plan_dft_r2c_1d(size, in, out, FFTW_ESTIMATE);
    for (auto _ : state) {
        std::copy(taps.begin(), taps.end(), in);
        std::fill(in + taps.size(), in + size, 0.0);
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwReal262144)->Unit(benchmark::kMillisecond);

void BM_AnalyseFiveWaySet(benchmark::State& state) {
    for (auto _ : state) {
        const tarn::ResponseAnalysis analysis = tarn::AnalyseSet(Set().Set());
        benchmark::DoNotOptimize(tarn::FormatTable(analysis));
    }
}
BENCHMARK(BM_AnalyseFiveWaySet)->Unit(benchmark::kMillisecond);

// Every file of the set, both sides, read and judged as tarn-cli report does.
void BM_ReadFiveWaySet(benchmark::State& state) {
    for (auto _ : state) {
        tarn::CoefficientSet set = Set().Set();
        benchmark::DoNotOptimize(tarn::ReadSet(set));
    }
}
BENCHMARK(BM_ReadFiveWaySet)->Unit(benchmark::kMillisecond);

// The floor: the same files' bytes read into one buffer each, nothing checked or converted.
void BM_ReadFiveWayBytes(benchmark::State& state) {
    const tarn::CoefficientSet& set = Set().Set();
    for (auto _ : state)
        for (const std::string& band : set.bands)
            for (const char side : tarn::Sides) {
                std::ifstream in(set.File(band, side), std::ios::binary);
                std::vector<char> bytes(tarn::DoubleFileSize);
                in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
                benchmark::DoNotOptimize(bytes.data());
            }
}
BENCHMARK(BM_ReadFiveWayBytes)->Unit(benchmark::kMillisecond);

} // namespace
