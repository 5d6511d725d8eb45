// Reading coefficient files back and analysing them: the real transform, responses with
// known answers, designed bands, a whole run through the driver, and the report table.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "analysis/CoefficientSet.h"
#include "analysis/RealTransform.h"
#include "analysis/Response.h"
#include "analysis/SetReport.h"
#include "crossover/BandTrim.h"
#include "crossover/LinkwitzRiley.h"
#include "crossover/Shorten.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "crossover/WavFile.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"
#include "tests/DirectDft.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

std::vector<double> Impulse(int at, int length = CoefficientCount) {
    std::vector<double> taps(length, 0.0);
    taps[at] = 1.0;
    return taps;
}

// Where a Butterworth-type low-pass 1 / sqrt(1 + (f/fc)^(2n)) is `drop` dB down.
double LowPassEdge(double fc, int order, double drop) {
    return fc * std::pow(std::pow(10.0, drop / 10) - 1, 1.0 / (2 * order));
}

// Where its complement 1 - L(f), the high-pass of the designs, is `drop` dB below 1.
double HighPassEdge(double fc, int order, double drop) {
    const double low = 1 - std::pow(10.0, -drop / 20);
    return fc * std::pow(1 / (low * low) - 1, 1.0 / (2 * order));
}

// ---------------------------------------------------------------------------------------
// The transform

TEST(RealTransform, MatchesADirectTransformOfTheZeroPaddedInput) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> value(-1, 1);
    for (std::size_t size : {4u, 8u, 64u, 512u})
        for (std::size_t count : {size, size / 2 + 1, std::size_t{1}}) {
            std::vector<double> x(count);
            for (double& v : x)
                v = value(random);
            RealTransform transform(size);
            const std::vector<std::complex<double>> bins = transform.Forward(x);
            ASSERT_EQ(bins.size(), size / 2 + 1);
            const std::vector<test::LongComplex> expected =
                test::DirectDft({x.begin(), x.end()}, -1, size);
            for (std::size_t k = 0; k <= size / 2; ++k) {
                const long double re = expected[k].real(), im = expected[k].imag();
                EXPECT_NEAR(bins[k].real(), static_cast<double>(re), 1e-12)
                    << size << " " << count << " bin " << k;
                EXPECT_NEAR(bins[k].imag(), static_cast<double>(im), 1e-12)
                    << size << " " << count << " bin " << k;
            }
        }
    EXPECT_THROW(RealTransform(6), std::invalid_argument);
    RealTransform small(8);
    EXPECT_THROW(small.Forward(std::vector<double>(9)), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------
// Responses with known answers

TEST(Response, UnitImpulseIsFlatAtZeroDecibelsWithZeroDelay) {
    const ResponseAnalysis a = AnalyseResponses({{"XOL44.dbl", "Full range", Impulse(0)}}, 44100);
    ASSERT_EQ(a.bands.size(), 1u);
    const BandResponse& band = a.bands[0];
    ASSERT_EQ(band.magnitudeDb.size(), a.frequencies.size());
    EXPECT_DOUBLE_EQ(a.frequencies.front(), 10.0);
    EXPECT_DOUBLE_EQ(a.frequencies.back(), 22050.0);
    for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
        EXPECT_NEAR(band.magnitudeDb[i], 0.0, 1e-9) << a.frequencies[i];
        EXPECT_NEAR(band.groupDelayMs[i], 0.0, 1e-9) << a.frequencies[i];
        EXPECT_NEAR(a.sum.magnitudeDb[i], 0.0, 1e-9) << a.frequencies[i];
    }
    EXPECT_EQ(band.peakSample, 0);
    EXPECT_EQ(band.peakDelayMs, 0.0);
    EXPECT_FALSE(band.minus3.lower || band.minus3.upper || band.minus6.lower || band.minus6.upper);
    EXPECT_NEAR(a.deviationDb, 0.0, 1e-9);
    // The step of a pass-through is a step.
    EXPECT_EQ(a.step.front(), 1.0);
    EXPECT_EQ(a.step.back(), 1.0);
    EXPECT_EQ(a.firstSample, 0);
}

TEST(Response, DelayedImpulseShowsItsDelayAtEveryFrequency) {
    // Up to nearly the whole response length: a delay of 65535 samples turns the phase by
    // almost pi/2 from one bin to the next, and by thousands of turns across the band.
    for (int delay : {1, 100, 32768, 65535}) {
        const ResponseAnalysis a = AnalyseResponses({{"d", "d", Impulse(delay)}}, 48000);
        const double expected = 1000.0 * delay / 48000;
        const BandResponse& band = a.bands[0];
        for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
            ASSERT_NEAR(band.groupDelayMs[i], expected, 1e-6) << delay << " " << a.frequencies[i];
            ASSERT_NEAR(band.magnitudeDb[i], 0.0, 1e-9) << delay << " " << a.frequencies[i];
        }
        EXPECT_EQ(band.peakSample, delay);
        EXPECT_DOUBLE_EQ(band.peakDelayMs, expected);
        EXPECT_LE(a.firstSample, delay);
        EXPECT_GE(a.lastSample, delay);
        EXPECT_EQ(a.step[delay - 1], 0.0);
        EXPECT_EQ(a.step[delay], 1.0);
    }
}

