// The cepstral minimum-phase conversion: its guards and sizes, the quarter-wave table, the
// table-driven FFT, and the converted responses against a literal implementation of the
// steps (tests/MinimumPhaseOracle) and against the properties a minimum-phase response has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"
#include "spectral/MinimumPhase.h"
#include "tests/DirectDft.h"
#include "tests/MinimumPhaseOracle.h"

namespace tarn {
namespace {

const std::string OddMessage = "Filtergrad muss ungerade sein!";
// "Filtergrad muss größer 256 sein!" with ö and ß as UTF-8.
const std::string SmallMessage = "Filtergrad muss gr\xC3\xB6\xC3\x9F"
                                 "er 256 sein!";

double MaxAbs(const std::vector<double>& v) {
    double m = 0.0;
    for (double x : v)
        m = std::max(m, std::abs(x));
    return m;
}

// Largest |a - b| relative to the largest |b|.
double Deviation(const std::vector<double>& a, const std::vector<double>& b) {
    double d = 0.0;
    for (std::size_t i = 0; i < b.size(); ++i)
        d = std::max(d, std::abs(a[i] - b[i]));
    return d / MaxAbs(b);
}

// |DFT| of x zero-padded to count points, bins 0..count/2.
std::vector<double> Magnitude(const std::vector<double>& x, std::int32_t count) {
    std::vector<TComplex> data(count, TComplex{0.0, 0.0});
    for (std::size_t i = 0; i < x.size(); ++i)
        data[i].Re = x[i];
    oracle::CepstrumFFT(data, count, +1, false, count);
    std::vector<double> m(count / 2 + 1);
    for (std::int32_t k = 0; k <= count / 2; ++k)
        m[k] = std::hypot(data[k].Re, data[k].Im);
    return m;
}

double EnergyShare(const std::vector<double>& x, std::size_t first) {
    double head = 0.0, all = 0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        all += x[i] * x[i];
        if (i < first) head += x[i] * x[i];
    }
    return head / all;
}

std::vector<double> Random(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> dist;
    std::vector<double> v(count);
    for (double& x : v)
        x = dist(gen);
    return v;
}

// A 65536-sample workspace at 48000 Hz and a window with minimum phase off, so that the
// band designs leave their linear-phase responses for the conversion to work on.
class MinimumPhaseTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.minimumPhase = false;
        SamplePeriod = 1.0 / 48000.0;
        AllocSpectrum(65536);
    }
    void TearDown() override { FreeSpectrum(); }

    // Puts x at the start of SpecRe (the rest stays as it is) and converts SpecRe[0..n].
    std::vector<double> Convert(const std::vector<double>& x) {
        std::copy(x.begin(), x.end(), SpecRe.begin());
        MinimumPhase(static_cast<std::int32_t>(x.size()) - 1);
        return std::vector<double>(SpecRe.begin(), SpecRe.begin() + x.size());
    }

    static std::vector<double> Workspace() { return SpecRe; }

    HeadlessWindow window;
    ScopedWindow scope{window};
};

enum class Band { Low, High, Pass };

std::vector<double> LinearBand(Band band, int order, double f1, double f2 = 0.0) {
    switch (band) {
    case Band::Low:
        DesignLowPass(order, f1);
        break;
    case Band::High:
        DesignHighPass(order, f1);
        break;
    case Band::Pass:
        DesignBandPass(order, f1, f2);
        break;
    }
    return SpecRe;
}

// ---------------------------------------------------------------------------------------
// Guards and sizes

TEST_F(MinimumPhaseTest, EvenDegreeIsRefusedFirstAndChangesNothing) {
    const std::vector<double> before = Random(65536, 1);
    std::copy(before.begin(), before.end(), SpecRe.begin());
    FoldedLength = CepstrumLength = TablePeriod = 12345;
    for (std::int32_t n : {65536, 65534, 1000, 254, 0}) {
        window.messages.clear();
        MinimumPhase(n);
        EXPECT_EQ(window.messages, std::vector<std::string>{OddMessage}) << n;
    }
    EXPECT_EQ(Workspace(), before);
    EXPECT_EQ(FoldedLength, 12345);
    EXPECT_EQ(TablePeriod, 12345);
    EXPECT_TRUE(SineTable.empty());
}

