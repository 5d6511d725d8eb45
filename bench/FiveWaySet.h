// The example five-way set (48000 Hz, 80, 500, 3000, 8000 Hz, order 10, 64-bit) written once
// through the driver into a scratch directory, for the benchmarks that read a set back; with
// trims (by band word), its bands trimmed as the run trims them and the trims stored.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include <unistd.h>

#include "analysis/CoefficientSet.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"

namespace tarn::bench {

class FiveWaySet {
  public:
    explicit FiveWaySet(bool minimumPhase = true,
                        const std::map<std::string, BandTrim, std::less<>>& trims = {}) {
        namespace fs = std::filesystem;
        dir_ = fs::temp_directory_path() /
               ("tarn-bench-set-" + std::to_string(::getpid()) + (minimumPhase ? "-min" : "-lin") +
                (trims.empty() ? "" : "-trim"));
        fs::create_directories(dir_);
        HeadlessWindow window;
        ScopedWindow scoped(window);
        window.radio48 = true;
        window.minimumPhase = minimumPhase;
        window.trims = trims;
        window.SetFields("80", "500", "3000", "8000");
        const std::string saved = ProjectPath;
        ProjectPath = Project();
        DoublePrecision = true;
        RunHandler([] { XOButtonClick(); });
        ProjectPath = saved;
        set_ = FindCoefficientSets(dir_).front();
    }
    ~FiveWaySet() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    FiveWaySet(const FiveWaySet&) = delete;
    FiveWaySet& operator=(const FiveWaySet&) = delete;

    const CoefficientSet& Set() const { return set_; }
    // The directory as a ProjectPath: with its final separator.
    std::string Project() const { return dir_.string() + PathSeparator; }

  private:
    std::filesystem::path dir_;
    CoefficientSet set_;
};

} // namespace tarn::bench