TEST(Response, GainAndSumOfBandsAreComplex) {
    // Two half-size impulses one sample apart: each is -6.02 dB, their sum a comb whose
    // notch at fs/2 a sum of magnitudes would hide.
    std::vector<double> first = Impulse(0), second = Impulse(1);
    first[0] = second[1] = 0.5;
    const ResponseAnalysis a = AnalyseResponses({{"a", "A", first}, {"b", "B", second}}, 44100);
    EXPECT_NEAR(a.MagnitudeDbAt(a.bands[0], 1000), 20 * std::log10(0.5), 1e-9);
    // |0.5 + 0.5 exp(-i w)| = |cos(w/2)|
    for (double f : {20.0, 5000.0, 11025.0, 20000.0}) {
        const double w = 2 * M_PI * f / 44100;
        EXPECT_NEAR(a.MagnitudeDbAt(a.sum, f), 20 * std::log10(std::cos(w / 2)), 1e-6) << f;
    }
    EXPECT_NEAR(a.deviationHz, 20000, a.BinHz());
    EXPECT_NEAR(a.deviationDb, 20 * std::log10(std::cos(M_PI * 20000 / 44100)), 1e-3);
    EXPECT_EQ(a.sum.impulse[0], 0.5);
    EXPECT_EQ(a.sum.impulse[1], 0.5);
}

// ---------------------------------------------------------------------------------------
// Designed bands

class DesignedBands : public ::testing::Test {
  protected:
    void SetUp() override {
        window.minimumPhase = false;
        SamplePeriod = 1.0 / 44100.0;
        AllocSpectrum(CoefficientCount);
    }
    void TearDown() override { FreeSpectrum(); }

    std::vector<double> Taps() const { return {SpecRe.begin(), SpecRe.end()}; }

    HeadlessWindow window;
    ScopedWindow scoped{window};
};

TEST_F(DesignedBands, LinearPhaseLowPassIsThreeDecibelsDownAtItsCornerWithItsPeakInTheMiddle) {
    DesignLowPass(10, 1000);
    const ResponseAnalysis a = AnalyseResponses({{"lp", "Low", Taps()}}, 44100);
    const BandResponse& lp = a.bands[0];
    EXPECT_NEAR(a.MagnitudeDbAt(lp, 1000), -3.0103, 0.002);
    EXPECT_NEAR(lp.maxDb, 0.0, 1e-6);
    EXPECT_EQ(lp.peakSample, 32768);
    EXPECT_NEAR(lp.peakDelayMs, 743.039, 0.001);
    EXPECT_FALSE(lp.minus3.lower);
    ASSERT_TRUE(lp.minus3.upper && lp.minus6.upper);
    EXPECT_NEAR(*lp.minus3.upper, LowPassEdge(1000, 10, 3), 0.2);
    EXPECT_NEAR(*lp.minus6.upper, LowPassEdge(1000, 10, 6), 0.2);
    // Linear phase: the same delay wherever the band passes, nothing where it does not.
    for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
        if (a.frequencies[i] < 1000) {
            EXPECT_NEAR(lp.groupDelayMs[i], 1000.0 * 32768 / 44100, 1e-6) << a.frequencies[i];
        }
        if (a.frequencies[i] > 2000) {
            EXPECT_TRUE(std::isnan(lp.groupDelayMs[i])) << a.frequencies[i];
        }
    }
    // The energy lies around the middle sample, within a few milliseconds of it.
    EXPECT_LT(a.firstSample, 32768);
    EXPECT_GT(a.firstSample, 32768 - 44100 / 10);
    EXPECT_GT(a.lastSample, 32768);
    EXPECT_LT(a.lastSample, 32768 + 44100 / 10);
}

TEST_F(DesignedBands, LinearPhaseLowAndHighPassOfOneCornerSumFlat) {
    DesignLowPass(10, 2000);
    const std::vector<double> low = Taps();
    DesignHighPass(10, 2000);
    const ResponseAnalysis a =
        AnalyseResponses({{"lp", "Low", low}, {"hp", "High", Taps()}}, 44100);
    EXPECT_LT(std::abs(a.deviationDb), 0.001);
    for (std::size_t i = 0; i < a.frequencies.size(); ++i)
        EXPECT_LT(std::abs(a.sum.magnitudeDb[i]), 0.001) << a.frequencies[i];
    // The high-pass, the complement of the low-pass, has only a lower edge.
    const BandResponse& hp = a.bands[1];
    ASSERT_TRUE(hp.minus3.lower && hp.minus6.lower);
    EXPECT_FALSE(hp.minus3.upper || hp.minus6.upper);
    EXPECT_NEAR(*hp.minus3.lower, HighPassEdge(2000, 10, 3), 0.3);
    EXPECT_NEAR(*hp.minus6.lower, HighPassEdge(2000, 10, 6), 0.3);
    EXPECT_EQ(a.sum.peakSample, 32768);
    // The sum is a delayed unit impulse: its step rises from 0 to 1 at the middle.
    EXPECT_NEAR(a.step[32000], 0.0, 1e-3);
    EXPECT_NEAR(a.step[33500], 1.0, 1e-3);
}

TEST_F(DesignedBands, BandPassHasBothEdges) {
    DesignBandPass(10, 500, 4000);
    const ResponseAnalysis a = AnalyseResponses({{"bp", "Mid", Taps()}}, 44100);
    const BandResponse& bp = a.bands[0];
    ASSERT_TRUE(bp.minus3.lower && bp.minus3.upper && bp.minus6.lower && bp.minus6.upper);
    EXPECT_NEAR(*bp.minus3.lower, HighPassEdge(500, 10, 3), 0.5);
    EXPECT_NEAR(*bp.minus3.upper, LowPassEdge(4000, 10, 3), 0.5);
    EXPECT_LT(*bp.minus6.lower, *bp.minus3.lower);
    EXPECT_GT(*bp.minus6.upper, *bp.minus3.upper);
}

