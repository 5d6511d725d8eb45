// Speed of the linear-phase path: the inverse transform against FFTW's real inverse of the
// same size, one band design, and a whole five-way run that writes its ten files.
//
//   build/bench/tarn_bench --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include "bench/FiveWayRun.h"

#include <algorithm>
#include <complex>
#include <cstring>
#include <filesystem>
#include <vector>

#include <fftw3.h>
#include <unistd.h>

#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"

namespace {

constexpr int N = 65536;

// A band's spectrum in rectangular form, bins 0..N/2, as the designs hand it over.
void FillSpectrum(std::vector<double>& re, std::vector<double>& im) {
    re.assign(N, 0.0);
    im.assign(N, 0.0);
    for (int k = 0; k <= N / 2; ++k) {
        const double f = k * 44100.0 / N;
        const double m = 1.0 / std::sqrt(1.0 + std::pow(f / 1000.0, 20));
        re[k] = (k % 2 ? -1.0 : 1.0) * m;
    }
}

void BM_InverseRealFFT(benchmark::State& state) {
    tarn::AllocSpectrum(N);
    std::vector<double> re, im;
    FillSpectrum(re, im);
    for (auto _ : state) {
        // The transform works in place, so every pass starts from a fresh copy (as FFTW's
        // complex-to-real transform below, which destroys its input too).
        std::copy(re.begin(), re.end(), tarn::SpecRe.begin());
        std::copy(im.begin(), im.end(), tarn::SpecIm.begin());
        tarn::InverseRealFFT();
        benchmark::DoNotOptimize(tarn::SpecRe.data());
    }
    tarn::FreeSpectrum();
}
BENCHMARK(BM_InverseRealFFT)->Unit(benchmark::kMicrosecond);

void BM_FftwInverseReal(benchmark::State& state) {
    std::vector<double> re, im;
    FillSpectrum(re, im);
    auto* in = fftw_alloc_complex(N / 2 + 1);
    auto* out = fftw_alloc_real(N);
    const fftw_plan plan = fftw_plan_dft_c2r_1d(N, in, out, FFTW_ESTIMATE);
    for (auto _ : state) {
        for (int k = 0; k <= N / 2; ++k) {
            in[k][0] = re[k];
            in[k][1] = im[k];
        }
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwInverseReal)->Unit(benchmark::kMicrosecond);

void BM_DesignBandPass(benchmark::State& state) {
    tarn::HeadlessWindow window;
    window.minimumPhase = false;
    tarn::ScopedWindow scoped(window);
    tarn::SamplePeriod = 1.0 / 48000.0;
    tarn::AllocSpectrum(N);
    for (auto _ : state) {
        tarn::DesignBandPass(static_cast<int>(state.range(0)), 500, 3000);
        benchmark::DoNotOptimize(tarn::SpecRe.data());
    }
    tarn::FreeSpectrum();
}
BENCHMARK(BM_DesignBandPass)->Arg(10)->Arg(50)->Unit(benchmark::kMicrosecond);

void BM_FiveWayLinearRun(benchmark::State& state) {
    tarn::bench::FiveWayRun(state, false);
}
BENCHMARK(BM_FiveWayLinearRun)->Unit(benchmark::kMillisecond);

} // namespace
