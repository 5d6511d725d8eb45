// Frequency texts, band designs judged by their properties, coefficient files and the
// removal of stale ones.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <complex>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include <sys/resource.h>

#include "crossover/Bands.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// ---------------------------------------------------------------------------------------
// ParseFrequency

TEST(ParseFrequency, ReadsFieldTextsAsTheWindowJudgesThem) {
    EXPECT_EQ(ParseFrequency("1200"), 1200.0f);
    EXPECT_EQ(ParseFrequency("1,5"), 1.5f);
    EXPECT_EQ(ParseFrequency(" 80"), 80.0f);
    EXPECT_EQ(ParseFrequency("   +80"), 80.0f);
    EXPECT_EQ(ParseFrequency("80 "), -1.0f);
    EXPECT_EQ(ParseFrequency("\t80"), -1.0f);
    EXPECT_EQ(ParseFrequency(""), -1.0f);
    EXPECT_EQ(ParseFrequency("  -"), -1.0f);
    EXPECT_EQ(ParseFrequency("0"), -1.0f);
    EXPECT_EQ(ParseFrequency("-300"), -1.0f);
    EXPECT_EQ(ParseFrequency("abc"), -1.0f);
    EXPECT_EQ(ParseFrequency("1000 Hz"), -1.0f);
    EXPECT_EQ(ParseFrequency("100.1"), 100.1f);
    EXPECT_NE(static_cast<double>(ParseFrequency("100.1")), 100.1);
    EXPECT_EQ(ParseFrequency("1.000,5"), -1.0f);
    EXPECT_EQ(ParseFrequency("1,000,5"), -1.0f);
    EXPECT_EQ(ParseFrequency("3e3"), 3000.0f);
    EXPECT_EQ(ParseFrequency("3E+3"), 3000.0f);
    EXPECT_EQ(ParseFrequency("5."), 5.0f);
    EXPECT_EQ(ParseFrequency(".5"), 0.5f);
    EXPECT_EQ(ParseFrequency("."), -1.0f);
    EXPECT_EQ(ParseFrequency("1e"), -1.0f);
    EXPECT_EQ(ParseFrequency("inf"), -1.0f);
    EXPECT_EQ(ParseFrequency("nan"), -1.0f);
    EXPECT_EQ(ParseFrequency("0x10"), -1.0f);
    EXPECT_EQ(ParseFrequency("1e-50"), -1.0f);
    // A float too small to be normal is still a positive number.
    EXPECT_GT(ParseFrequency("1e-40"), 0.0f);
    EXPECT_EQ(ParseFrequency("3.4e38"), 3.4e38f);
}

TEST(ParseFrequency, NumbersBeyondAFloatOverflow) {
    for (const char* text : {"1e39", "-1e39", "340282357000000000000000000000000000001", "1e5000",
                             "1e999999999999999999999"}) {
        try {
            ParseFrequency(text);
            ADD_FAILURE() << text << " did not overflow";
        } catch (const FloatOverflowError& e) {
            EXPECT_STREQ(e.what(), "Floating point overflow");
        }
    }
    EXPECT_EQ(ParseFrequency("1e-99999999999999999"), -1.0f);
}

TEST(ParseFrequency, DoesNotDependOnTheLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "de_DE.UTF-8") && !std::setlocale(LC_ALL, "de_DE"))
        GTEST_SKIP() << "no German locale installed";
    EXPECT_EQ(ParseFrequency("1.5"), 1.5f);
    EXPECT_EQ(ParseFrequency("1,5"), 1.5f);
    std::setlocale(LC_ALL, previous.c_str());
}