TEST_F(DesignedBands, MinimumPhaseKeepsTheEdgesAndMovesThePeakToTheStart) {
    window.minimumPhase = true;
    DesignLowPass(10, 1000);
    const ResponseAnalysis a = AnalyseResponses({{"lp", "Low", Taps()}}, 44100);
    const BandResponse& lp = a.bands[0];
    ASSERT_TRUE(lp.minus3.upper);
    EXPECT_NEAR(*lp.minus3.upper, LowPassEdge(1000, 10, 3), 1.0);
    EXPECT_LT(lp.peakSample, 441); // within 10 ms
    EXPECT_EQ(a.firstSample, 0);
    EXPECT_LT(a.lastSample, 44100 / 5);
    // A minimum-phase low-pass delays most near its corner.
    EXPECT_GT(a.GroupDelayMsAt(lp, 950), a.GroupDelayMsAt(lp, 100));
    EXPECT_GT(a.GroupDelayMsAt(lp, 100), 0.0);
}

// ---------------------------------------------------------------------------------------
// A whole run, from the driver's files to the table

class RunRead : public ::testing::Test {
  protected:
    void SetUp() override {
        ProjectPath = dir.Prefix();
        DoublePrecision = true;
        window.fields[0] = "1000";
    }

    void Run() {
        ASSERT_TRUE(RunHandler([] { XOButtonClick(); })) << window.errors.front();
    }

    test::TempDir dir;
    HeadlessWindow window;
    ScopedWindow scoped{window};
};

TEST_F(RunRead, TwoWayLinearPhaseTable) {
    window.minimumPhase = false;
    Run();
    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir.Path());
    ASSERT_EQ(sets.size(), 1u);
    const CoefficientSet& set = sets[0];
    EXPECT_EQ(set.rateTag, "44");
    EXPECT_TRUE(set.doublePrecision);
    EXPECT_EQ(set.bands, (std::vector<std::string>{"Low", "High"}));
    EXPECT_EQ(set.files[0], dir.Path() / "XOLowL44.dbl");
    EXPECT_EQ(set.files[1], dir.Path() / "XOHighL44.dbl");
    EXPECT_EQ(set.Pattern(), "XO*L44.dbl");
    EXPECT_EQ(set.Description(), "44100 Hz, 64-bit .dbl, 2 bands");

    const ResponseAnalysis a = AnalyseSet(set);
    const auto rows = TableRows(a);
    ASSERT_EQ(rows.size(), 3u);
    auto hz = [](double f) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", f);
        return std::string(text);
    };
    EXPECT_EQ(rows[0], (std::vector<std::string>{"XOLowL44.dbl", "32768", "743.039", "-",
                                                 hz(LowPassEdge(1000, 10, 3)), "-",
                                                 hz(LowPassEdge(1000, 10, 6)), "", ""}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{"XOHighL44.dbl", "32768", "743.039",
                                                 hz(HighPassEdge(1000, 10, 3)), "-",
                                                 hz(HighPassEdge(1000, 10, 6)), "-", "", ""}));
    EXPECT_EQ(rows[2][0], "Sum");
    EXPECT_EQ(rows[2][1], "32768");
    EXPECT_EQ(rows[2][7], "0.0000");
    EXPECT_EQ(TableHeadings().size(), rows[0].size());
}

TEST_F(RunRead, TwoWayMinimumPhaseBandsDoNotSumFlat) {
    window.minimumPhase = true;
    DoublePrecision = false;
    Run();
    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir.Path());
    ASSERT_EQ(sets.size(), 1u);
    EXPECT_FALSE(sets[0].doublePrecision);
    const ResponseAnalysis a = AnalyseSet(sets[0]);
    // Same magnitudes as in linear phase (to the rounding of 32-bit files)...
    ASSERT_TRUE(a.bands[0].minus3.upper);
    EXPECT_NEAR(*a.bands[0].minus3.upper, LowPassEdge(1000, 10, 3), 1.0);
    // ...but with different phases the complex sum dips around the crossover.
    EXPECT_LT(a.deviationDb, -1.0);
    EXPECT_GT(a.deviationHz, 500);
    EXPECT_LT(a.deviationHz, 2000);
    EXPECT_LT(a.bands[0].peakSample, 441);
    EXPECT_LT(a.bands[1].peakSample, 441);
}

TEST_F(RunRead, TableTextAlignsItsColumns) {
    window.minimumPhase = false;
    Run();
    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir.Path());
    ASSERT_EQ(sets.size(), 1u);
    const ResponseAnalysis a = AnalyseSet(sets[0]);
    const std::string text = FormatTable(a);
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(text.substr(at, end - at));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("File", 0), 0u);
    EXPECT_EQ(lines[1].rfind("XOLowL44.dbl ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("Sum ", 0), 0u);
    // Figures end where their heading ends.
    const std::size_t delayEnd = lines[0].find("Delay ms") + 8;
    for (int row = 1; row <= 3; ++row)
        EXPECT_EQ(lines[row].find("743.039") + 7, delayEnd) << lines[row];
    const std::size_t lastEnd = lines[0].size();
    EXPECT_EQ(lines[3].size(), lastEnd); // the sum fills the last column
    EXPECT_LT(lines[1].size(), lastEnd); // a band leaves it empty, without trailing blanks

    const std::string report = ReportText(sets[0], sets, a);
    EXPECT_EQ(report.rfind("XO*L44.dbl in " + dir.Path().string() +
                               ": 44100 Hz, 64-bit .dbl, 2 bands\n\n",
                           0),
              0u);
    EXPECT_NE(report.find(text), std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Finding and reading files

void WriteDoubles(const fs::path& file, const std::vector<double>& values) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(values.data()),
              static_cast<std::streamsize>(values.size() * sizeof(double)));
}

TEST(CoefficientFiles, SetsAreFoundByNameNewestFirst) {
    test::TempDir dir;
    const std::vector<double> taps = Impulse(0);
    for (const char* name : {"XOHighL48.pcm", "XOSubL48.pcm", "XOMidL48.pcm", "XOLowL48.pcm",
                             "XOSubR48.pcm", "XOLowL44.dbl", "XOHighL44.dbl", "XOL44.pcm",
                             "XOFooL44.dbl", "XOLowL46.dbl", "xolowl44.dbl", "XOLowL44.dbl.bak"})
        test::WriteText(dir.Path() / name, "not read while finding");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(dir.Path() / "XOLowL44.dbl", now - std::chrono::hours(2));
    fs::last_write_time(dir.Path() / "XOHighL44.dbl", now - std::chrono::hours(1));
    fs::last_write_time(dir.Path() / "XOL44.pcm", now - std::chrono::hours(3));
    for (const char* name : {"XOHighL48.pcm", "XOSubL48.pcm", "XOMidL48.pcm", "XOLowL48.pcm"})
        fs::last_write_time(dir.Path() / name, now - std::chrono::minutes(30));

    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir.Path());
    ASSERT_EQ(sets.size(), 3u);
    EXPECT_EQ(sets[0].Pattern(), "XO*L48.pcm");
    EXPECT_EQ(sets[0].bands, (std::vector<std::string>{"Sub", "Low", "Mid", "High"}));
    EXPECT_EQ(sets[0].SampleRate(), 48000.0);
    EXPECT_EQ(sets[0].Description(), "48000 Hz, 32-bit .pcm, 4 bands");
    // A set is as new as its newest file.
    EXPECT_EQ(sets[1].Pattern(), "XO*L44.dbl");
    EXPECT_EQ(sets[1].bands, (std::vector<std::string>{"Low", "High"}));
    EXPECT_EQ(sets[2].Pattern(), "XO*L44.pcm");
    EXPECT_EQ(sets[2].bands, (std::vector<std::string>{""}));
    EXPECT_EQ(sets[2].Description(), "44100 Hz, 32-bit .pcm, 1 band");
    EXPECT_EQ(BandTitle(""), "Full range");

    EXPECT_TRUE(FindCoefficientSets(dir.Path() / "missing").empty());
}

