// Speed of a five-way Linkwitz-Riley set (80, 500, 3000, 8000 Hz at 48000 Hz) beside the five
// Tarn bands of the same set in both phases and FFTW's inverse real transform of 65536
// points, the one transform every band needs. Designs only: no files.
//
//   build/bench/tarn_bench_linkwitzriley --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <vector>

#include <fftw3.h>

#include "core/Host.h"
#include "crossover/LinkwitzRiley.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"

namespace {

constexpr int N = 65536;

// The minimum-phase option without a window.
class PhaseHost final : public tarn::Host {
  public:
    explicit PhaseHost(bool minimumPhase) : minimumPhase_(minimumPhase) {}
    void ProcessMessages() override {}
    void ShowMessage(const std::string&) override {}
    bool MinimumPhaseOption() override { return minimumPhase_; }

  private:
    bool minimumPhase_;
};

void Prepare() {
    tarn::SamplePeriod = 1.0 / 48000.0;
    tarn::AllocSpectrum(N);
}

// Arguments: the filter order, then 1 for minimum phase. Every pass designs a set the kept
// tables do not hold yet (the lowest crossover moves by a hundredth of a hertz), as a run
// after the user has changed a frequency does.
void BM_LinkwitzRileyFiveWay(benchmark::State& state) {
    Prepare();
    const int order = static_cast<int>(state.range(0));
    const bool minimumPhase = state.range(1) != 0;
    std::vector<double> crossovers = {80.0, 500.0, 3000.0, 8000.0};
    bool shifted = false;
    for (auto _ : state) {
        crossovers[0] = shifted ? 80.01 : 80.0;
        shifted = !shifted;
        for (int band = 0; band <= 4; ++band) {
            tarn::DesignLinkwitzRiley(order, crossovers, band, minimumPhase);
            benchmark::DoNotOptimize(tarn::SpecRe.data());
        }
    }
    tarn::FreeSpectrum();
}
BENCHMARK(BM_LinkwitzRileyFiveWay)
    ->Args({4, 1})
    ->Args({50, 1})
    ->Args({4, 0})
    ->Args({50, 0})
    ->Unit(benchmark::kMillisecond);

// Arguments as above: the five Tarn bands of the same set.
void BM_TarnFiveWay(benchmark::State& state) {
    Prepare();
    const int order = static_cast<int>(state.range(0));
    PhaseHost host(state.range(1) != 0);
    tarn::Host* previous = tarn::SetHost(&host);
    for (auto _ : state) {
        tarn::DesignLowPass(order, 80.0);
        tarn::DesignBandPass(order, 80.0, 500.0);
        tarn::DesignBandPass(order, 500.0, 3000.0);
        tarn::DesignBandPass(order, 3000.0, 8000.0);
        tarn::DesignHighPass(order, 8000.0);
        benchmark::DoNotOptimize(tarn::SpecRe.data());
    }
    tarn::SetHost(previous);
    tarn::FreeSpectrum();
}
BENCHMARK(BM_TarnFiveWay)->Args({4, 1})->Args({4, 0})->Args({50, 0})->Unit(benchmark::kMillisecond);

// One inverse real transform of 65536 points, planned outside the timed loop.
void BM_FftwInverseReal(benchmark::State& state) {
    fftw_complex* in = fftw_alloc_complex(N / 2 + 1);
    double* out = fftw_alloc_real(N);
    const fftw_plan plan = fftw_plan_dft_c2r_1d(N, in, out, FFTW_ESTIMATE);
    for (auto _ : state) {
        // c2r transforms overwrite their input: every pass starts from the same spectrum.
        for (int k = 0; k <= N / 2; ++k) {
            in[k][0] = 1.0 / (1 + k % 7);
            in[k][1] = 0.0;
        }
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
    }
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwInverseReal)->Unit(benchmark::kMillisecond);

} // namespace