TEST(ParseFrequency, HugeTextsAreJudgedCorrectly) {
    const std::string zeros(5'000'000, '0');
    EXPECT_EQ(ParseFrequency("1." + zeros), 1.0f);
    EXPECT_EQ(ParseFrequency(zeros + "440"), 440.0f);
    EXPECT_EQ(ParseFrequency("0." + zeros + "1"), -1.0f);
    EXPECT_EQ(ParseFrequency("0." + zeros + "1e5000005"), 1e4f);
    EXPECT_THROW(ParseFrequency("1" + zeros), FloatOverflowError);
    EXPECT_EQ(ParseFrequency(zeros + "x"), -1.0f);
    // Digits far beyond what a float can tell apart still decide the rounding.
    EXPECT_EQ(ParseFrequency("16777217." + zeros + "1"), 16777218.0f);
    EXPECT_EQ(ParseFrequency("16777217"), 16777216.0f);
}

// ---------------------------------------------------------------------------------------
// Band designs

constexpr std::int32_t N = 65536;
constexpr std::int32_t Centre = 32768;

// Magnitudes of bins 0..N/2 of the response in SpecRe (which is left as it was).
std::vector<double> Magnitudes() {
    const std::vector<double> samples(SpecRe.begin(), SpecRe.end());
    RealFFT();
    std::vector<double> m(N / 2 + 1);
    for (std::int32_t k = 0; k <= N / 2; ++k)
        m[k] = std::hypot(SpecRe[k], SpecIm[k]);
    std::copy(samples.begin(), samples.end(), SpecRe.begin());
    std::fill(SpecIm.begin(), SpecIm.end(), 0.0);
    return m;
}

double Sum(const std::vector<double>& v) {
    long double s = 0;
    for (double x : v)
        s += x;
    return static_cast<double>(s);
}

// The shape the designs promise: 1 / sqrt(1 + (f/fc)^(2n)).
double Shape(double f, double fc, int order) {
    return 1.0 / std::sqrt(1.0 + std::pow(f / fc, 2.0 * order));
}

class BandDesign : public ::testing::Test {
  protected:
    void SetUp() override {
        window.minimumPhase = false;
        SamplePeriod = 1.0 / 44100.0;
        AllocSpectrum(N);
    }
    void TearDown() override { FreeSpectrum(); }

    // The corner at bin k exactly, so the corner's magnitude can be read off one bin.
    static double BinCorner(std::int32_t k) { return k * 44100.0 / N; }

    HeadlessWindow window;
    ScopedWindow scoped{window};
};

TEST_F(BandDesign, LinearPhaseResponsesAreSymmetricAndPeakAtTheCentre) {
    for (int variant = 0; variant < 3; ++variant) {
        if (variant == 0) DesignLowPass(10, 500);
        if (variant == 1) DesignHighPass(10, 500);
        if (variant == 2) DesignBandPass(10, 500, 3000);
        std::int32_t peak = 0;
        for (std::int32_t i = 0; i < N; ++i) {
            if (std::abs(SpecRe[i]) > std::abs(SpecRe[peak])) peak = i;
            ASSERT_EQ(SpecIm[i], 0.0);
        }
        EXPECT_EQ(peak, Centre) << variant;
        double asymmetry = 0;
        for (std::int32_t m = 1; m < Centre; ++m)
            asymmetry = std::max(asymmetry, std::abs(SpecRe[Centre + m] - SpecRe[Centre - m]));
        EXPECT_LT(asymmetry, 1e-11) << variant;
    }
}

TEST_F(BandDesign, DcIsDesignedLikeEveryOtherBin) {
    // A low-pass passes DC: its taps add up to 1. The others hold DC at the floor.
    DesignLowPass(10, 80);
    EXPECT_NEAR(Sum(SpecRe), 1.0, 1e-12);
    DesignHighPass(10, 80);
    EXPECT_NEAR(Sum(SpecRe), 1e-6, 1e-12);
    DesignBandPass(10, 80, 500);
    EXPECT_NEAR(Sum(SpecRe), 1e-6, 1e-12);
}

