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
    const std::vector<double> plain = PlainBand();
    // One sample at 48 kHz, and 0.5 ms = 24 samples: both land on whole samples.
    for (const auto& [ms, shift] : {std::pair{1000.0 / Rate, 1}, std::pair{0.5, 24}}) {
        const std::vector<double> taps = Trimmed({0.0, ms, false});
        for (int i = 0; i < shift; ++i)
            ASSERT_EQ(taps[i], 0.0) << ms;
        for (std::size_t i = shift; i < taps.size(); ++i)
            ASSERT_EQ(taps[i], plain[i - shift]) << ms << " ms, tap " << i;
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
    // A response with energy right up to its last tap has no room for any delay.
    PlainBand();
    for (std::int32_t i = 0; i < SpecLength; ++i)
        SpecRe[i] = std::sin(0.01 * i);
    try {
        ApplyTrim({0.0, 1.0, false}, Rate, "High");
        ADD_FAILURE() << "a delay pushing the response past the last tap was accepted";
    } catch (const TarnError& e) {
        EXPECT_NE(std::string(e.what()).find("High"), std::string::npos) << e.what();
    }
    // The designed band has room for the longest delay at the highest rate.
    PlainBand();
    EXPECT_NO_THROW(ApplyTrim({0.0, MaxDelayMs, false}, 192000.0, "Mid"));
}

TEST(BandTrim, PeakGainIsTheLargestGainOverFrequency) {
    PlainBand();
    const double plainPeak = PeakGainDb();
    EXPECT_NEAR(plainPeak, 0.0, 0.05); // a band-pass with a flat top
    ApplyTrim({6.0, 0.0, true}, Rate, "Mid");
    EXPECT_NEAR(PeakGainDb(), plainPeak + 6.0, 1e-9);
    EXPECT_DOUBLE_EQ(DelayMsFromMillimetres(343.0), 1.0);
}

} // namespace
} // namespace tarn
