// Speed of the minimum-phase conversion, against FFTW's complex transforms of the sizes a
// straightforward conversion runs (two of 2^20 points and two of 2^18), and a whole
// five-way minimum-phase run that writes its ten files.
//
//   build/bench/tarn_bench_minimumphase --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include "bench/FiveWayRun.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <fftw3.h>
#include <unistd.h>

#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"
#include "spectral/MinimumPhase.h"

namespace {

constexpr int N = 65536;

// MinimumPhase(65535) on the linear-phase band the driver would hand it: first arg 0 the Sub
// low-pass at 80 Hz, 1 the band-pass 500..3000 Hz, order 10, 48000 Hz; second arg 1: the
// tables kept from one conversion to the next, as a run keeps them.
void BM_MinimumPhase(benchmark::State& state) {
    std::optional<tarn::KeepConversionTables> keep;
    if (state.range(1) == 1) keep.emplace();
    tarn::HeadlessWindow window;
    window.minimumPhase = false;
    tarn::ScopedWindow scoped(window);
    tarn::SamplePeriod = 1.0 / 48000.0;
    tarn::AllocSpectrum(N);
    if (state.range(0) == 0)
        tarn::DesignLowPass(10, 80.0);
    else
        tarn::DesignBandPass(10, 500.0, 3000.0);
    const std::vector<double> linear = tarn::SpecRe;
    for (auto _ : state) {
        // The conversion works in place: every pass starts from the linear-phase band.
        std::copy(linear.begin(), linear.end(), tarn::SpecRe.begin());
        tarn::MinimumPhase(N - 1);
        benchmark::DoNotOptimize(tarn::SpecRe.data());
    }
    tarn::FreeSpectrum();
}
BENCHMARK(BM_MinimumPhase)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);

// One complex FFTW transform of 2^arg points, planned outside the timed loop.
void BM_FftwComplex(benchmark::State& state) {
    const int count = 1 << state.range(0);
    fftw_complex* in = fftw_alloc_complex(count);
    fftw_complex* out = fftw_alloc_complex(count);
    const fftw_plan plan = fftw_plan_dft_1d(count, in, out, FFTW_FORWARD, FFTW_ESTIMATE);
    for (int i = 0; i < count; ++i) {
        in[i][0] = i < N ? 1.0 / (1 + i % 7) : 0.0;
        in[i][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwComplex)->Arg(20)->Arg(18)->Unit(benchmark::kMillisecond);

// The transforms alone of a straightforward FFTW conversion: two complex transforms of
// 2^20 points and two of 2^18 (no logarithms, exponentials or passes in between).
void BM_FftwFourTransforms(benchmark::State& state) {
    const int longCount = 1 << 20, shortCount = 1 << 18;
    fftw_complex* data = fftw_alloc_complex(longCount);
    fftw_complex* out = fftw_alloc_complex(longCount);
    const fftw_plan longForward =
        fftw_plan_dft_1d(longCount, data, out, FFTW_FORWARD, FFTW_ESTIMATE);
    const fftw_plan longBackward =
        fftw_plan_dft_1d(longCount, out, data, FFTW_BACKWARD, FFTW_ESTIMATE);
    const fftw_plan shortForward =
        fftw_plan_dft_1d(shortCount, data, out, FFTW_FORWARD, FFTW_ESTIMATE);
    const fftw_plan shortBackward =
        fftw_plan_dft_1d(shortCount, out, data, FFTW_BACKWARD, FFTW_ESTIMATE);
    for (int i = 0; i < longCount; ++i) {
        data[i][0] = i < N ? 1.0 / (1 + i % 7) : 0.0;
        data[i][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(longForward);
        fftw_execute(longBackward);
        fftw_execute(shortForward);
        fftw_execute(shortBackward);
        benchmark::DoNotOptimize(data);
    }
    for (fftw_plan plan : {longForward, longBackward, shortForward, shortBackward})
        fftw_destroy_plan(plan);
    fftw_free(data);
    fftw_free(out);
}
BENCHMARK(BM_FftwFourTransforms)->Unit(benchmark::kMillisecond);

void BM_FiveWayMinimumPhaseRun(benchmark::State& state) {
    tarn::bench::FiveWayRun(state, true);
}
BENCHMARK(BM_FiveWayMinimumPhaseRun)->Unit(benchmark::kMillisecond);

} // namespace