TEST(CoefficientFiles, ReadsBothPrecisionsLittleEndian) {
    test::TempDir dir;
    std::vector<double> values(CoefficientCount);
    for (int i = 0; i < CoefficientCount; ++i)
        values[i] = std::ldexp(i - 30000, -7);
    WriteDoubles(dir.Path() / "XOLowL44.dbl", values);
    EXPECT_EQ(ReadCoefficientFile(dir.Path() / "XOLowL44.dbl"), values);

    // Bytes of a 32-bit file: -1.5f is 0xBFC00000, stored lowest byte first.
    std::string bytes(SingleFileSize, '\0');
    const unsigned char minusOneAndHalf[4] = {0x00, 0x00, 0xC0, 0xBF};
    std::memcpy(bytes.data() + 4 * 7, minusOneAndHalf, 4);
    test::WriteText(dir.Path() / "XOLowL44.pcm", bytes);
    const std::vector<double> read = ReadCoefficientFile(dir.Path() / "XOLowL44.pcm");
    ASSERT_EQ(read.size(), std::size_t(CoefficientCount));
    EXPECT_EQ(read[7], -1.5);
    EXPECT_EQ(read[6], 0.0);
}

TEST(CoefficientFiles, AFileThatIsNotOneSaysWhy) {
    test::TempDir dir;
    auto message = [&](const std::string& name) -> std::string {
        try {
            ReadCoefficientFile(dir.Path() / name);
        } catch (const CoefficientFileError& e) {
            return e.what();
        }
        return "read without error";
    };
    // Any whole number of values from 256 to 131072 is a tap count; nothing else is.
    const struct {
        const char* name;
        std::size_t bytes;
        const char* why;
    } sizes[] = {
        {"XOLowL44.dbl", 5, "5 bytes, not a whole number of 64-bit values"},
        {"XOLowL44.pcm", 4 * 1000 + 2, "4002 bytes, not a whole number of 32-bit values"},
        {"XOLowL44.dbl", 0, "0 taps, where a coefficient file holds 256 to 131072"},
        {"XOLowL44.dbl", 8 * 255, "255 taps, where a coefficient file holds 256 to 131072"},
        {"XOLowL44.pcm", 4 * 131073, "131073 taps, where a coefficient file holds 256 to 131072"},
    };
    for (const auto& c : sizes) {
        test::WriteText(dir.Path() / c.name, std::string(c.bytes, '\0'));
        EXPECT_EQ(message(c.name), std::string(c.name) + " is not a coefficient file: " + c.why);
    }
    for (const std::size_t taps : {256, 131072}) {
        test::WriteText(dir.Path() / "XOLowL44.dbl", std::string(8 * taps, '\0'));
        EXPECT_EQ(ReadCoefficientFile(dir.Path() / "XOLowL44.dbl").size(), taps);
    }

    std::vector<double> values(CoefficientCount, 0.25);
    values[5] = std::nan("");
    WriteDoubles(dir.Path() / "XOHighL44.dbl", values);
    EXPECT_EQ(message("XOHighL44.dbl"),
              "XOHighL44.dbl is not a coefficient file: value 5 is not a finite number");
    values[5] = 0;
    values[65535] = HUGE_VAL;
    WriteDoubles(dir.Path() / "XOHighL44.dbl", values);
    EXPECT_EQ(message("XOHighL44.dbl"),
              "XOHighL44.dbl is not a coefficient file: value 65535 is not a finite number");

    EXPECT_EQ(message("XOMidL44.dbl"), "Cannot read " + (dir.Path() / "XOMidL44.dbl").string() +
                                           ": No such file or directory");
    test::WriteText(dir.Path() / "notes.txt", "");
    EXPECT_NE(message("notes.txt").find("none of .dbl, .pcm and .wav"), std::string::npos);
}

std::string WavText(const std::vector<double>& taps, int rate, bool doublePrecision) {
    const std::vector<unsigned char> bytes =
        EncodeWav(taps.data(), taps.size(), rate, doublePrecision);
    return std::string(bytes.begin(), bytes.end());
}

