// tarn-cli as a user runs it: a separate process, its exit status, its output and its files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "crossover/WavFile.h"
#include "project/IniFile.h"
#include "spectral/FastFourier.h"
#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

#ifndef TARN_CLI_PATH
#error "TARN_CLI_PATH must name the tarn-cli executable"
#endif

namespace tarn {
namespace {

namespace fs = std::filesystem;

using Result = test::ProcessResult;

class Cli : public ::testing::Test {
  protected:
    // Runs tarn-cli in the scratch directory with the given blank-separated arguments.
    Result Run(const std::string& arguments) {
        return test::RunWords(TARN_CLI_PATH, arguments, dir.Path());
    }

    std::string Stored(const std::string& key) {
        return IniFile(dir.Prefix() + "TarnProject.ini").ReadString("Crossover", key, "<none>");
    }

    test::TempDir dir;
};

TEST_F(Cli, FiveWayLinearDesignWritesTenFilesAndTheSettings) {
    const Result r = Run("--rate 48000 --phase linear 80 500 3000 8000");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Calculation 5-way XO done\n");
    EXPECT_EQ(r.err,
              "written: XOSubL48.dbl, XOSubR48.dbl\nwritten: XOLowL48.dbl, XOLowR48.dbl\n"
              "written: XOLowMidL48.dbl, XOLowMidR48.dbl\nwritten: XOMidL48.dbl, XOMidR48.dbl\n"
              "written: XOHighL48.dbl, XOHighR48.dbl\n");
    const auto names = test::FileNames(dir.Path());
    EXPECT_EQ(names.size(), 11u);
    for (const auto& name : names)
        if (name != "TarnProject.ini") {
            EXPECT_EQ(fs::file_size(dir.Path() / name), 524288u) << name;
        }
    EXPECT_EQ(Stored("Frequency4"), "8000");
    EXPECT_EQ(Stored("FilterOrder"), "10");
    EXPECT_EQ(Stored("X-way-system"), "5");
}

TEST_F(Cli, WithoutFrequenciesTheStoredDesignIsRecomputed) {
    test::WriteText(dir.Path() / "TarnProject.ini",
                    "[Crossover]\r\nFrequency1=1,5e2\r\nFrequency2=\r\nFrequency3=900\r\n"
                    "FilterOrder=77\r\n");
    const Result r = Run("--phase linear --precision 32");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Calculation 2-way XO done\n");
    EXPECT_EQ(Stored("Frequency1"), "1,5e2");
    EXPECT_EQ(Stored("Frequency3"), "900"); // kept, as the window keeps what it showed
    EXPECT_EQ(Stored("FilterOrder"), "50"); // shown limited to the spin edit's range
    EXPECT_EQ(fs::file_size(dir.Path() / "XOHighR44.pcm"), 262144u);
}

TEST_F(Cli, WithoutAnySettingsItIsAOneWayRun) {
    const Result r = Run("--phase linear");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Calculation 1-way XO done\n");
    EXPECT_EQ(test::ReadDoubles(dir.Path() / "XOL44.dbl")[0], 1.0);
}

TEST_F(Cli, OrderTextsReadAsTheSpinEditReadsThem) {
    Run("--phase linear --order abc 500");
    EXPECT_EQ(Stored("FilterOrder"), "1");
    Run("--phase linear --order 0x20 500");
    EXPECT_EQ(Stored("FilterOrder"), "32");
    Run("--phase linear --order -4 500");
    EXPECT_EQ(Stored("FilterOrder"), "1");
}

TEST_F(Cli, ErrorsEndTheRunWithStatusOneAndTheErrorBoxText) {
    Result r = Run("--phase linear 500 1e39");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Floating point overflow.\n");
    EXPECT_EQ(r.out, "");

    r = Run("--project gone --phase linear 500");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "In " + dir.Prefix() + "gone/TarnProject.ini kann nicht geschrieben werden.\n");
    EXPECT_FALSE(fs::exists(dir.Path() / "gone"));

    test::WriteText(dir.Path() / "XOHighL44.dbl", "mine");
    fs::permissions(dir.Path() / "XOHighL44.dbl", fs::perms::owner_read);
    r = Run("--phase linear 500");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File access denied.\n");
    EXPECT_TRUE(test::ReadText(dir.Path() / "XOHighL44.dbl") == "mine");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"XOHighL44.dbl"});
}

TEST_F(Cli, StoredSettingsThatAreNotTextAreAnErrorNotAnAbort) {
    const std::string utf16("\xFF\xFE[\0C\0]\0", 8);
    test::WriteText(dir.Path() / "TarnProject.ini", utf16);
    const Result r = Run("--phase linear");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot read " + dir.Prefix() + "TarnProject.ini: it is not a text file.\n");
    EXPECT_EQ(test::ReadText(dir.Path() / "TarnProject.ini"), utf16);
}

