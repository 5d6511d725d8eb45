// A long session: 300 calculations in one process, cycling through the number of ways,
// both rates, both precisions, both phases and many orders. Every run writes exactly its
// own complete, finite files; memory and open files stay level once warmed up, and no
// temporary file is ever left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "crossover/Bands.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

constexpr int Runs = 300;
// The inputs repeat every 60 runs (ways 5, rate 10, precision 4, phase 3); the first cycle
// warms up, the second sets the level that the last one must keep.
constexpr int Cycle = 60;

// The name of a band's file in a run with these settings.
std::string FileOf(const Band& band, char side, bool rate48, bool doubles) {
    return CoefficientFileName(band.word, side, rate48 ? "48" : "44",
                               CoefficientExtension(doubles));
}

// The names a run with these settings must leave in the project, sorted.
std::vector<std::string> ExpectedNames(int ways, bool rate48, bool doubles) {
    std::vector<std::string> names = {"TarnProject.ini"};
    for (const Band& band : BandsFor(ways))
        for (const char side : Sides)
            names.push_back(FileOf(band, side, rate48, doubles));
    std::sort(names.begin(), names.end());
    return names;
}

template <typename T> bool AllFinite(const std::vector<T>& values) {
    return std::all_of(values.begin(), values.end(), [](T v) { return std::isfinite(v); });
}

TEST(Soak, ThreeHundredCalculationsInOneProcess) {
#ifdef __GLIBC__
    // Each run designs its bands on threads of its own. Freed, their tables of a few MiB
    // would raise glibc's mmap threshold and stay behind in one arena or another, so that the
    // resident size after a run swings by several MiB from run to run. A fixed threshold
    // hands them back, and the resident size shows what the program holds.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    test::TempDir dir;
    ProjectPath = dir.Prefix();
    HeadlessWindow window;
    ScopedWindow scoped(window);
    const char* const usable[4] = {"80", "450,5", "2.5e3", "9000"};
    const char* const unusable[4] = {"", "0", "abc", "-5"};

    long baselineRss = 0;
    long finalRss = 0;
    int baselineFds = -1;
    for (int run = 0; run < Runs; ++run) {
        const int ways = 1 + run % 5;
        const bool rate48 = (run / 5) % 2 == 1;
        const bool doubles = (run / 2) % 2 == 0;
        window.radio48 = rate48;
        DoublePrecision = doubles;
        window.minimumPhase = run % 3 == 0;
        window.filterOrderText = std::to_string(1 + (run * 7) % 50);
        for (int f = 0; f < 4; ++f)
            window.fields[f] = f < ways - 1 ? usable[f] : unusable[(run + f) % 4];
        window.messages.clear();

        ASSERT_TRUE(RunHandler([] { XOButtonClick(); }))
            << "run " << run << ": " << window.errors.back();
        ASSERT_EQ(window.messages,
                  std::vector<std::string>{"Calculation " + std::to_string(ways) + "-way XO done"})
            << "run " << run;

        // Exactly this run's files: earlier runs' bands, rates and formats are gone, and
        // no temporary file is left.
        ASSERT_EQ(test::FileNames(dir.Path()), ExpectedNames(ways, rate48, doubles))
            << "run " << run;
        for (const Band& band : BandsFor(ways)) {
            const fs::path left = dir.Path() / FileOf(band, 'L', rate48, doubles);
            const fs::path right = dir.Path() / FileOf(band, 'R', rate48, doubles);
            ASSERT_EQ(fs::file_size(left), doubles ? 524288u : 262144u) << left;
            ASSERT_TRUE(test::ReadBytes(left) == test::ReadBytes(right)) << left;
            const bool finite =
                doubles ? AllFinite(test::ReadDoubles(left)) : AllFinite(test::ReadFloats(left));
            ASSERT_TRUE(finite) << "run " << run << " " << left;
        }

        const int fds = test::OpenDescriptors();
        const long rss = test::ResidentBytes();
        if (run == Cycle - 1) baselineFds = fds;
        if (run >= Cycle) {
            ASSERT_EQ(fds, baselineFds) << "open files grew at run " << run;
        }
        if (run >= Cycle && run < 2 * Cycle) baselineRss = std::max(baselineRss, rss);
        if (run >= Runs - Cycle) finalRss = std::max(finalRss, rss);
    }

    RecordProperty("baseline_rss_kib", static_cast<int>(baselineRss / 1024));
    RecordProperty("final_rss_kib", static_cast<int>(finalRss / 1024));
#ifdef TARN_ADDRESS_SANITIZER
    // The sanitizer holds freed memory back in its quarantine, so the resident size says
    // nothing about leaks there; its leak checker covers them instead.
    (void)baselineRss;
    (void)finalRss;
#else
    EXPECT_LE(finalRss, baselineRss + 1024 * 1024)
        << "resident memory grew from " << baselineRss / 1024 << " KiB to " << finalRss / 1024
        << " KiB";
#endif
}

} // namespace
} // namespace tarn