// A mono 16-bit PCM WAV of n silent samples, the kind of file an audio editor saves.
std::string PcmWavText(std::uint32_t n) {
    auto u32 = [](std::uint32_t v) {
        return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    auto u16 = [](std::uint16_t v) { return std::string{char(v), char(v >> 8)}; };
    return "RIFF" + u32(36 + 2 * n) + "WAVEfmt " + u32(16) + u16(1) + u16(1) + u32(44100) +
           u32(88200) + u16(2) + u16(16) + "data" + u32(2 * n) + std::string(2 * n, '\0');
}

TEST(CoefficientFiles, WavFilesReadThroughLibsndfileWithTheirRateAndPrecision) {
    test::TempDir dir;
    std::vector<double> taps(8192);
    for (std::size_t i = 0; i < taps.size(); ++i)
        taps[i] = std::sin(0.01 * static_cast<double>(i)) / (1.0 + static_cast<double>(i)) / 3;
    test::WriteText(dir.Path() / "XOLowL48.wav", WavText(taps, 48000, true));
    const CoefficientFile wide = ReadCoefficients(dir.Path() / "XOLowL48.wav");
    EXPECT_EQ(wide.taps, taps);
    EXPECT_TRUE(wide.doublePrecision);
    EXPECT_EQ(wide.sampleRate, 48000);
    EXPECT_EQ(ReadCoefficientFile(dir.Path() / "XOLowL48.wav", 48000), taps);

    test::WriteText(dir.Path() / "XOLowL44.wav", WavText(taps, 44100, false));
    const CoefficientFile narrow = ReadCoefficients(dir.Path() / "XOLowL44.wav");
    EXPECT_FALSE(narrow.doublePrecision);
    ASSERT_EQ(narrow.taps.size(), taps.size());
    for (std::size_t i = 0; i < taps.size(); ++i)
        ASSERT_EQ(narrow.taps[i], static_cast<double>(static_cast<float>(taps[i]))) << i;

    auto message = [&](const std::string& name, double rate = 0) -> std::string {
        try {
            ReadCoefficientFile(dir.Path() / name, rate);
        } catch (const CoefficientFileError& e) {
            return e.what();
        }
        return "read without error";
    };
    EXPECT_EQ(message("XOLowL44.wav", 48000),
              "XOLowL44.wav is a 44100 Hz WAV, where its name says 48000 Hz");

    std::vector<double> bad = taps;
    bad[100] = std::nan("");
    const struct {
        const char* name;
        std::string bytes;
        const char* why;
    } cases[] = {
        {"XOMidL44.wav", PcmWavText(1024), "its samples are not IEEE float (32 or 64 bits)"},
        {"XOMidL44.wav", WavText(std::vector<double>(255, 0.1), 44100, true),
         "255 taps, where a coefficient file holds 256 to 131072"},
        {"XOMidL44.wav", WavText(bad, 44100, true), "value 100 is not a finite number"},
        {"XOMidL44.wav", std::string((MaxTapCount + 10000) * 8, '\0'),
         "1128576 bytes, more than a WAV of 131072 taps takes"},
    };
    for (const auto& c : cases) {
        test::WriteText(dir.Path() / c.name, c.bytes);
        EXPECT_EQ(message(c.name), std::string(c.name) + " is not a coefficient file: " + c.why);
    }
    // What libsndfile says of a file that is no sound file at all.
    test::WriteText(dir.Path() / "XOHighL44.wav", std::string(8 * 1024, '\0'));
    EXPECT_EQ(message("XOHighL44.wav").rfind("XOHighL44.wav is not a coefficient file: ", 0), 0u);
}

// ---------------------------------------------------------------------------------------
// What the report says beside the table

TEST(SetReport, ResponseAtIsTheSumAtExactlyTheFrequency) {
    // Known answers between the bins of any transform: two half-size impulses one sample
    // apart, 0.5 (1 + e^-iw), and one impulse late by d samples, e^-iwd.
    const double fs = 44100;
    std::vector<double> comb(300, 0.0);
    comb[0] = comb[1] = 0.5;
    for (double f : {20.0, 997.3, 12345.678, 22049.9}) {
        const double w = 2 * std::numbers::pi * f / fs;
        const std::complex<double> h = ResponseAt(comb, f, fs);
        EXPECT_NEAR(std::abs(h - 0.5 * (1.0 + std::polar(1.0, -w))), 0.0, 1e-13) << f;
        EXPECT_NEAR(LevelDbAt(comb, f, fs), 20 * std::log10(std::cos(w / 2)), 1e-9) << f;
    }
    const std::vector<double> late = Impulse(65535);
    for (double f : {1.0 / 3, 1000.001, 21000.5}) {
        const double turns = std::fmod(f * 65535 / fs, 1.0);
        const std::complex<double> h = ResponseAt(late, f, fs);
        EXPECT_NEAR(std::abs(h - std::polar(1.0, -2 * std::numbers::pi * turns)), 0.0, 1e-9) << f;
    }
    // On a bin, the sum is the transform's.
    std::mt19937 random(11);
    std::uniform_real_distribution<double> value(-1, 1);
    std::vector<double> x(64);
    for (double& v : x)
        v = value(random);
    const auto dft = test::DirectDft({x.begin(), x.end()}, -1, 256);
    for (std::size_t k : {0u, 1u, 37u, 128u}) {
        const std::complex<double> h = ResponseAt(x, fs * k / 256, fs);
        EXPECT_NEAR(h.real(), static_cast<double>(dft[k].real()), 1e-12) << k;
        EXPECT_NEAR(h.imag(), static_cast<double>(dft[k].imag()), 1e-12) << k;
    }
}

TEST_F(DesignedBands, LinkwitzRileyBandsAreSixDecibelsDownAtTheirCrossover) {
    // From gentle to steep (LR50: about 300 dB per octave), at a frequency on no bin.
    SamplePeriod = 1.0 / 48000;
    for (const bool minimum : {true, false})
        for (const int order : {2, 4, 25}) {
            std::vector<std::vector<double>> bands;
            for (int band : {0, 1}) {
                DesignLinkwitzRiley(order, {1234.5}, band, minimum);
                bands.push_back(Taps());
            }
            const ResponseAnalysis a =
                AnalyseResponses({{"lp", "Low", bands[0]}, {"hp", "High", bands[1]}}, 48000);
            const double hz[] = {1234.5};
            const std::vector<CrossoverLevel> levels = CrossoverLevels(a, hz, {});
            ASSERT_EQ(levels.size(), 1u);
            EXPECT_NEAR(levels[0].lowerDb, -6.0206, 0.01) << order << " " << minimum;
            EXPECT_NEAR(levels[0].upperDb, -6.0206, 0.01) << order << " " << minimum;
            EXPECT_EQ(PhaseOfSet(a, {}), minimum ? BandPhase::Minimum : BandPhase::Linear);
        }
}

TEST_F(DesignedBands, TheCrossoversOwnSumTakesEachTrimBackOut) {
    // A linear-phase pair sums flat; the high band trimmed by level, polarity and a delay
    // of a fractional number of samples (13.23) does not, until the trim is taken out.
    DesignLowPass(10, 2000);
    const std::vector<double> low = Taps();
    DesignHighPass(10, 2000);
    const BandTrim trim{-6.0, 0.3, true};
    ApplyTrim(trim, 44100, "High");
    const ResponseAnalysis a =
        AnalyseResponses({{"lp", "Low", low}, {"hp", "High", Taps()}}, 44100);
    const std::vector<BandTrim> trims = {BandTrim{}, trim};
    EXPECT_GT(std::abs(a.deviationDb), 3.0);
    const Deviation own = LargestDeviation(UntrimmedSum(a, trims), a.BinHz());
    EXPECT_LT(std::abs(own.db), 0.001);
    // The trimmed band's own level at the crossover is the plain band's.
    const double hz[] = {2000};
    EXPECT_NEAR(CrossoverLevels(a, hz, trims)[0].upperDb, 20 * std::log10(1 - std::sqrt(0.5)),
                0.01);
    // The delay does not make the set minimum phase.
    EXPECT_EQ(PhaseOfSet(a, trims), BandPhase::Linear);
    // Without trims, the crossover's sum is the sum as written.
    const std::vector<std::complex<double>> same = UntrimmedSum(a, {});
    for (std::size_t k : {0u, 1000u, 77777u, 131072u})
        EXPECT_EQ(same[k], a.sum.spectrum[k]) << k;

    // Analysed with its trims, as the response view does, the set has that sum as a curve of
    // its own, and the figure is the one tarn-cli report gives.
    const ResponseAnalysis withTrims =
        AnalyseResponses({{"lp", "Low", low}, {"hp", "High", Taps()}}, 44100, {}, trims);
    ASSERT_TRUE(withTrims.ownSum);
    // (Over the range a sum is judged on: at fs/2 a fraction of a sample is no phase a real
    // response can have, and the delayed band's last bin is not the plain band's.)
    for (std::size_t i = 0; withTrims.frequencies[i] <= 20000; ++i)
        ASSERT_NEAR(withTrims.ownSum->magnitudeDb[i], 0.0, 0.001) << withTrims.frequencies[i];
    const auto rows = TableRows(withTrims);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[2][0], "Sum as written");
    EXPECT_EQ(rows[3][0], "Crossover's own sum");
    EXPECT_EQ(rows[3][7], DecimalText(withTrims.ownDeviation.db, 4));
    StoredDesign design;
    design.trims = trims;
    EXPECT_NE(DesignText(a, design).find("taken out: largest deviation from flat " + rows[3][7] +
                                         " dB at " + rows[3][8] + " Hz"),
              std::string::npos)
        << DesignText(a, design);
    // Neutral trims make no second sum.
    EXPECT_FALSE(
        AnalyseResponses({{"lp", "Low", low}}, 44100, {}, std::vector<BandTrim>(2)).ownSum);
}

