// Linkwitz-Riley bands: the taps against the filters run sample by sample, a few sets
// measured as the grid check measures them, and the meter that tells whether the taps hold
// a set.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

#include "crossover/LinkwitzRiley.h"
#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"
#include "tests/LinkwitzRileyMeasure.h"

namespace tarn {
namespace {

constexpr int N = CoefficientCount;

std::vector<double> Design(int order, const std::vector<double>& crossovers, int band, double fs,
                           bool minimumPhase) {
    AllocSpectrum(N);
    SamplePeriod = 1.0 / fs;
    DesignLinkwitzRiley(order, crossovers, band, minimumPhase);
    return {SpecRe.begin(), SpecRe.begin() + N};
}

// ---------------------------------------------------------------------------------------
// The crossover as a cascade of recursive sections, made from the bilinear transform's
// coefficients rather than from frequency responses.

struct Section {
    long double b0, b1, b2, a0, a1, a2;
};

// The sections of the Butterworth low-pass or high-pass of order n at fc, twice over (the
// Linkwitz-Riley filter), with the inversion of odd orders in the high-pass's first section.
std::vector<Section> Sections(int n, double fc, double fs, bool highPass) {
    const long double k = std::tan(std::numbers::pi_v<long double> * fc / fs);
    std::vector<Section> one;
    for (int i = 1; i <= n / 2; ++i) {
        const long double a = 2 * std::sin((2 * i - 1) * std::numbers::pi_v<long double> / (2 * n));
        const long double b0 = highPass ? 1 : k * k, b1 = highPass ? -2 : 2 * k * k;
        one.push_back({b0, b1, b0, 1 + a * k + k * k, 2 * (k * k - 1), 1 - a * k + k * k});
    }
    if (n % 2 != 0)
        one.push_back(highPass ? Section{1, -1, 0, 1 + k, k - 1, 0}
                               : Section{k, k, 0, 1 + k, k - 1, 0});
    std::vector<Section> twice = one;
    twice.insert(twice.end(), one.begin(), one.end());
    if (highPass && n % 2 != 0) {
        twice[0].b0 = -twice[0].b0;
        twice[0].b1 = -twice[0].b1;
        twice[0].b2 = -twice[0].b2;
    }
    return twice;
}

std::vector<long double> Run(std::vector<long double> x, const std::vector<Section>& sections) {
    for (const Section& s : sections) {
        long double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (long double& v : x) {
            const long double y = (s.b0 * v + s.b1 * x1 + s.b2 * x2 - s.a1 * y1 - s.a2 * y2) / s.a0;
            x2 = x1;
            x1 = v;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    return x;
}

// Band `band`'s impulse response, built as the band is defined: the high-passes below it,
// its low-pass, and low-pass plus high-pass of every crossover above it.
std::vector<long double> Recursive(int n, const std::vector<double>& crossovers, int band,
                                   double fs) {
    std::vector<long double> x(N, 0.0L);
    x[0] = 1;
    for (int i = 0; i < static_cast<int>(crossovers.size()); ++i) {
        const auto low = Run(x, Sections(n, crossovers[i], fs, false));
        if (i == band) {
            x = low;
        } else {
            const auto high = Run(x, Sections(n, crossovers[i], fs, true));
            for (int m = 0; m < N; ++m)
                x[m] = i < band ? high[m] : low[m] + high[m];
        }
    }
    return x;
}

struct SetCase {
    int order;
    double fs;
    std::vector<double> crossovers;
};

// Odd orders (the inverted high-pass), a five-way set, a crossover at 0.4 fs.
const SetCase RecursiveCases[] = {
    {1, 44100, {1000}},       {2, 48000, {2000}},
    {3, 44100, {300, 3000}},  {4, 48000, {80, 500, 3000, 8000}},
    {7, 48000, {150, 19200}}, {12, 44100, {400, 2500, 9000}},
};

TEST(LinkwitzRiley, MinimumPhaseTapsAreTheFiltersImpulseResponses) {
    for (const SetCase& c : RecursiveCases)
        for (int band = 0; band <= static_cast<int>(c.crossovers.size()); ++band) {
            const auto taps = Design(c.order, c.crossovers, band, c.fs, true);
            const auto expected = Recursive(c.order, c.crossovers, band, c.fs);
            double worst = 0;
            for (int m = 0; m < N; ++m)
                worst = std::max(worst, std::abs(taps[m] - static_cast<double>(expected[m])));
            EXPECT_LT(worst, 1e-11)
                << "order " << c.order << ", " << c.crossovers.size() + 1 << " ways, band " << band;
        }
}

TEST(LinkwitzRiley, LinearPhaseBandsKeepTheMagnitudeAndSumToAnImpulse) {
    for (const SetCase& c : RecursiveCases) {
        std::vector<double> sum(N, 0.0);
        for (int band = 0; band <= static_cast<int>(c.crossovers.size()); ++band) {
            const auto linear = Design(c.order, c.crossovers, band, c.fs, false);
            for (int m = 1; m < N / 2; ++m)
                ASSERT_NEAR(linear[N / 2 + m], linear[N / 2 - m], 1e-10) << "tap " << m;
            for (int m = 0; m < N; ++m)
                sum[m] += linear[m];
            const auto minimum = Design(c.order, c.crossovers, band, c.fs, true);
            auto magnitude = [&](const std::vector<double>& taps, double f) {
                return std::pow(10.0, test::LevelDb(taps, f, c.fs) / 20);
            };
            for (const double f : {c.crossovers[0] * 0.7, c.crossovers.back() * 1.3, 5000.0})
                EXPECT_NEAR(magnitude(linear, f), magnitude(minimum, f), 1e-9)
                    << "order " << c.order << ", band " << band << " at " << f << " Hz";
        }
        for (int m = 0; m < N; ++m)
            ASSERT_NEAR(sum[m], m == N / 2 ? 1.0 : 0.0, 1e-9)
                << "order " << c.order << " tap " << m;
    }
}

TEST(LinkwitzRiley, BandResponseAtAnyFrequencyIsWhatTheTapsHold) {
    const std::vector<double> crossovers = {80, 500, 3000, 8000};
    const double fs = 48000;
    for (int band = 0; band <= 4; ++band) {
        const auto taps = Design(4, crossovers, band, fs, true);
        for (const double f : {33.3, 80.0, 501.7, 2999.9, 8000.0, 15123.4}) {
            const double expected =
                20 * std::log10(std::abs(LinkwitzRileyBandAt(4, crossovers, band, f, fs)));
            if (expected < -150) continue;
            EXPECT_NEAR(test::LevelDb(taps, f, fs), expected, 1e-6)
                << "band " << band << " at " << f;
        }
    }
    // The factors of one crossover at its frequency: -6.02 dB each, in phase, adding to the
    // all-pass.
    for (const int order : {1, 2, 3, 50}) {
        const CrossoverResponse c = LinkwitzRileyAt(order, 2000, 2000, 44100);
        EXPECT_NEAR(std::abs(c.lowPass), 0.5, 1e-12) << order;
        EXPECT_NEAR(std::abs(c.highPass), 0.5, 1e-12) << order;
        EXPECT_NEAR(std::abs(c.lowPass + c.highPass - c.allPass), 0.0, 1e-12) << order;
        EXPECT_NEAR(std::abs(c.allPass), 1.0, 1e-12) << order;
    }
}

// ---------------------------------------------------------------------------------------
// Sets measured as written

struct MeasuredCase {
    int order;
    double fs;
    std::vector<double> crossovers;
    bool minimumPhase;
};

TEST(LinkwitzRiley, SetsSumFlatWithMirroredSlopesAtMinus6dB) {
    const MeasuredCase cases[] = {
        {1, 44100, {1000}, true},
        {2, 48000, {2000}, false},
        {4, 48000, {2000}, true},
        {25, 48000, {40}, true},
        {50, 44100, {80}, false},
        {50, 48000, {19200}, true},
        {4, 48000, {80, 500, 3000, 8000}, true},
        {10, 48000, {80, 500, 3000, 8000}, false},
        {50, 48000, {80, 700, 5000, 19200}, true},
    };
    for (const MeasuredCase& c : cases) {
        const auto m = test::MeasureSet(c.order, c.crossovers, c.fs, c.minimumPhase);
        const std::string what = "order " + std::to_string(c.order) + ", " +
                                 std::to_string(c.crossovers.size() + 1) + " ways from " +
                                 std::to_string(c.crossovers[0]) + " Hz, " +
                                 (c.minimumPhase ? "minimum" : "linear") + " phase";
        EXPECT_LE(std::abs(m.sumDeviationDb), 0.01) << what << " at " << m.deviationHz << " Hz";
        EXPECT_LE(m.levelErrorDb, 0.01) << what;
        EXPECT_LE(m.symmetryErrorDb, 0.01) << what;
        EXPECT_LT(m.worstTail, c.minimumPhase ? TailEnergyLimit : LinearTailEnergyLimit) << what;
        if (!c.minimumPhase) {
            EXPECT_LE(m.impulseError, 1e-6) << what;
        }
        EXPECT_TRUE(m.fit.Holds()) << what;
    }
}

// ---------------------------------------------------------------------------------------
// The meter

TEST(LinkwitzRiley, MeterMeasuresTheTailsItIsGiven) {
    AllocSpectrum(N);
    SamplePeriod = 1.0 / 48000;
    // A unit impulse at the start and an echo of 1e-6 of its energy near the end.
    std::vector<double> taps(N, 0.0);
    taps[0] = 1.0;
    taps[N - 100] = 1e-3;
    TapsMeter minimum(true);
    minimum.Add(taps);
    TapsFit fit = minimum.Finish();
    ASSERT_EQ(fit.tailEnergy.size(), 1u);
    EXPECT_NEAR(fit.tailEnergy[0], 1e-6 / (1 + 1e-6), 1e-15);
    EXPECT_NEAR(std::abs(fit.sumDeviationDb), 20 * std::log10(1 + 1e-3), 1e-4);
    EXPECT_FALSE(fit.Holds());

    // Linear phase: the energy just inside both twentieths is not tail, just outside is.
    std::vector<double> centred(N, 0.0);
    centred[N / 2] = 1.0;
    centred[N / 20] = 1e-5;
    centred[N - N / 20 - 1] = 1e-5;
    TapsMeter linear(false);
    linear.Add(centred);
    EXPECT_EQ(linear.Finish().tailEnergy[0], 0.0);
    centred[N / 20 - 1] = 1e-5;
    TapsMeter outer(false);
    outer.Add(centred);
    EXPECT_NEAR(outer.Finish().tailEnergy[0], 1e-10, 1e-14);
}

TEST(LinkwitzRiley, RunsWarnOnlyWhereTheTapsCannotHoldTheSet) {
    const std::vector<std::string> names = {"Sub", "Low", "High"};
    auto fitOf = [](int order, const std::vector<double>& crossovers, bool minimumPhase) {
        return test::MeasureSet(order, crossovers, 48000, minimumPhase).fit;
    };
    EXPECT_EQ(TapsWarning(fitOf(50, {80, 19200}, true), names), "");

    const TapsFit ringing = fitOf(50, {40, 19200}, true);
    const std::string warning = TapsWarning(ringing, names);
    EXPECT_GT(ringing.tailEnergy[0], 1e-6);
    EXPECT_LT(ringing.tailEnergy[2], TailEnergyLimit);
    EXPECT_NE(warning.find("Sub rings on"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("High rings on"), std::string::npos) << warning;
    EXPECT_NE(warning.find("The sum deviates -0.02"), std::string::npos) << warning;
    EXPECT_NE(warning.find("a higher crossover frequency or a lower order"), std::string::npos);

    // Linear phase: the sum stays flat, but the low-pass is cut short.
    const std::string linear = TapsWarning(fitOf(50, {40, 19200}, false), names);
    EXPECT_NE(linear.find("Sub rings on"), std::string::npos) << linear;
    EXPECT_NE(linear.find("first and last twentieth"), std::string::npos) << linear;
}

// ---------------------------------------------------------------------------------------
// The kept tables and the inputs

TEST(LinkwitzRiley, KeptTablesFollowEveryChangeOfTheSet) {
    struct Set {
        int order;
        std::vector<double> crossovers;
        double fs;
    };
    auto design = [](const Set& s, bool minimumPhase) {
        return Design(s.order, s.crossovers, 1, s.fs, minimumPhase);
    };
    // Designed after a set that differs from it in everything, so no kept table can serve.
    auto afresh = [&](const Set& s) {
        design({3, {1234}, s.fs == 48000 ? 44100.0 : 48000.0}, false);
        return design(s, true);
    };
    const Set before = {6, {300, 3000}, 48000};
    for (const Set& after :
         {Set{6, {300, 3001}, 48000}, Set{6, {300, 3000}, 44100}, Set{7, {300, 3000}, 48000}}) {
        const auto expected = afresh(after);
        afresh(before);
        EXPECT_EQ(design(after, true), expected)
            << "order " << after.order << ", " << after.crossovers[1] << " Hz, " << after.fs;
    }
    // Kept for linear phase, the table gains the phase when minimum phase asks for it.
    const auto expected = afresh(before);
    design({3, {1234}, 44100}, true);
    design(before, false);
    EXPECT_EQ(design(before, true), expected);
}

TEST(LinkwitzRiley, RefusesSetsItCannotDesign) {
    AllocSpectrum(N);
    SamplePeriod = 1.0 / 48000;
    const std::vector<double> good = {100, 1000};
    EXPECT_NO_THROW(DesignLinkwitzRiley(50, good, 2, true));
    EXPECT_THROW(DesignLinkwitzRiley(0, good, 0, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(51, good, 0, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, good, 3, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, good, -1, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, {}, 0, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, {1000, 100}, 0, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, {100, 100}, 0, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, {100, 24000}, 0, true), std::invalid_argument);
    EXPECT_THROW(DesignLinkwitzRiley(4, {50, 100, 200, 400, 800}, 0, true), std::invalid_argument);
    EXPECT_THROW(LinkwitzRileyAt(4, 1000, 24001, 48000), std::invalid_argument);
}

} // namespace
} // namespace tarn