TEST_F(MinimumPhaseTest, OddDegreeBelow256IsRefusedAndChangesNothing) {
    const std::vector<double> before = Random(65536, 2);
    std::copy(before.begin(), before.end(), SpecRe.begin());
    FoldedLength = 777;
    for (std::int32_t n : {255, 253, 1, -1}) {
        window.messages.clear();
        MinimumPhase(n);
        EXPECT_EQ(window.messages, std::vector<std::string>{SmallMessage}) << n;
    }
    EXPECT_EQ(Workspace(), before);
    EXPECT_EQ(FoldedLength, 777);
    EXPECT_TRUE(SineTable.empty());
}

struct SizeCase {
    std::int32_t n, folded, cepstrum;
};

class MinimumPhaseSizes : public MinimumPhaseTest,
                          public ::testing::WithParamInterface<SizeCase> {};

TEST_P(MinimumPhaseSizes, FollowTheDegree) {
    const SizeCase c = GetParam();
    std::vector<double> x(c.n + 1, 0.0);
    x[c.n / 3] = 1.0;
    Convert(x);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_EQ(FoldedLength, c.folded);
    EXPECT_EQ(CepstrumLength, c.cepstrum);
    EXPECT_EQ(TablePeriod, c.cepstrum);
    // The work arrays are gone once the conversion is over.
    EXPECT_TRUE(SineTable.empty());
    EXPECT_EQ(SineTable.capacity(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Degrees, MinimumPhaseSizes,
                         ::testing::Values(SizeCase{257, 2048, 8192}, SizeCase{511, 2048, 8192},
                                           SizeCase{513, 4096, 16384}, SizeCase{1023, 4096, 16384},
                                           SizeCase{1025, 8192, 32768},
                                           SizeCase{32769, 262144, 1048576},
                                           SizeCase{65535, 262144, 1048576}));

// ---------------------------------------------------------------------------------------
// Quarter-wave table

TEST(SineTable, HoldsAQuarterWaveEndingInExactlyOne) {
    for (std::int32_t p : {8192, 1048576}) {
        TablePeriod = p;
        BuildSineTable();
        ASSERT_EQ(SineTable.size(), static_cast<std::size_t>(p / 4 + 1));
        EXPECT_EQ(SineTable.back(), 1.0);
        EXPECT_EQ(SineTable[0], 0.0);
        for (std::int32_t i = 0; i < p / 4; i += 97)
            EXPECT_NEAR(SineTable[i], std::sin(2.0L * std::numbers::pi_v<long double> * i / p),
                        2e-16);
    }
    SineTable.clear();
}

TEST(SineTable, TableSineIsExactAtTheQuarterPointsAndPeriodic) {
    HeadlessWindow window;
    ScopedWindow scope(window);
    const std::int32_t p = 4096;
    TablePeriod = p;
    BuildSineTable();
    EXPECT_EQ(TableSine(0), 0.0);
    EXPECT_EQ(TableSine(p / 4), 1.0);
    EXPECT_EQ(TableSine(p / 2), 0.0);
    EXPECT_EQ(TableSine(p / 2 + p / 4), -1.0);
    EXPECT_EQ(TableSine(p), 0.0);
    EXPECT_EQ(TableSine(-p / 4), -1.0);
    for (std::int32_t k = -3 * p; k < 3 * p; k += 7) {
        const double s = TableSine(k);
        EXPECT_EQ(s, TableSine(k + p)) << k;
        EXPECT_EQ(s, TableSine(k - 2 * p)) << k;
        EXPECT_EQ(TableSine(-k), -s) << k;
        EXPECT_NEAR(s, std::sin(2.0L * std::numbers::pi_v<long double> * k / p), 2e-16) << k;
    }
    // Every lookup may not cost a pass of the window's messages, but lookups do reach it.
    window.pumpCount = 0;
    double sum = 0.0;
    for (int i = 0; i < 25 * p; ++i)
        sum += TableSine(i);
    EXPECT_NEAR(sum, 0.0, 1e-9);
    EXPECT_GE(window.pumpCount, 5);
    EXPECT_LE(window.pumpCount, 1000);
    SineTable.clear();
}

// ---------------------------------------------------------------------------------------
// CepstrumFFT

std::vector<TComplex> RandomComplex(std::int32_t count, unsigned seed) {
    const std::vector<double> v = Random(2 * count, seed);
    std::vector<TComplex> data(count);
    for (std::int32_t i = 0; i < count; ++i)
        data[i] = {v[2 * i], v[2 * i + 1]};
    return data;
}

// The DFT of the conversion's complex records, forward for sign > 0, scaled by 1/count on
// request.
std::vector<test::LongComplex> DirectDft(const std::vector<TComplex>& x, int sign, bool scale) {
    std::vector<test::LongComplex> in;
    for (const TComplex& c : x)
        in.emplace_back(c.Re, c.Im);
    std::vector<test::LongComplex> out = test::DirectDft(in, sign > 0 ? -1 : +1);
    if (scale)
        for (test::LongComplex& c : out)
            c /= static_cast<long double>(x.size());
    return out;
}

TEST(CepstrumFFT, MatchesTheDirectDftForEveryCountDividingThePeriod) {
    HeadlessWindow window;
    ScopedWindow scope(window);
    for (std::int32_t p : {64, 1024}) {
        TablePeriod = p;
        BuildSineTable();
        for (std::int32_t count = 1; count <= std::min(p, 256); count *= 2) {
            for (int sign : {+1, -1, 0, 5, -7}) {
                for (bool scale : {false, true}) {
                    const std::vector<TComplex> x = RandomComplex(count, count + 31 * p);
                    std::vector<TComplex> data = x;
                    // Only the first count elements take part.
                    data.push_back({42.0, -42.0});
                    const long before = window.pumpCount;
                    CepstrumFFT(data, count, sign, scale);
                    EXPECT_GE(window.pumpCount, before + 1);
                    EXPECT_EQ(data.back().Re, 42.0);
                    const auto expected = DirectDft(x, sign, scale);
                    const double bound = 1e-15 * std::sqrt(count) * (scale ? 1.0 : count) * 8;
                    for (std::int32_t k = 0; k < count; ++k) {
                        EXPECT_NEAR(data[k].Re, static_cast<double>(expected[k].real()), bound)
                            << "P " << p << " count " << count << " sign " << sign << " k " << k;
                        EXPECT_NEAR(data[k].Im, static_cast<double>(expected[k].imag()), bound)
                            << "P " << p << " count " << count << " sign " << sign << " k " << k;
                    }
                }
            }
        }
    }
    SineTable.clear();
}

TEST(CepstrumFFT, SignZeroIsTheInverseAndScalingIsAnExactPowerOfTwo) {
    TablePeriod = 4096;
    BuildSineTable();
    const std::vector<TComplex> x = RandomComplex(1024, 5);
    std::vector<TComplex> zero = x, minus = x, unscaled = x;
    CepstrumFFT(zero, 1024, 0, true);
    CepstrumFFT(minus, 1024, -1, true);
    CepstrumFFT(unscaled, 1024, -1, false);
    for (std::size_t i = 0; i < x.size(); ++i) {
        EXPECT_EQ(zero[i].Re, minus[i].Re);
        EXPECT_EQ(zero[i].Im, minus[i].Im);
        EXPECT_EQ(minus[i].Re, unscaled[i].Re / 1024.0);
        EXPECT_EQ(minus[i].Im, unscaled[i].Im / 1024.0);
    }
    SineTable.clear();
}

TEST(CepstrumFFT, RoundTripReturnsTheInput) {
    for (std::int32_t count : {8192, 65536}) {
        TablePeriod = 4 * count;
        BuildSineTable();
        const std::vector<TComplex> x = RandomComplex(count, 9);
        std::vector<TComplex> data = x;
        CepstrumFFT(data, count, +1, false);
        CepstrumFFT(data, count, -1, true);
        double err = 0.0;
        for (std::int32_t i = 0; i < count; ++i)
            err = std::max({err, std::abs(data[i].Re - x[i].Re), std::abs(data[i].Im - x[i].Im)});
        EXPECT_LT(err, 1e-14) << count;
    }
    SineTable.clear();
}

TEST(CepstrumFFT, EqualsTheLiteralLoopOrderBitForBit) {
    for (int sign : {+1, -1}) {
        TablePeriod = 16384;
        BuildSineTable();
        std::vector<TComplex> fast = RandomComplex(4096, 11);
        std::vector<TComplex> literal = fast;
        CepstrumFFT(fast, 4096, sign, sign < 0);
        oracle::CepstrumFFT(literal, 4096, sign, sign < 0, 16384);
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].Re, literal[i].Re) << i;
            ASSERT_EQ(fast[i].Im, literal[i].Im) << i;
        }
    }
    SineTable.clear();
}