// ---------------------------------------------------------------------------------------
// Phase and delay relative to the bulk delay

// A decaying one-pole h[n] = (1 - p) p^n from sample `delay` on: a causal response that is
// not symmetric, with the phase -w delay - atan2(p sin w, 1 - p cos w) at w = 2 pi f / fs.
std::vector<double> DelayedOnePole(int delay, double pole) {
    std::vector<double> taps(CoefficientCount, 0.0);
    double value = 1 - pole;
    for (int i = delay; i < CoefficientCount && value > 1e-300; ++i, value *= pole)
        taps[i] = value;
    return taps;
}

double OnePolePhaseDeg(int delay, double pole, double f, double fs) {
    const double w = 2 * M_PI * f / fs;
    return (-w * delay - std::atan2(pole * std::sin(w), 1 - pole * std::cos(w))) * 180 / M_PI;
}

double Wrapped(double deg) {
    double w = std::fmod(deg, 360.0);
    if (w <= -180) w += 360;
    if (w > 180) w -= 360;
    return w;
}

TEST(BulkDelay, IsTheCentreOfSymmetryWhenEveryBandIsSymmetric) {
    std::vector<double> halfPair = Impulse(100);
    halfPair[101] = 1.0; // two equal taps: centred between them
    std::vector<double> perturbed = Impulse(200);
    perturbed[199] = perturbed[201] = 0.5;
    perturbed[201] += 1e-3;
    // A windowed sinc around sample 2000, as a 32-bit file holds it.
    std::vector<double> rounded = Impulse(2000);
    for (int i = 1; i <= 1000; ++i)
        rounded[2000 + i] = rounded[2000 - i] = static_cast<double>(
            static_cast<float>(std::sin(i * 0.37) / (i * 0.37) * std::cos(i * M_PI / 2000)));
    const std::vector<double> silent(CoefficientCount, 0.0);
    struct Case {
        const char* what;
        std::vector<std::vector<double>> bands;
        bool linear;
        double bulk;
    };
    const Case cases[] = {
        {"unit impulse (one way)", {Impulse(0)}, true, 0},
        {"delayed impulse", {Impulse(32768)}, true, 32768},
        {"a symmetric pair", {halfPair}, true, 100.5},
        {"32-bit symmetric taps", {rounded}, true, 2000},
        {"one band delayed by 10 samples", {Impulse(32768), Impulse(32778)}, true, 32768},
        {"a silent band beside", {silent, Impulse(500)}, true, 500},
        {"only silence", {silent}, false, 0},
        {"a tap off by 1e-3", {perturbed}, false, 0},
        {"minimum phase", {DelayedOnePole(0, 0.9), DelayedOnePole(3, 0.5)}, false, 0},
        // A band that is not symmetric beside one that is: measured against that one.
        {"one band off its symmetry", {Impulse(32768), DelayedOnePole(32770, 0.9)}, true, 32768},
        // The mirror of sample 40000 would lie beyond the last tap.
        {"energy without a partner",
         {[] {
             std::vector<double> t = Impulse(32768);
             t[40000] = 0.1;
             return t;
         }()},
         false,
         0},
    };
    for (const Case& c : cases) {
        std::vector<NamedTaps> bands;
        for (const std::vector<double>& taps : c.bands)
            bands.push_back({"f", "Band", taps});
        const ResponseAnalysis a = AnalyseResponses(bands, 48000);
        EXPECT_EQ(a.linearPhase, c.linear) << c.what;
        EXPECT_EQ(a.bulkDelaySamples, c.bulk) << c.what;
        EXPECT_DOUBLE_EQ(a.BulkDelayMs(), 1000.0 * c.bulk / 48000) << c.what;
    }
}

