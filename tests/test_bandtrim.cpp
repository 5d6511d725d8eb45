// Per-band level, delay and polarity applied to designed bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "crossover/BandTrim.h"
#include "crossover/Shorten.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"
#include "spectral/MinimumPhase.h"

namespace tarn {
namespace {

constexpr double Rate = 48000.0;

// A linear-phase band-pass of the default design: symmetric about tap 32768.
std::vector<double> PlainBand() {
    SampleRate = Rate;
    SamplePeriod = 1.0 / Rate;
    AllocSpectrum(CoefficientCount);
    DesignBandPass(10, 500.0, 3000.0);
    return {SpecRe.begin(), SpecRe.end()};
}

std::vector<double> Trimmed(const BandTrim& trim) {
    PlainBand();
    ApplyTrim(trim, Rate, "Mid");
    return {SpecRe.begin(), SpecRe.end()};
}

std::vector<std::complex<double>> Spectrum(const std::vector<double>& taps) {
    std::copy(taps.begin(), taps.end(), SpecRe.begin());
    std::fill(SpecIm.begin(), SpecIm.end(), 0.0);
    RealFFT();
    std::vector<std::complex<double>> bins(SpecLength / 2 + 1);
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = {SpecRe[k], SpecIm[k]};
    return bins;
}

// The bins 0..N of taps zero-padded to 2N points: the response between the bins of the taps'
// own transform too, where what a delay wraps round or cuts off shows.
std::vector<std::complex<double>> PaddedSpectrum(const std::vector<double>& taps) {
    AllocSpectrum(2 * static_cast<std::int32_t>(taps.size()));
    std::copy(taps.begin(), taps.end(), SpecRe.begin());
    RealFFT();
    std::vector<std::complex<double>> bins(taps.size() + 1);
    for (std::size_t k = 0; k < bins.size(); ++k)
        bins[k] = {SpecRe[k], SpecIm[k]};
    AllocSpectrum(CoefficientCount);
    return bins;
}

// A band designed as for a minimum-phase run: it starts at tap 0.
std::vector<double> MinimumPhaseBand(void (*design)()) {
    SampleRate = Rate;
    SamplePeriod = 1.0 / Rate;
    AllocSpectrum(CoefficientCount);
    design();
    MinimumPhase(SpecLength - 1);
    return {SpecRe.begin(), SpecRe.end()};
}
void LowMidBand() {
    DesignBandPass(10, 500.0, 3000.0);
}
void HighBand() {
    DesignHighPass(10, 8000.0);
}

std::vector<double> TrimmedMinimumPhase(const std::vector<double>& band, const BandTrim& trim,
                                        double rate = Rate) {
    AllocSpectrum(CoefficientCount);
    std::copy(band.begin(), band.end(), SpecRe.begin());
    ApplyTrim(trim, rate, "High", BandPhase::Minimum);
    return {SpecRe.begin(), SpecRe.end()};
}

double ShareOfEnergy(const std::vector<double>& taps, std::size_t from, std::size_t to) {
    double part = 0.0, all = 0.0;
    for (std::size_t i = 0; i < taps.size(); ++i) {
        all += taps[i] * taps[i];
        if (i >= from && i < to) part += taps[i] * taps[i];
    }
    return part / all;
}

// How far `delayed` departs from `plain` moved by `samples`, up to `topHz`: its level against
// the plain band's peak (dB), and its group delay (samples) where the band is within 20 dB of
// its peak; and its highest level where the plain band is more than 100 dB down (dB).
struct Departure {
    double levelDb = 0.0;
    double groupDelay = 0.0;
    double stopBandDb = -400.0;
};
Departure DepartureFromMoved(const std::vector<double>& plain, const std::vector<double>& delayed,
                             double samples, double topHz) {
    const auto a = PaddedSpectrum(plain);
    const auto b = PaddedSpectrum(delayed);
    const double points = 2.0 * static_cast<double>(plain.size());
    double peak = 0.0;
    for (const auto& bin : a)
        peak = std::max(peak, std::abs(bin));
    Departure d;
    std::complex<double> previous;
    bool inBand = false;
    for (std::size_t k = 1; k < a.size() && k * Rate / points <= topHz; ++k) {
        const double w = 2.0 * std::numbers::pi * static_cast<double>(k) / points;
        d.levelDb = std::max(
            d.levelDb, 20.0 * std::log10(1.0 + std::abs(std::abs(b[k]) - std::abs(a[k])) / peak));
        if (std::abs(a[k]) < 1e-5 * peak)
            d.stopBandDb = std::max(d.stopBandDb, 20.0 * std::log10(std::abs(b[k]) / peak));
        // The phase b has beyond the plain band's and the move's.
        const std::complex<double> beyond = b[k] / a[k] * std::polar(1.0, w * samples);
        if (inBand && std::abs(a[k]) > 0.1 * peak)
            d.groupDelay = std::max(d.groupDelay, std::abs(std::arg(beyond / previous)) /
                                                      (2.0 * std::numbers::pi / points));
        inBand = std::abs(a[k]) > 0.1 * peak;
        previous = beyond;
    }
    return d;
}

TEST(BandTrim, NeutralTrimLeavesTheTapsBitForBit) {
    const std::vector<double> plain = PlainBand();
    EXPECT_EQ(Trimmed(BandTrim{}), plain);
}

TEST(BandTrim, LevelScalesAndPolarityNegatesEveryTap) {
    const std::vector<double> plain = PlainBand();
    struct Case {
        double levelDb;
        bool invert;
        double gain;
        bool exact; // a power of two scales without rounding
    };
    const double sixDb = 20.0 * std::log10(2.0);
    for (const Case& c :
         {Case{-sixDb, false, 0.5, true}, Case{2 * sixDb, false, 4.0, true},
          Case{0.0, true, -1.0, true}, Case{-sixDb, true, -0.5, true},
          Case{-6.0, false, 0.501187233627272, false}, Case{MinLevelDb, false, 0.001, false}}) {
        const std::vector<double> taps = Trimmed({c.levelDb, 0.0, c.invert});
        for (std::size_t i = 0; i < taps.size(); ++i) {
            if (c.exact)
                ASSERT_EQ(taps[i], plain[i] * c.gain) << c.levelDb << " dB, tap " << i;
            else
                ASSERT_NEAR(taps[i], plain[i] * c.gain, 1e-12 * std::abs(plain[i]) + 1e-300)
                    << c.levelDb << " dB, tap " << i;
        }
    }
}

TEST(BandTrim, WholeSampleDelaysShiftTheTapsExactly) {
    const std::vector<double> linear = PlainBand();
    const std::vector<double> minimum = MinimumPhaseBand(LowMidBand);
    // One sample at 48 kHz, and 0.5 ms = 24 samples: both land on whole samples.
    for (const auto& [ms, shift] : {std::pair{1000.0 / Rate, 1}, std::pair{0.5, 24}}) {
        const std::vector<double> taps = Trimmed({0.0, ms, false});
        const std::vector<double> late = TrimmedMinimumPhase(minimum, {0.0, ms, false});
        for (int i = 0; i < shift; ++i) {
            ASSERT_EQ(taps[i], 0.0) << ms;
            ASSERT_EQ(late[i], 0.0) << ms;
        }
        for (std::size_t i = shift; i < taps.size(); ++i) {
            ASSERT_EQ(taps[i], linear[i - shift]) << ms << " ms, tap " << i;
            ASSERT_EQ(late[i], minimum[i - shift]) << ms << " ms, tap " << i;
        }
    }
}

TEST(BandTrim, HalfASampleMovesTheCentreOfSymmetryByHalfASample) {
    const std::vector<double> plain = PlainBand();
    const double peak = *std::max_element(plain.begin(), plain.end());
    const std::vector<double> taps = Trimmed({0.0, 0.5 * 1000.0 / Rate, false});
    // Symmetric about 32768.5: tap 32769 + j mirrors tap 32768 - j.
    for (int j = 0; j < 32767; ++j)
        ASSERT_NEAR(taps[32769 + j], taps[32768 - j], 1e-11 * peak) << j;
    EXPECT_NEAR(taps[32768], taps[32769], 1e-12 * peak);
    EXPECT_GT(taps[32768], 0.4 * peak);
}

TEST(BandTrim, ShortenedAroundAHalfSampleDelayStaysSymmetricAboutTheMovedPeak) {
    const std::vector<double> delayed = Trimmed({0.0, 0.5 * 1000.0 / Rate, false});
    const std::vector<double> taps = ShortenLinearAround(delayed, 8192, 0.5);
    const double peak = *std::max_element(taps.begin(), taps.end());
    const std::int32_t centre = LinearPhasePeak(8192); // the moved peak: centre + 0.5
    EXPECT_NEAR(taps[centre], taps[centre + 1], 1e-12 * peak);
    EXPECT_GT(taps[centre], 0.4 * peak);
    for (std::int32_t j = 1; centre + 1 + j < 8192 && centre - j >= 0; ++j)
        ASSERT_NEAR(taps[centre + 1 + j], taps[centre - j], 1e-11 * peak) << j;
    // Without a fraction it is the plain shortening.
    const std::vector<double> plain = PlainBand();
    EXPECT_EQ(ShortenLinearAround(plain, 8192, 0.0), ShortenBand(plain, BandPhase::Linear, 8192));
}

TEST(BandTrim, FractionalDelayIsALinearPhaseOnEveryBin) {
    const std::vector<double> plain = PlainBand();
    const double samples = 10.3;
    const std::vector<double> taps = Trimmed({0.0, samples * 1000.0 / Rate, false});
    const auto before = Spectrum(plain);
    const auto after = Spectrum(taps);
    const double n = CoefficientCount;
    int checked = 0;
    for (std::size_t k = 1; k + 1 < before.size(); k += 97) {
        if (std::abs(before[k]) < 1e-3) continue; // stop band: rounding noise, no phase
        const std::complex<double> expected =
            before[k] * std::polar(1.0, -2.0 * std::numbers::pi * k * samples / n);
        EXPECT_NEAR(std::abs(after[k] - expected), 0.0, 1e-9 * std::abs(before[k])) << k;
        ++checked;
    }
    EXPECT_GT(checked, 20);
}

TEST(BandTrim, DelaysThatCutTheResponseOffAreRefused) {
    // A response with energy right up to its last tap has no room for any delay, whole or
    // with a fraction, in either phase.
    for (const BandPhase phase : {BandPhase::Linear, BandPhase::Minimum})
        for (const double ms : {1.0, 1.01}) {
            PlainBand();
            for (std::int32_t i = 0; i < SpecLength; ++i)
                SpecRe[i] = std::sin(0.01 * i);
            try {
                ApplyTrim({0.0, ms, false}, Rate, "High", phase);
                ADD_FAILURE() << ms << " ms pushing the response past the last tap was accepted";
            } catch (const TarnError& e) {
                EXPECT_NE(std::string(e.what()).find("High"), std::string::npos) << e.what();
            }
        }
    // The designed bands have room for the longest delay at the highest rate.
    PlainBand();
    EXPECT_NO_THROW(ApplyTrim({0.0, MaxDelayMs, false}, 192000.0, "Mid"));
    const std::vector<double> minimum = MinimumPhaseBand(LowMidBand);
    const std::vector<double> late = TrimmedMinimumPhase(minimum, {0.0, 19.99, false}, 192000.0);
    // 19.99 ms at 192 kHz: 3838.08 samples, of which the band starts 3838 later.
    EXPECT_LT(ShareOfEnergy(late, 0, 3838), 1e-9);
    EXPECT_GT(std::abs(late[3838 + 5]), 0.1 * std::abs(minimum[5]));
}

TEST(BandTrim, PeakGainIsTheLargestGainOverFrequency) {
    PlainBand();
    const double plainPeak = PeakGainDb();
    EXPECT_NEAR(plainPeak, 0.0, 0.05); // a band-pass with a flat top
    ApplyTrim({6.0, 0.0, true}, Rate, "Mid");
    EXPECT_NEAR(PeakGainDb(), plainPeak + 6.0, 1e-9);
    EXPECT_DOUBLE_EQ(DelayMsFromMillimetres(343.0), 1.0);
}

TEST(BandTrim, AMinimumPhaseBandStartsLaterByAFractionWithItsResponseKept) {
    // A band with nothing near the Nyquist frequency, delayed by fractions with and without
    // whole samples of room in front of it: exact below 0.9 of the Nyquist frequency, and
    // nothing of its lead-in wrapped round to the end of the taps.
    const std::vector<double> plain = MinimumPhaseBand(LowMidBand);
    for (const int whole : {0, 4})
        for (const double frac : {0.25, 0.5, 0.8}) {
            const double samples = whole + frac;
            const std::vector<double> taps =
                TrimmedMinimumPhase(plain, {0.0, samples * 1000.0 / Rate, false});
            const Departure d = DepartureFromMoved(plain, taps, samples, 0.9 * Rate / 2);
            EXPECT_LT(d.levelDb, 0.01) << samples;
            EXPECT_LT(d.groupDelay, 0.01) << samples;
            EXPECT_LT(d.stopBandDb, -95.0) << samples;
            EXPECT_LT(ShareOfEnergy(taps, taps.size() - taps.size() / 10, taps.size()), 1e-12)
                << samples;
            EXPECT_LT(ShareOfEnergy(taps, 0, static_cast<std::size_t>(whole)), 1e-9) << samples;
        }
}

TEST(BandTrim, ATopBandDelayedByAFractionKeepsItsStopBand) {
    // The High band reaches the Nyquist frequency at full level: a fraction's lead-in does not
    // fit in front of it. What that costs must stay in its pass band (its stop band, where the
    // bands below it play, as designed) and nothing may wrap round to the end of the taps.
    const std::vector<double> plain = MinimumPhaseBand(HighBand);
    struct Case {
        double ms;
        double levelDb;    // largest departure below 16 kHz
        double groupDelay; // samples, below 16 kHz
    };
    // 0.1 ms = 4 + 0.8 samples, 0.3 ms = 14 + 0.4, and half a sample with no room at all.
    for (const Case& c : {Case{0.1, 0.1, 0.07}, Case{0.3, 0.03, 0.05}, Case{0.5 / 48, 1.3, 0.25}}) {
        const std::vector<double> taps = TrimmedMinimumPhase(plain, {0.0, c.ms, false});
        const Departure d = DepartureFromMoved(plain, taps, c.ms * Rate / 1000.0, 16000.0);
        EXPECT_LT(d.stopBandDb, -95.0) << c.ms;
        EXPECT_LT(d.levelDb, c.levelDb) << c.ms;
        EXPECT_LT(d.groupDelay, c.groupDelay) << c.ms;
        EXPECT_LT(ShareOfEnergy(taps, taps.size() - taps.size() / 10, taps.size()), 1e-12) << c.ms;
    }
}

} // namespace
} // namespace tarn