// ---------------------------------------------------------------------------------------
// Converted responses

TEST_F(MinimumPhaseTest, DelayedImpulseComesBackAtSampleZeroWithItsMagnitude) {
    for (std::int32_t n : {257, 65535}) {
        for (std::int32_t at : {0, 1, 100, n / 2, n}) {
            for (double v : {1.0, -2.5, 0.03125}) {
                std::vector<double> x(n + 1, 0.0);
                x[at] = v;
                const std::vector<double> y = Convert(x);
                EXPECT_NEAR(y[0], std::abs(v), 1e-12 * std::abs(v))
                    << "n " << n << " at " << at << " v " << v;
                double rest = 0.0;
                for (std::int32_t i = 1; i <= n; ++i)
                    rest = std::max(rest, std::abs(y[i]));
                EXPECT_LT(rest, 1e-12 * std::abs(v)) << "n " << n << " at " << at << " v " << v;
            }
        }
    }
}

TEST_F(MinimumPhaseTest, LeavesSamplesBeyondTheDegreeAndTheImaginaryPartsAlone) {
    const std::vector<double> re = Random(65536, 21), im = Random(65536, 22);
    std::copy(re.begin(), re.end(), SpecRe.begin());
    std::copy(im.begin(), im.end(), SpecIm.begin());
    const std::int32_t n = 4095;
    MinimumPhase(n);
    EXPECT_EQ(SpecIm, im);
    EXPECT_TRUE(std::equal(re.begin() + n + 1, re.end(), SpecRe.begin() + n + 1));
    const std::vector<double> expected =
        oracle::MinimumPhase(std::vector<double>(re.begin(), re.begin() + n + 1));
    EXPECT_LT(Deviation(std::vector<double>(SpecRe.begin(), SpecRe.begin() + n + 1), expected),
              1e-9);
    EXPECT_EQ(SpecLength, 65536);
}