TEST(BulkDelay, PhaseAndDelayOfADelayedBandAreRelativeToIt) {
    // Two linear-phase bands, the second 1000 samples later: relative to the first, its phase
    // turns by thousands of degrees across the band - many turns between two points of the
    // logarithmic grid up high - and its delay is 1000 samples at every frequency.
    const ResponseAnalysis a =
        AnalyseResponses({{"a", "A", Impulse(32768)}, {"b", "B", Impulse(33768)}}, 48000);
    ASSERT_EQ(a.bulkDelaySamples, 32768);
    const BandResponse& first = a.bands[0];
    const BandResponse& late = a.bands[1];
    // Unwrapped, each band is moved by whole turns to meet the sum (a comb here); the shape
    // is its own.
    const double firstTurns = first.unwrappedPhaseDeg[0];
    const double lateTurns = late.unwrappedPhaseDeg[0] + 360.0 * 10 * 1000 / 48000;
    EXPECT_NEAR(Wrapped(firstTurns), 0.0, 1e-6);
    EXPECT_NEAR(Wrapped(lateTurns), 0.0, 1e-6);
    for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
        const double f = a.frequencies[i];
        const double turn = -360.0 * f * 1000 / 48000;
        ASSERT_NEAR(first.phaseDeg[i], 0.0, 1e-6) << f;
        ASSERT_NEAR(first.unwrappedPhaseDeg[i], firstTurns, 1e-6) << f;
        ASSERT_NEAR(first.relativeDelayMs[i], 0.0, 1e-6) << f;
        ASSERT_NEAR(Wrapped(late.phaseDeg[i] - turn), 0.0, 1e-6) << f;
        ASSERT_GT(late.phaseDeg[i], -180.0) << f;
        ASSERT_LE(late.phaseDeg[i], 180.0) << f;
        ASSERT_NEAR(late.unwrappedPhaseDeg[i], turn + lateTurns, 1e-6) << f;
        ASSERT_NEAR(late.relativeDelayMs[i], 1000.0 / 48, 1e-6) << f;
        ASSERT_NEAR(late.groupDelayMs[i], 1000.0 * 33768 / 48000, 1e-6) << f;
    }
    // Between the bins as well.
    for (double f : {12.345, 999.9, 15000.1})
        EXPECT_NEAR(Wrapped(a.PhaseDegAt(late, f) + 360.0 * f * 1000 / 48000), 0.0, 0.01) << f;
    EXPECT_NEAR(a.RelativeDelayMsAt(late, 440), 1000.0 / 48, 1e-6);
}

TEST(BulkDelay, PhaseOfResponsesThatAreNotSymmetricIsTheirOwn) {
    // Without a bulk delay the phase is the response's own: a one-pole, and the same behind a
    // delay of 30 samples, whose phase runs through several turns by 20 kHz.
    struct Case {
        int delay;
        double pole;
    };
    for (const Case c : {Case{0, 0.9}, Case{0, 0.5}, Case{30, 0.9}}) {
        const ResponseAnalysis a =
            AnalyseResponses({{"p", "P", DelayedOnePole(c.delay, c.pole)}}, 48000);
        ASSERT_FALSE(a.linearPhase);
        const BandResponse& band = a.bands[0];
        for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
            const double f = a.frequencies[i];
            const double expected = OnePolePhaseDeg(c.delay, c.pole, f, 48000);
            ASSERT_NEAR(Wrapped(band.phaseDeg[i] - expected), 0.0, 0.01) << c.delay << " " << f;
            ASSERT_NEAR(band.unwrappedPhaseDeg[i], expected, 0.01) << c.delay << " " << f;
            ASSERT_EQ(band.relativeDelayMs[i], band.groupDelayMs[i]) << f;
        }
        for (double f : {33.3, 1234.5, 20000.0})
            EXPECT_NEAR(Wrapped(a.PhaseDegAt(band, f) - OnePolePhaseDeg(c.delay, c.pole, f, 48000)),
                        0.0, 0.01)
                << f;
    }
}

