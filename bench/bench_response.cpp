// Speed of reading a set back: the 2^18-point real transform of one band, and the whole
// analysis of a five-way set (48000 Hz, 80, 500, 3000, 8000 Hz) from its files to the table,
// as tarn-cli report and the response window's refresh do it.
//
//   build/bench/tarn_bench_response --benchmark_repetitions=5
//   --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <filesystem>
#include <vector>

#include <unistd.h>

#include "analysis/CoefficientSet.h"
#include "analysis/RealTransform.h"
#include "analysis/Response.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"

namespace {

namespace fs = std::filesystem;

// A five-way minimum-phase set written once through the driver into a scratch directory.
class FiveWaySet {
  public:
    FiveWaySet() {
        dir_ = fs::temp_directory_path() / ("tarn-bench-response-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        tarn::HeadlessWindow window;
        tarn::ScopedWindow scoped(window);
        window.radio48 = true;
        window.minimumPhase = true;
        const char* fields[] = {"80", "500", "3000", "8000"};
        for (int i = 0; i < 4; ++i)
            window.fields[i] = fields[i];
        tarn::ProjectPath = dir_.string() + tarn::PathSeparator;
        tarn::DoublePrecision = true;
        tarn::RunHandler([] { tarn::XOButtonClick(); });
        set_ = tarn::FindCoefficientSets(dir_).front();
    }
    ~FiveWaySet() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    const tarn::CoefficientSet& Set() const { return set_; }

  private:
    fs::path dir_;
    tarn::CoefficientSet set_;
};

const FiveWaySet& Set() {
    static FiveWaySet set;
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