TEST_F(BandDesign, LowPassPlusHighPassIsADelayedImpulse) {
    for (int order : {1, 4, 10, 50}) {
        DesignLowPass(order, 1000);
        const std::vector<double> low(SpecRe.begin(), SpecRe.end());
        DesignHighPass(order, 1000);
        double worst = 0;
        for (std::int32_t i = 0; i < N; ++i) {
            const double expected = i == Centre ? 1.0 : 0.0;
            worst = std::max(worst, std::abs(low[i] + SpecRe[i] - expected));
        }
        // Only the floor, where the high-pass would fall below it, disturbs the sum.
        EXPECT_LT(worst, 2e-6) << order;
    }
}

TEST_F(BandDesign, CornerMagnitudesAndTheComplement) {
    const std::int32_t k = 1000;
    for (int order : {1, 2, 10, 50}) {
        DesignLowPass(order, BinCorner(k));
        EXPECT_NEAR(Magnitudes()[k], std::sqrt(0.5), 1e-12) << order;
        DesignHighPass(order, BinCorner(k));
        // The complement of the low-pass, not the Butterworth high-pass (which gives 0.707).
        EXPECT_NEAR(Magnitudes()[k], 1 - std::sqrt(0.5), 1e-12) << order;
    }
}

TEST_F(BandDesign, MagnitudesFollowTheShapeDownToTheFloor) {
    for (int order : {1, 3, 10, 50}) {
        DesignLowPass(order, 2000);
        const auto low = Magnitudes();
        DesignBandPass(order, 300, 2000);
        const auto band = Magnitudes();
        for (std::int32_t k = 1; k <= N / 2; k += 97) {
            const double f = k * 44100.0 / N;
            const double expectedLow = std::max(Shape(f, 2000, order), 1e-6);
            EXPECT_NEAR(low[k], expectedLow, 1e-12 + 1e-9 * expectedLow) << order << " " << k;
            const double high = std::max(1 - Shape(f, 300, order), 1e-6);
            const double expectedBand = std::max(Shape(f, 2000, order) * high, 1e-6);
            EXPECT_NEAR(band[k], expectedBand, 1e-12 + 1e-9 * expectedBand) << order << " " << k;
        }
        // Far in the stop band of a steep filter every bin sits at the floor.
        if (order >= 10) {
            EXPECT_NEAR(low[N / 2], 1e-6, 1e-15) << order;
        }
    }
}

TEST_F(BandDesign, MinimumPhaseLowPassPassesTheBassAtUnityGain) {
    // With DC left out of the design, the cepstrum sees a hole at 0 Hz and lifts the whole
    // bass region by about 1 dB.
    window.minimumPhase = true;
    SamplePeriod = 1.0 / 48000.0;
    for (int order : {4, 10, 30}) {
        DesignLowPass(order, 80);
        const auto m = Magnitudes();
        for (std::int32_t k = 1; k * 48000.0 / N <= 40.0; ++k) {
            const double designed = Shape(k * 48000.0 / N, 80, order);
            ASSERT_NEAR(20 * std::log10(m[k] / designed), 0.0, 0.01) << order << " " << k;
        }
        EXPECT_NEAR(Sum(SpecRe), 1.0, 1e-6) << order;
    }
}

TEST_F(BandDesign, OrderFiftyStaysFinite) {
    SamplePeriod = 1.0 / 48000.0;
    DesignBandPass(50, 20, 20000);
    for (std::int32_t i = 0; i < N; ++i)
        ASSERT_TRUE(std::isfinite(SpecRe[i])) << i;
    const auto m = Magnitudes();
    const std::int32_t k = static_cast<std::int32_t>(1000.0 / 48000 * N);
    EXPECT_NEAR(m[k], 1.0, 1e-9);
}

TEST_F(BandDesign, BandPassWithCrossedEdgesIsBuiltAsAsked) {
    DesignBandPass(4, 3000, 500);
    const auto m = Magnitudes();
    for (std::int32_t k = 1; k <= N / 2; k += 211) {
        const double f = k * 44100.0 / N;
        const double high = std::max(1 - Shape(f, 3000, 4), 1e-6);
        const double expected = std::max(Shape(f, 500, 4) * high, 1e-6);
        EXPECT_NEAR(m[k], expected, 1e-12 + 1e-9 * expected) << k;
    }
}