TEST_F(DesignedBands, BandsAreBlankWhereTheirDelayIsAndLinearPhaseShowsNoPhase) {
    DesignBandPass(10, 500, 4000);
    const ResponseAnalysis a = AnalyseResponses({{"bp", "Mid", Taps()}}, 44100);
    ASSERT_TRUE(a.linearPhase);
    EXPECT_EQ(a.bulkDelaySamples, 32768);
    const BandResponse& bp = a.bands[0];
    int shown = 0;
    for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
        const bool blank = std::isnan(bp.groupDelayMs[i]);
        EXPECT_EQ(std::isnan(bp.phaseDeg[i]), blank);
        EXPECT_EQ(std::isnan(bp.unwrappedPhaseDeg[i]), blank);
        EXPECT_EQ(std::isnan(bp.relativeDelayMs[i]), blank);
        if (blank) continue;
        ++shown;
        EXPECT_NEAR(bp.phaseDeg[i], 0.0, 1e-3) << a.frequencies[i];
        EXPECT_NEAR(bp.relativeDelayMs[i], 0.0, 1e-6) << a.frequencies[i];
    }
    EXPECT_GT(shown, 100);
    EXPECT_LT(shown, static_cast<int>(a.frequencies.size()) - 100);
}

TEST(CurvesCsv, HoldsEveryCurveOnTheGridWithEmptyFieldsWhereThereIsNone) {
    // Two taps of a half: |cos(w / 2)|, which falls to nothing at fs/2, the last point of
    // the grid, where its phase and delay are left out. Centred on 32768.5, the bulk delay.
    std::vector<double> pair(CoefficientCount, 0.0);
    pair[32768] = pair[32769] = 0.5;
    AnalysisOptions options;
    options.gridPoints = 50;
    const ResponseAnalysis a = AnalyseResponses(
        {{"XOLowL48.dbl", "Low", Impulse(32801)}, {"XOHighL48.dbl", "High", pair}}, 48000, options);
    ASSERT_EQ(a.bulkDelaySamples, 32768.5);
    const std::string csv = CurvesCsv(a);
    std::vector<std::vector<std::string>> rows;
    std::size_t at = 0;
    for (std::size_t end; (end = csv.find('\n', at)) != std::string::npos; at = end + 1) {
        std::vector<std::string> fields;
        const std::string line = csv.substr(at, end - at);
        for (std::size_t from = 0, comma;; from = comma + 1) {
            comma = line.find(',', from);
            fields.push_back(line.substr(from, comma - from));
            if (comma == std::string::npos) break;
        }
        rows.push_back(fields);
    }
    EXPECT_EQ(at, csv.size()); // every line ends in a line feed
    ASSERT_EQ(rows.size(), 51u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"Hz", "Low dB", "Low phase deg", "Low delay ms",
                                                 "High dB", "High phase deg", "High delay ms",
                                                 "Sum dB", "Sum phase deg", "Sum delay ms"}));
    int blank = 0;
    for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
        const std::vector<std::string>& row = rows[i + 1];
        ASSERT_EQ(row.size(), 10u) << i;
        EXPECT_NEAR(std::stod(row[0]), a.frequencies[i], 1e-3);
        const BandResponse* curves[] = {&a.bands[0], &a.bands[1], &a.sum};
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(std::stod(row[1 + 3 * c]), curves[c]->magnitudeDb[i], 1e-4);
            if (std::isnan(curves[c]->phaseDeg[i])) {
                ++blank;
                EXPECT_EQ(row[2 + 3 * c], "");
                EXPECT_EQ(row[3 + 3 * c], "");
                continue;
            }
            EXPECT_NEAR(std::stod(row[2 + 3 * c]), curves[c]->phaseDeg[i], 1e-3);
            EXPECT_NEAR(std::stod(row[3 + 3 * c]), curves[c]->relativeDelayMs[i], 1e-4);
        }
        // The single tap is 32.5 samples behind the bulk delay.
        EXPECT_EQ(row[3], "0.6771");
    }
    // The top of the grid for the pair; besides, a notch of the sum (the single tap and the
    // pair cancel where the 32.5 samples between them are half a period).
    EXPECT_EQ(blank, 2);
    EXPECT_EQ(rows.back()[5], "");
    EXPECT_EQ(rows.back()[6], "");
}

TEST_F(RunRead, UnwrappedBandsMeetTheSumWhereTheyAreLoudest) {
    // Minimum phase, three ways: the bands have turned by different whole turns by the time
    // they pass, and each is drawn next to the sum there.
    window.minimumPhase = true;
    window.fields[1] = "5000";
    Run();
    const ResponseAnalysis a = AnalyseSet(FindCoefficientSets(dir.Path()).front());
    ASSERT_EQ(a.bands.size(), 3u);
    double lowest = 0;
    for (const BandResponse& band : a.bands) {
        const std::size_t loudest = static_cast<std::size_t>(
            std::max_element(band.magnitudeDb.begin(), band.magnitudeDb.end()) -
            band.magnitudeDb.begin());
        EXPECT_LE(std::abs(band.unwrappedPhaseDeg[loudest] - a.sum.unwrappedPhaseDeg[loudest]),
                  180.0)
            << band.title;
        for (std::size_t i = 0; i < a.frequencies.size(); ++i)
            if (!std::isnan(band.phaseDeg[i])) {
                ASSERT_NEAR(Wrapped(band.unwrappedPhaseDeg[i] - band.phaseDeg[i]), 0.0, 1e-9)
                    << band.title << " " << a.frequencies[i];
                lowest = std::min(lowest, band.unwrappedPhaseDeg[i]);
            }
    }
    // The high band starts turns below zero, where the sum is.
    EXPECT_LT(lowest, -720.0);
}

} // namespace
} // namespace tarn