TEST_F(Cli, NoFailureAbortsTheProcess) {
    ASSERT_EQ(Run("--phase linear 80 500 3000 8000").status, 0);
    const fs::path gone = dir.Path() / "gone";
    fs::create_directory(gone);
    const auto removeWorkingDirectory = [&] { fs::remove(gone); };
    const auto closedStdout = [] {
        const int full = ::open("/dev/full", O_WRONLY);
        ::dup2(full, 1);
    };
    const auto closedStderrPipe = [] {
        int ends[2];
        if (::pipe(ends) != 0) return;
        ::close(ends[0]); // nobody reads: the first progress line raises SIGPIPE
        ::dup2(ends[1], 2);
    };
    const auto littleMemory = [] {
        const rlimit limit{20 << 20, 20 << 20};
        ::setrlimit(RLIMIT_AS, &limit);
    };
    struct Case {
        const char* what;
        std::vector<std::string> args;
        fs::path cwd;
        std::function<void()> inChild;
        int status;
    };
    std::vector<Case> cases = {
        {"empty project name", {"--project", "", "500"}, dir.Path(), {}, 1},
        {"empty project name, report", {"report", "--project", ""}, dir.Path(), {}, 1},
        {"deleted working directory", {"500"}, gone, removeWorkingDirectory, 1},
        {"deleted working directory, report", {"report"}, gone, removeWorkingDirectory, 1},
        {"report to a full disk", {"report"}, dir.Path(), closedStdout, 1},
        {"progress into a closed pipe",
         {"--phase", "linear", "80", "500"},
         dir.Path(),
         closedStderrPipe,
         0},
    };
#ifndef TARN_ADDRESS_SANITIZER
    cases.push_back({"report without memory", {"report"}, dir.Path(), littleMemory, 1});
#endif
    for (const Case& c : cases) {
        std::vector<std::string> argv{TARN_CLI_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        if (c.cwd == gone) fs::create_directory(gone);
        const Result r = test::RunProcess(argv, c.cwd, {}, c.inChild);
        EXPECT_EQ(r.signal, 0) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        if (c.status != 0) {
            EXPECT_NE(r.err, "") << c.what;
        }
    }
    // The run whose progress went nowhere still wrote its whole set.
    EXPECT_EQ(fs::file_size(dir.Path() / "XOHighR44.dbl"), 524288u);
    EXPECT_FALSE(fs::exists(dir.Path() / "XOSubL44.dbl"));
}

// The largest deviation [dB] from flat of the sum of the given taps, over the bins of
// 20 Hz..20 kHz of a 2^18-point transform.
double SumDeviationDb(const std::vector<std::vector<double>>& bands, double rate) {
    AllocSpectrum(1 << 18);
    for (const auto& band : bands)
        for (std::size_t i = 0; i < band.size(); ++i)
            SpecRe[i] += band[i];
    RealFFT();
    double worst = 0.0;
    for (std::int32_t k = 1; k <= SpecLength / 2; ++k) {
        const double f = k * rate / SpecLength;
        if (f < 20.0 || f > 20000.0) continue;
        const double db = 10.0 * std::log10(SpecRe[k] * SpecRe[k] + SpecIm[k] * SpecIm[k]);
        if (std::abs(db) > std::abs(worst)) worst = db;
    }
    FreeSpectrum();
    return worst;
}

TEST_F(Cli, LinkwitzRileyMinimumPhaseSetSumsFlat) {
    const std::string bands[] = {"Sub", "Low", "LowMid", "Mid", "High"};
    for (const char* alignment : {"lr", "tarn"}) {
        const Result r = Run(std::string("--alignment ") + alignment +
                             " --rate 48000 --order 4 80 500 3000 8000");
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<std::vector<double>> taps;
        for (const std::string& band : bands)
            taps.push_back(test::ReadDoubles(dir.Path() / ("XO" + band + "L48.dbl")));
        const double deviation = SumDeviationDb(taps, 48000.0);
        if (std::string(alignment) == "lr")
            EXPECT_LE(std::abs(deviation), 0.01) << deviation;
        else
            EXPECT_GT(std::abs(deviation), 3.0) << deviation; // the original shapes dip
    }
    EXPECT_EQ(Stored("Alignment"), "Tarn");
}

TEST_F(Cli, LevelDelayAndPolarityAreBakedIntoTheFiles) {
    ASSERT_EQ(Run("--phase linear --rate 48000 80 500 3000 8000").status, 0);
    const auto plain = test::Contents(dir.Path());
    const Result r = Run("--phase linear --rate 48000 --level High=-6 --delay High=0.5 "
                         "--invert Mid 80 500 3000 8000");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto doubles = [](const std::vector<unsigned char>& bytes) {
        std::vector<double> v(bytes.size() / 8);
        std::memcpy(v.data(), bytes.data(), bytes.size());
        return v;
    };
    for (const char* band : {"Sub", "Low", "LowMid"})
        EXPECT_TRUE(test::ReadBytes(dir.Path() / ("XO" + std::string(band) + "L48.dbl")) ==
                    plain.at("XO" + std::string(band) + "L48.dbl"))
            << band;
    const std::vector<double> mid = test::ReadDoubles(dir.Path() / "XOMidR48.dbl");
    const std::vector<double> plainMid = doubles(plain.at("XOMidR48.dbl"));
    for (std::size_t i = 0; i < mid.size(); ++i)
        ASSERT_EQ(mid[i], -plainMid[i]) << i;
    const std::vector<double> high = test::ReadDoubles(dir.Path() / "XOHighL48.dbl");
    const std::vector<double> plainHigh = doubles(plain.at("XOHighL48.dbl"));
    const double gain = std::pow(10.0, -6.0 / 20.0);
    for (std::size_t i = 0; i < 24; ++i)
        ASSERT_EQ(high[i], 0.0) << i;
    for (std::size_t i = 24; i < high.size(); ++i)
        ASSERT_NEAR(high[i], plainHigh[i - 24] * gain, 1e-15) << i;
    EXPECT_EQ(IniFile(dir.Prefix() + "TarnProject.ini").ReadString("Bands", "HighDelay", ""),
              "0.5");
    EXPECT_EQ(IniFile(dir.Prefix() + "TarnProject.ini").ReadString("Bands", "MidInvert", ""), "1");

    // Without arguments the stored design, trims included, is computed again: the same files.
    const auto trimmed = test::Contents(dir.Path());
    ASSERT_EQ(Run("").status, 0);
    EXPECT_TRUE(test::Contents(dir.Path()) == trimmed);
}

TEST_F(Cli, EveryRateAndWav) {
    Result r = Run("--rate all --format wav 80 500 3000 8000");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> wavs;
    for (const auto& name : test::FileNames(dir.Path()))
        if (name.ends_with(".wav")) wavs.push_back(name);
    EXPECT_EQ(wavs.size(), 60u);
    for (const auto& [tag, rate] : {std::pair{"44", 44100}, std::pair{"192", 192000}}) {
        const WavContents w = ReadWav(dir.Path() / ("XOHighR" + std::string(tag) + ".wav"));
        EXPECT_EQ(w.sampleRate, rate);
        EXPECT_EQ(w.channels, 1);
        EXPECT_TRUE(w.doublePrecision);
        EXPECT_EQ(w.samples.size(), 65536u);
    }
    EXPECT_EQ(Stored("SampleRate"), "all");

    // A raw set at one more rate replaces the WAV sets: one design per project.
    r = Run("--rate 96000 --format raw 80 500 3000 8000");
    ASSERT_EQ(r.status, 0) << r.err;
    const auto names = test::FileNames(dir.Path());
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.ends_with("96.dbl"); }),
              10);
    EXPECT_EQ(std::count_if(names.begin(), names.end(),
                            [](const std::string& n) { return n.ends_with(".wav"); }),
              0);

    // The same taps as WAV and as raw, at 32 bits too.
    ASSERT_EQ(Run("--rate 96000 --format wav --precision 32 500").status, 0);
    const std::vector<double> fromWav = ReadWav(dir.Path() / "XOLowL96.wav").samples;
    ASSERT_EQ(Run("--rate 96000 --format raw --precision 32 500").status, 0);
    const std::vector<float> raw = test::ReadFloats(dir.Path() / "XOLowL96.pcm");
    ASSERT_EQ(fromWav.size(), raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i)
        ASSERT_EQ(fromWav[i], static_cast<double>(raw[i])) << i;
}

TEST_F(Cli, ShorterFiltersAndWhatTheyCost) {
    Result r = Run("--phase linear --taps 8192 --rate 48000 500 3000");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<double> mid = test::ReadDoubles(dir.Path() / "XOMidL48.dbl");
    ASSERT_EQ(mid.size(), 8192u);
    EXPECT_EQ(std::max_element(mid.begin(), mid.end()) - mid.begin(), 4096); // 85.3 ms
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;

    r = Run("--phase linear --taps 2048 --rate 48000 80 500");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("2048 taps are too few"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("The Low band departs"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("7649 taps keep it within 0.1 dB"), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadDoubles(dir.Path() / "XOHighR48.dbl").size(), 2048u);
}

TEST_F(Cli, WrongUsageIsStatusTwo) {
    for (const char* arguments :
         {"--rate 22050", "--phase mixed", "--precision 16", "1 2 3 4 5", "--unknown"}) {
        const Result r = Run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_NE(r.err, "") << arguments;
        EXPECT_TRUE(test::FileNames(dir.Path()).empty()) << arguments;
    }
}

} // namespace
} // namespace tarn