TEST_F(MinimumPhaseTest, AllZeroResponseStaysZero) {
    MinimumPhase(65535);
    EXPECT_EQ(MaxAbs(SpecRe), 0.0);
    EXPECT_TRUE(SineTable.empty());
}

// Bins whose power is exactly zero take the floor 1e-16 x peak; a power that is tiny but
// not zero keeps its own logarithm.
TEST_F(MinimumPhaseTest, FloorReplacesExactZerosOnly) {
    // x[0] + x[1] e^(-i pi) vanishes at bin L/2 exactly.
    std::vector<double> zero(258, 0.0);
    zero[0] = 1.0;
    zero[1] = 1.0;
    const std::vector<double> expected = oracle::MinimumPhase(zero);
    const std::vector<double> y = Convert(zero);
    ASSERT_TRUE(std::all_of(y.begin(), y.end(), [](double v) { return std::isfinite(v); }));
    EXPECT_LT(Deviation(y, expected), 1e-9);

    // Now bin L/2 holds 2^-60, far below the floor 4e-16, but not zero.
    std::vector<double> tiny = zero;
    tiny[1] = 1.0 + std::ldexp(1.0, -30);
    const std::vector<double> own = oracle::MinimumPhase(tiny);
    const std::vector<double> floored = oracle::MinimumPhase(tiny, oracle::FloorRule::BelowFloor);
    ASSERT_GT(Deviation(floored, own), 1e-6); // the two rules are told apart
    EXPECT_LT(Deviation(Convert(tiny), own), 1e-9);
}

struct OracleCase {
    const char* name;
    Band band;
    int order;
    double f1, f2;
};

class MinimumPhaseOracle : public MinimumPhaseTest,
                           public ::testing::WithParamInterface<OracleCase> {};