TEST_F(BandDesign, CornerAboveNyquistKeepsEveryBinAboveTheCornerLevel) {
    DesignLowPass(10, 30000);
    const auto m = Magnitudes();
    for (std::int32_t k = 0; k <= N / 2; ++k)
        ASSERT_GT(m[k], std::sqrt(0.5) - 1e-12) << k;
}

TEST_F(BandDesign, OrdersBeyondTheSpinEditRangeDoNotHang) {
    // The spin edit reads whatever its text holds until it loses the focus.
    for (int order : {0, -3, 100000}) {
        DesignLowPass(order, 1000);
        for (std::int32_t i = 0; i < N; ++i)
            ASSERT_TRUE(std::isfinite(SpecRe[i])) << order;
    }
}

// ---------------------------------------------------------------------------------------
// Coefficient files

class CoefficientFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ProjectPath = dir.Prefix();
        DoublePrecision = true;
        AllocSpectrum(N);
        for (std::int32_t i = 0; i < N; ++i)
            SpecRe[i] = std::sin(0.001 * i) / (1.0 + i) + (i == 7 ? 1e-40 : 0.0);
    }
    void TearDown() override {
        FreeSpectrum();
        DoublePrecision = true;
    }

    // The code and message of the error that writing "XOLowL44" raises.
    std::pair<int, std::string> WriteError() {
        try {
            WriteCoefficients("XOLowL44");
        } catch (const InOutError& e) {
            return {e.Code(), e.what()};
        }
        return {0, ""};
    }

    TempDir dir;
};

TEST_F(CoefficientFiles, DoubleFilesHoldTheWorkspaceBitForBit) {
    WriteCoefficients("XOLowL44");
    const auto file = dir.Path() / "XOLowL44.dbl";
    ASSERT_EQ(fs::file_size(file), 524288u);
    const auto values = test::ReadDoubles(file);
    for (std::int32_t i = 0; i < N; ++i)
        ASSERT_EQ(std::memcmp(&values[i], &SpecRe[i], 8), 0) << i;
}

TEST_F(CoefficientFiles, SingleFilesHoldTheRoundedValues) {
    DoublePrecision = false;
    WriteCoefficients("XOLowL44");
    const auto file = dir.Path() / "XOLowL44.pcm";
    ASSERT_EQ(fs::file_size(file), 262144u);
    const auto values = test::ReadFloats(file);
    for (std::int32_t i = 0; i < N; ++i)
        ASSERT_EQ(values[i], static_cast<float>(SpecRe[i]));
    EXPECT_FALSE(fs::exists(dir.Path() / "XOLowL44.dbl"));
}

TEST_F(CoefficientFiles, AnExistingFileIsReplacedNotAppendedTo) {
    test::WriteText(dir.Path() / "XOLowL44.dbl", std::string(600000, 'x'));
    WriteCoefficients("XOLowL44");
    EXPECT_EQ(fs::file_size(dir.Path() / "XOLowL44.dbl"), 524288u);
    EXPECT_EQ(test::ReadDoubles(dir.Path() / "XOLowL44.dbl")[1], SpecRe[1]);
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"XOLowL44.dbl"});
}

TEST_F(CoefficientFiles, ReadOnlyTargetIsRefusedEvenForRoot) {
    const auto file = dir.Path() / "XOLowL44.dbl";
    test::WriteText(file, "old");
    fs::permissions(file, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    EXPECT_EQ(WriteError(), std::make_pair(5, std::string("File access denied")));
    EXPECT_EQ(test::ReadText(file), "old");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"XOLowL44.dbl"});
}

TEST_F(CoefficientFiles, MissingDirectoryIsAnInvalidFilename) {
    ProjectPath = dir.Prefix() + "gone" + PathSeparator;
    EXPECT_EQ(WriteError(), std::make_pair(3, std::string("Invalid filename")));
}

