// The whole of a press of "Calc Crossover" for the example five-way design at 48000 Hz:
// stale files, settings, five designs (and conversions) and ten ".dbl" files, written into
// a scratch directory. Shared by the benchmarks of both phases.
#pragma once

#include <benchmark/benchmark.h>

#include <filesystem>
#include <functional>
#include <string>

#include <unistd.h>

#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"

namespace tarn::bench {

// setUp: anything more to choose in the window (rate, format, ...).
inline void FiveWayRun(benchmark::State& state, bool minimumPhase,
                       const std::function<void(HeadlessWindow&)>& setUp = {}) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("tarn-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    ProjectPath = dir.string() + PathSeparator;
    DoublePrecision = true;
    HeadlessWindow window;
    window.minimumPhase = minimumPhase;
    window.radio48 = true;
    window.SetFields("80", "500", "3000", "8000");
    if (setUp) setUp(window);
    ScopedWindow scoped(window);
    for (auto _ : state) {
        if (!XOButtonClick() || !window.errors.empty()) {
            state.SkipWithError("the run failed");
            break;
        }
    }
    fs::remove_all(dir);
}

} // namespace tarn::bench
