// A whole five-way minimum-phase run (Tarn alignment, order 10, 64-bit, 48000 Hz, ten files
// written) on one and on two threads, beside the same five bands converted through FFTW's
// real transforms on one thread: the design, then r2c and c2r of 2^20 points (log magnitude to
// cepstrum) and r2c and c2r of 2^18 (folded cepstrum to response).
// And the run of every rate into WAV files. Wall time (the threads' work overlaps).
//
//   build/bench/tarn_bench_threads --benchmark_repetitions=9
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include "bench/FiveWayRun.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include <fftw3.h>

#include "crossover/Bands.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/BandJobs.h"
#include "project/ProjectSettings.h"
#include "spectral/FastFourier.h"
#include "spectral/MinimumPhase.h"

namespace {

void BM_FiveWayMinimumPhaseRun(benchmark::State& state) {
    tarn::SetCalculationThreads(static_cast<int>(state.range(0)));
    tarn::bench::FiveWayRun(state, true);
    tarn::SetCalculationThreads(0);
}
BENCHMARK(BM_FiveWayMinimumPhaseRun)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The conversion as four FFTW real transforms, for the five bands of the same design.
// Arg 0: planned with FFTW_ESTIMATE in each run, as a run that plans for itself would.
// Arg 1: planned once with FFTW_MEASURE before the timing (the most FFTW can do).
void BM_FftwRealPipeline(benchmark::State& state) {
    constexpr int N = 65536, L = 1 << 20, S = 1 << 18;
    const double f[4] = {80, 500, 3000, 8000};
    const bool measured = state.range(0) == 1;
    tarn::SampleRate = 48000.0;
    tarn::SamplePeriod = 1.0 / 48000.0;
    double* x = fftw_alloc_real(L);
    fftw_complex* X = fftw_alloc_complex(L / 2 + 1);
    double* y = fftw_alloc_real(S);
    fftw_complex* Y = fftw_alloc_complex(S / 2 + 1);
    fftw_plan plans[4] = {};
    const auto plan = [&](unsigned flags) {
        plans[0] = fftw_plan_dft_r2c_1d(L, x, X, flags);
        plans[1] = fftw_plan_dft_c2r_1d(L, X, x, flags);
        plans[2] = fftw_plan_dft_r2c_1d(S, y, Y, flags);
        plans[3] = fftw_plan_dft_c2r_1d(S, Y, y, flags);
    };
    const auto destroy = [&] {
        for (const fftw_plan p : plans)
            fftw_destroy_plan(p);
    };
    if (measured) plan(FFTW_MEASURE);
    for (auto _ : state) {
        if (!measured) plan(FFTW_ESTIMATE);
        tarn::AllocSpectrum(N);
        for (const tarn::Band& band : tarn::BandsFor(5)) {
            tarn::DesignBand(band, 10, f); // linear phase: the silent host says so
            std::copy(tarn::SpecRe.begin(), tarn::SpecRe.end(), x);
            std::fill(x + N, x + L, 0.0);
            fftw_execute(plans[0]);
            for (int k = 0; k <= L / 2; ++k) {
                const double power = X[k][0] * X[k][0] + X[k][1] * X[k][1];
                X[k][0] = 0.5 * std::log(power > 0 ? power : 1e-300);
                X[k][1] = 0.0;
            }
            fftw_execute(plans[1]); // the cepstrum, times L
            y[0] = x[0] / L;
            for (int t = 1; t < S; ++t)
                y[t] = 2.0 * x[t] / L;
            fftw_execute(plans[2]);
            for (int k = 0; k <= S / 2; ++k) {
                const std::complex<double> e = std::exp(std::complex<double>(Y[k][0], Y[k][1]));
                Y[k][0] = e.real();
                Y[k][1] = e.imag();
            }
            fftw_execute(plans[3]); // the response, times S
            for (int t = 0; t < N; ++t)
                tarn::SpecRe[t] = y[t] / S;
            benchmark::DoNotOptimize(tarn::SpecRe.data());
        }
        if (!measured) destroy();
    }
    // The baseline computes what the run computes: its last band against our conversion.
    const std::vector<double> fftwHigh(tarn::SpecRe.begin(), tarn::SpecRe.end());
    tarn::DesignBand(tarn::BandsFor(5).back(), 10, f);
    tarn::MinimumPhase(N - 1);
    double worst = 0.0;
    for (int t = 0; t < N; ++t)
        worst = std::max(worst, std::abs(fftwHigh[t] - tarn::SpecRe[t]));
    if (worst > 1e-9) state.SkipWithError("the FFTW pipeline computes another response");
    tarn::FreeSpectrum();
    if (measured) destroy();
    fftw_free(x);
    fftw_free(X);
    fftw_free(y);
    fftw_free(Y);
}
BENCHMARK(BM_FftwRealPipeline)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_AllRatesWavRun(benchmark::State& state) {
    tarn::SetCalculationThreads(static_cast<int>(state.range(0)));
    tarn::bench::FiveWayRun(state, true, [](tarn::HeadlessWindow& window) {
        window.rate = tarn::AllRates;
        window.format = tarn::FileFormat::Wav;
    });
    tarn::SetCalculationThreads(0);
}
BENCHMARK(BM_AllRatesWavRun)
    ->ArgName("threads")
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