TEST_P(MinimumPhaseOracle, AgreesWithTheLiteralStepsOnABand) {
    const OracleCase c = GetParam();
    const std::vector<double> x = LinearBand(c.band, c.order, c.f1, c.f2);
    const std::vector<double> expected = oracle::MinimumPhase(x);
    const std::vector<double> y = Convert(x);
    const double deviation = Deviation(y, expected);
    std::ostringstream text;
    text << std::scientific << deviation;
    RecordProperty("deviation", text.str());
    EXPECT_LT(deviation, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(Bands, MinimumPhaseOracle,
                         ::testing::Values(OracleCase{"Sub", Band::Low, 10, 80.0, 0.0},
                                           OracleCase{"High", Band::High, 4, 8000.0, 0.0},
                                           OracleCase{"Mid", Band::Pass, 30, 500.0, 3000.0},
                                           OracleCase{"Steep", Band::Pass, 50, 80.0, 120.0}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(MinimumPhaseTest, AgreesWithTheLiteralStepsOnAnyResponse) {
    for (std::int32_t n : {257, 511, 513, 2047, 65535}) {
        const std::vector<double> x = Random(n + 1, n);
        EXPECT_LT(Deviation(Convert(x), oracle::MinimumPhase(x)), 1e-9) << n;
    }
    std::vector<double> delayed(65536, 0.0);
    delayed[12345] = -0.7;
    delayed[12346] = 0.2;
    EXPECT_LT(Deviation(Convert(delayed), oracle::MinimumPhase(delayed)), 1e-9);
}

// A minimum-phase band keeps the magnitude of the linear-phase band it came from and
// gathers its energy at the start instead of around sample 32768.
TEST_F(MinimumPhaseTest, BandsKeepTheirMagnitudeAndMoveTheirEnergyForward) {
    struct Case {
        Band band;
        int order;
        double f1, f2;
    };
    for (const Case& c : {Case{Band::High, 10, 3000.0, 0.0}, Case{Band::Pass, 10, 500.0, 3000.0},
                          Case{Band::Pass, 4, 80.0, 500.0}, Case{Band::Low, 10, 80.0, 0.0}}) {
        const std::vector<double> linear = LinearBand(c.band, c.order, c.f1, c.f2);
        MinimumPhase(65535);
        const std::vector<double> minimum = SpecRe;
        const std::vector<double> a = Magnitude(linear, 131072), b = Magnitude(minimum, 131072);
        const double peak = *std::max_element(a.begin(), a.end());
        double worst = 0.0;
        for (std::size_t k = 0; k < a.size(); ++k)
            if (a[k] > 1e-3 * peak) worst = std::max(worst, std::abs(20 * std::log10(b[k] / a[k])));
        EXPECT_LT(worst, 0.01) << c.f1 << " " << c.f2;
        EXPECT_LT(EnergyShare(linear, 16384), 0.01) << c.f1 << " " << c.f2;
        EXPECT_GT(EnergyShare(minimum, 4096), 0.99) << c.f1 << " " << c.f2;
    }
}

// ---------------------------------------------------------------------------------------
// The window during a conversion

TEST_F(MinimumPhaseTest, WindowIsPumpedDuringTheConversionButNotPerLookup) {
    const std::vector<double> x = LinearBand(Band::Pass, 10, 500.0, 3000.0);
    long during = 0;
    window.onPump = [&during] {
        if (!SineTable.empty()) ++during;
    };
    window.pumpCount = 0;
    Convert(x);
    EXPECT_GE(during, 4); // at least once per transform
    EXPECT_LE(window.pumpCount, 1000);

    // With no interval to wait for, the work inside the transforms reaches the pump too.
    const auto saved = MinimumPhasePumpInterval;
    MinimumPhasePumpInterval = std::chrono::microseconds{0};
    during = 0;
    Convert(x);
    MinimumPhasePumpInterval = saved;
    EXPECT_GE(during, 50);
    EXPECT_LE(during, 5000);
}

TEST_F(MinimumPhaseTest, ErrorInAMessageHandlerEndsTheConversionAndReleasesTheTable) {
    std::vector<double> x(65536, 0.0);
    x[5] = 1.0;
    std::copy(x.begin(), x.end(), SpecRe.begin());
    int pumps = 0;
    window.onPump = [&pumps] {
        if (++pumps == 2) throw std::runtime_error("closed");
    };
    EXPECT_THROW(MinimumPhase(65535), std::runtime_error);
    EXPECT_TRUE(SineTable.empty());
    window.onPump = nullptr;
    // The next conversion starts afresh.
    EXPECT_NEAR(Convert(x)[0], 1.0, 1e-12);
}

} // namespace
} // namespace tarn