TEST_F(CoefficientFiles, DirectoryInThePlaceOfTheFileIsRefused) {
    fs::create_directory(dir.Path() / "XOLowL44.dbl");
    EXPECT_EQ(WriteError(), std::make_pair(5, std::string("File access denied")));
    EXPECT_TRUE(fs::is_directory(dir.Path() / "XOLowL44.dbl"));
    EXPECT_TRUE(test::FileNames(dir.Path()).empty());
}

TEST_F(CoefficientFiles, ShortWriteIsADiskFullAndLeavesNoPartialFile) {
    const auto file = dir.Path() / "XOLowL44.dbl";
    test::WriteText(file, "previous complete file");
    // A file-size limit makes the one write store only part of the record, as a full
    // disk would.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = previous;
    limited.rlim_cur = 100000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const auto error = WriteError();
    setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(error, std::make_pair(101, std::string("Disk full")));
    EXPECT_EQ(test::ReadText(file), "previous complete file");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"XOLowL44.dbl"});
}

TEST(InOutMessages, EverySystemErrorHasItsCode) {
    struct Case {
        int error;
        FileStep step;
        int code;
    };
    const std::vector<Case> cases = {
        {ENOENT, FileStep::Open, 3},
        {ENOENT, FileStep::Create, 3},
        {ENOENT, FileStep::Rename, 2},
        {ENOENT, FileStep::Sync, 2},
        {ENAMETOOLONG, FileStep::Open, 3},
        {ENOTDIR, FileStep::Create, 3},
        {EINVAL, FileStep::Rename, 3},
        {EMFILE, FileStep::Create, 4},
        {ENFILE, FileStep::Open, 4},
        {EACCES, FileStep::Create, 5},
        {EPERM, FileStep::Rename, 5},
        {EROFS, FileStep::Create, 5},
        {EISDIR, FileStep::Create, 5},
        {ENOSPC, FileStep::Write, 101},
        {EFBIG, FileStep::Write, 101},
        {EDQUOT, FileStep::Close, 101},
        {0, FileStep::Write, 101},
        {EIO, FileStep::Sync, 29},
        // Errors with another meaning whose numbers are those codes on Linux.
        {ESRCH, FileStep::Write, 1003},
        {ENETUNREACH, FileStep::Write, 1101},
        {ESPIPE, FileStep::Write, 1029},
        {ELOOP, FileStep::Open, 1040},
    };
    for (const Case& c : cases)
        EXPECT_EQ(InOutCode(AtomicFileError(c.step, c.error)), c.code) << c.error;
    EXPECT_STREQ(InOutError(1101).what(), "I/O error 1101");
}

TEST(InOutMessages, CodesAndTexts) {
    EXPECT_STREQ(InOutError(2).what(), "File not found");
    EXPECT_STREQ(InOutError(4).what(), "Too many open files");
    EXPECT_STREQ(InOutError(32).what(), "I/O error 32");
    EXPECT_EQ(InOutError(32).Code(), 32);
}

// ---------------------------------------------------------------------------------------
// The band table and file names

TEST(Bands, EveryNumberOfWaysHasItsBandsAndEdges) {
    using enum BandShape;
    struct Row {
        std::string word;
        BandShape shape;
        int lower, upper;
        bool operator==(const Row&) const = default;
    };
    const std::vector<std::vector<Row>> expected = {
        {{"", FullRange, -1, -1}},
        {{"Low", LowPass, -1, 0}, {"High", HighPass, 0, -1}},
        {{"Low", LowPass, -1, 0}, {"Mid", BandPass, 0, 1}, {"High", HighPass, 1, -1}},
        {{"Sub", LowPass, -1, 0},
         {"Low", BandPass, 0, 1},
         {"Mid", BandPass, 1, 2},
         {"High", HighPass, 2, -1}},
        {{"Sub", LowPass, -1, 0},
         {"Low", BandPass, 0, 1},
         {"LowMid", BandPass, 1, 2},
         {"Mid", BandPass, 2, 3},
         {"High", HighPass, 3, -1}},
    };
    for (int ways = 1; ways <= 5; ++ways) {
        std::vector<Row> rows;
        for (const Band& b : BandsFor(ways))
            rows.push_back({std::string(b.word), b.shape, b.lower, b.upper});
        EXPECT_TRUE(rows == expected[ways - 1]) << ways << " ways";
    }
    EXPECT_TRUE(BandsFor(0).empty());
    EXPECT_TRUE(BandsFor(6).empty());
}

