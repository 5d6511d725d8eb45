// Speed of shorter filters beside the design they come from: the five bands of the example
// set (80, 500, 3000, 8000 Hz, order 10, 48000 Hz) designed on 65536 and 131072 points,
// shortened to 8192 and 2048 taps, and their cost measured at every tap count a run compares
// (65536, 8192, 2048 on the 65536-point designs, 131072 on its own grid), with the search for
// the fewest taps where a band or the sum exceeds the tolerance, as it does at 2048 taps.
// FFTW's transforms of the measuring size are the baseline of the measurement's.
//
//   build/bench/tarn_bench_shorten --benchmark_repetitions=9
//       --benchmark_report_aggregates_only=true
//
// Arguments: phase (0 linear, 1 minimum), then the design grid or the tap count.
#include <benchmark/benchmark.h>

#include <bit>
#include <map>
#include <utility>
#include <vector>

#include <fftw3.h>

#include "crossover/Shorten.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"
#include "spectral/RealSpectrum.h"

namespace {

using Set = std::vector<std::vector<double>>;

tarn::BandPhase PhaseOf(const benchmark::State& state) {
    return state.range(0) == 0 ? tarn::BandPhase::Linear : tarn::BandPhase::Minimum;
}

// The five designs, left in `set` when given.
void DesignFiveWay(tarn::BandPhase phase, std::int32_t grid, Set* set) {
    tarn::HeadlessWindow window;
    window.minimumPhase = phase == tarn::BandPhase::Minimum;
    tarn::ScopedWindow scoped(window);
    tarn::SamplePeriod = 1.0 / 48000.0;
    tarn::AllocSpectrum(grid);
    const double f[] = {80.0, 500.0, 3000.0, 8000.0};
    for (int band = 0; band < 5; ++band) {
        if (band == 0)
            tarn::DesignLowPass(10, f[0]);
        else if (band == 4)
            tarn::DesignHighPass(10, f[3]);
        else
            tarn::DesignBandPass(10, f[band - 1], f[band]);
        if (set) set->emplace_back(tarn::SpecRe.begin(), tarn::SpecRe.end());
    }
    tarn::FreeSpectrum();
}

const Set& Designs(tarn::BandPhase phase, std::int32_t grid = tarn::CoefficientCount) {
    static std::map<std::pair<tarn::BandPhase, std::int32_t>, Set> made;
    Set& set = made[{phase, grid}];
    if (set.empty()) DesignFiveWay(phase, grid, &set);
    return set;
}

void BM_DesignFiveWay(benchmark::State& state) {
    const auto grid = static_cast<std::int32_t>(state.range(1));
    for (auto _ : state)
        DesignFiveWay(PhaseOf(state), grid, nullptr);
}
BENCHMARK(BM_DesignFiveWay)->ArgsProduct({{0, 1}, {65536, 131072}})->Unit(benchmark::kMillisecond);

void BM_ShortenFiveWay(benchmark::State& state) {
    const Set& designs = Designs(PhaseOf(state));
    // The window is made once per tap count and kept for the next band; alternating between
    // two counts makes every pass pay for it once, as a run does.
    std::int32_t taps = static_cast<std::int32_t>(state.range(1));
    for (auto _ : state) {
        taps ^= 2;
        for (const std::vector<double>& design : designs)
            benchmark::DoNotOptimize(tarn::ShortenBand(design, PhaseOf(state), taps));
    }
}
BENCHMARK(BM_ShortenFiveWay)->ArgsProduct({{0, 1}, {8192, 2048}})->Unit(benchmark::kMillisecond);

// The whole measurement a run makes after shortening, on the designs of the grid the tap
// count is designed on: at 65536 and 131072 taps only the sum's distance from flat.
void BM_MeasureFiveWay(benchmark::State& state) {
    const auto taps = static_cast<std::int32_t>(state.range(1));
    const Set& designs = Designs(PhaseOf(state), tarn::DesignLength(taps));
    for (auto _ : state)
        benchmark::DoNotOptimize(tarn::MeasureShortening(designs, PhaseOf(state), taps, 48000.0));
}
BENCHMARK(BM_MeasureFiveWay)
    ->ArgsProduct({{0, 1}, {65536, 8192, 2048, 131072}})
    ->Unit(benchmark::kMillisecond);

// The search alone, for the 80 Hz low-pass.
void BM_FewestTapsForBand(benchmark::State& state) {
    const Set& designs = Designs(PhaseOf(state));
    for (auto _ : state)
        benchmark::DoNotOptimize(tarn::FewestTapsForBand(designs[0], PhaseOf(state), 48000.0));
}
BENCHMARK(BM_FewestTapsForBand)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The transforms the measurement of 2048 and 8192 taps runs on, 16384 points, beside FFTW's:
// a minimum-phase response's whole real transform (FFTW's r2c), and a linear-phase
// response's zero-phase amplitude, a cosine transform of 8193 points (FFTW's REDFT00) that
// the measurement makes from a real transform of 8192 points and a pass on either side.
void BM_FftwReal(benchmark::State& state) {
    const auto count = static_cast<int>(state.range(0));
    double* in = fftw_alloc_real(count);
    fftw_complex* out = fftw_alloc_complex(count / 2 + 1);
    const fftw_plan plan = fftw_plan_dft_r2c_1d(count, in, out, FFTW_ESTIMATE);
    for (int i = 0; i < count; ++i)
        in[i] = 1.0 / (1 + i % 7);
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwReal)->Arg(16384)->Arg(8192)->Unit(benchmark::kMicrosecond);

void BM_FftwCosine8193(benchmark::State& state) {
    const int count = 8193;
    double* in = fftw_alloc_real(count);
    double* out = fftw_alloc_real(count);
    const fftw_plan plan = fftw_plan_r2r_1d(count, in, out, FFTW_REDFT00, FFTW_ESTIMATE);
    for (int i = 0; i < count; ++i)
        in[i] = 1.0 / (1 + i % 7);
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwCosine8193)->Unit(benchmark::kMicrosecond);

// Tarn's real transform with exact twiddles (spectral/RealSpectrum.h), which the
// measurement keeps one of per thread: bins only, as the measurement takes them.
void BM_RealFft(benchmark::State& state) {
    const auto count = static_cast<std::int32_t>(state.range(0));
    const std::vector<double> sines = tarn::fft::QuarterWaveSines(2 * count);
    tarn::fft::RealFft fft(count, {sines.data(), 2 * count});
    std::vector<double> in(count), out(count / 2 + 1);
    for (int i = 0; i < count; ++i)
        in[i] = 1.0 / (1 + i % 7);
    const int lg = std::countr_zero(static_cast<std::uint32_t>(count));
    for (auto _ : state) {
        fft.Forward(
            lg,
            [&in](std::int32_t t, double& zr, double& zi) {
                zr = in[2 * t];
                zi = in[2 * t + 1];
            },
            [&out](std::int32_t k, double re, double im) { out[k] = re * re + im * im; });
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_RealFft)->Arg(16384)->Arg(8192)->Unit(benchmark::kMicrosecond);

} // namespace