TEST(Bands, FileNamesAndTheirRecognition) {
    EXPECT_EQ(CoefficientFileName("LowMid", 'L', "48", ".dbl"), "XOLowMidL48.dbl");
    EXPECT_EQ(CoefficientFileName("", 'R', "44"), "XOR44");
    EXPECT_EQ(TagOfRate(48000.0), "48");
    EXPECT_EQ(RateOfTag("44"), 44100.0);
    EXPECT_EQ(TagOfRate(176400.0), "176");
    EXPECT_EQ(RateOfTag("192"), 192000.0);
    EXPECT_EQ(TagOfRate(22050.0), "");
    EXPECT_EQ(RateOfTag("22"), 0.0);

    int recognised = 0;
    for (const char* band : {"", "Sub", "Low", "LowMid", "Mid", "High"})
        for (const char* side : {"L", "R"})
            for (const char* tail : {"44.dbl", "48.pcm", "88.wav", "96.dbl", "176.pcm", "192.wav"})
                recognised += IsCoefficientFileName(std::string("XO") + band + side + tail);
    EXPECT_EQ(recognised, 72);
    for (const char* other : {"XOLowL22.dbl", "xolowl44.dbl", "XOLowL44.flac", "XOLowL44",
                              "XOLowLL44.dbl", "XOTopL44.dbl", "XOL44.dbl.tmp", "TarnProject.ini"})
        EXPECT_FALSE(IsCoefficientFileName(other)) << other;
}

// ---------------------------------------------------------------------------------------
// Stale files

TEST(DeleteOutputs, RemovesEveryRateAndFormatButNothingElse) {
    TempDir dir;
    ProjectPath = dir.Prefix();
    const std::vector<std::string> stale = {
        "XOL44.dbl",      "XOR48.pcm",       "XOSubL44.pcm",    "XOSubR48.dbl", "XOLowL44.dbl",
        "XOLowR48.pcm",   "XOLowMidL48.dbl", "XOLowMidR44.pcm", "XOMidL44.dbl", "XOMidR48.dbl",
        "XOHighL48.pcm",  "XOHighR44.dbl",   "TestFilter.pcm",  "XOLowL44.wav", "XOLowL96.dbl",
        "XOHighR192.wav", "XOSubL176.pcm"};
    // Temporary files are a running calculation's: only one that holds the project's lock
    // may remove them (the driver's recovery).
    const std::vector<std::string> kept = {
        "TarnProject.ini", "XOLowL22.dbl", "XOLowL44.flac",
        "notes.txt",       "xolowl44.dbl", ".tarn-XOLowL44.dbl-0123456789ab.tmp"};
    for (const auto& name : stale)
        test::WriteText(dir.Path() / name, "x");
    for (const auto& name : kept)
        test::WriteText(dir.Path() / name, "x");
    fs::create_directory(dir.Path() / "XOHighL44.dbl");
    // A file marked read-only is protected, as on Windows.
    test::WriteText(dir.Path() / "XOMidL48.dbl", "x");
    fs::permissions(dir.Path() / "XOMidL48.dbl", fs::perms::owner_read);
    DeleteOutputs();
    auto expected = kept;
    expected.push_back("XOMidL48.dbl");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::FileNames(dir.Path()), expected);
    EXPECT_TRUE(fs::is_directory(dir.Path() / "XOHighL44.dbl"));
}

TEST(DeleteOutputs, MissingProjectDirectoryIsNoError) {
    TempDir dir;
    ProjectPath = dir.Prefix() + "gone" + PathSeparator;
    EXPECT_NO_THROW(DeleteOutputs());
}

} // namespace
} // namespace tarn
