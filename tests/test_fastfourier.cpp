// The workspace transforms against a long-double direct DFT, by round trips, and on the
// spectra the band designs feed them.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "project/HeadlessWindow.h"
#include "spectral/FastFourier.h"
#include "tests/DirectDft.h"

namespace tarn {
namespace {

using Complex = test::LongComplex;
using test::DirectDft;

std::vector<double> RandomValues(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> v(n);
    for (double& x : v)
        x = value(random);
    return v;
}

long double MaxAbs(const std::vector<Complex>& v) {
    long double m = 0;
    for (const auto& c : v)
        m = std::max(m, std::abs(c));
    return m;
}

// The real transforms written loop by loop as defined, with the twiddle recurrence walked
// butterfly group by butterfly group: the bits the workspace transforms must deliver.
namespace literal {

void SplitFft(std::vector<double>& re, std::vector<double>& im, std::int32_t n) {
    for (std::int32_t i = 1, j = n / 2; i <= n - 2; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        std::int32_t k = n / 2;
        for (; k <= j; k /= 2)
            j -= k;
        j += k;
    }
    for (std::int32_t h = 1; h < n; h *= 2) {
        const double pi = 3.14159265358979323846, wr = std::cos(pi / h), wi = -std::sin(pi / h);
        double ur = 1.0, ui = 0.0;
        for (std::int32_t j = 0; j < h; ++j) {
            for (std::int32_t i = j; i <= n - 1; i += 2 * h) {
                const double tr = re[i + h] * ur - im[i + h] * ui;
                const double ti = re[i + h] * ui + im[i + h] * ur;
                re[i + h] = re[i] - tr;
                im[i + h] = im[i] - ti;
                re[i] = re[i] + tr;
                im[i] = im[i] + ti;
            }
            const double next = ur * wr - ui * wi;
            ui = ur * wi + ui * wr;
            ur = next;
        }
    }
}

void InverseRealFft(std::vector<double>& re, std::vector<double>& im) {
    const std::int32_t n = static_cast<std::int32_t>(re.size()), h = n / 2;
    for (std::int32_t k = h + 1; k < n; ++k) {
        re[k] = re[n - k];
        im[k] = -im[n - k];
    }
    for (std::int32_t k = 0; k < n; ++k)
        re[k] = re[k] + im[k];
    for (std::int32_t i = 0; i < h; ++i) {
        re[i] = re[2 * i];
        im[i] = re[2 * i + 1];
    }
    SplitFft(re, im, h);
    for (std::int32_t i = 1; i < n / 4; ++i) {
        const std::int32_t m = h - i, ip2 = i + h, ipm = m + h;
        re[ip2] = (im[i] + im[m]) / 2;
        re[ipm] = re[ip2];
        im[ip2] = -(re[i] - re[m]) / 2;
        im[ipm] = -im[ip2];
        re[i] = (re[i] + re[m]) / 2;
        re[m] = re[i];
        im[i] = (im[i] - im[m]) / 2;
        im[m] = -im[i];
    }
    re[3 * n / 4] = im[n / 4];
    re[h] = im[0];
    im[3 * n / 4] = im[h] = im[n / 4] = im[0] = 0.0;
    // The last stage over all n points.
    const double pi = 3.14159265358979323846, wr = std::cos(pi / h), wi = -std::sin(pi / h);
    double ur = 1.0, ui = 0.0;
    for (std::int32_t j = 0; j < h; ++j) {
        const double tr = re[j + h] * ur - im[j + h] * ui, ti = re[j + h] * ui + im[j + h] * ur;
        re[j + h] = re[j] - tr;
        im[j + h] = im[j] - ti;
        re[j] = re[j] + tr;
        im[j] = im[j] + ti;
        const double next = ur * wr - ui * wi;
        ui = ur * wi + ui * wr;
        ur = next;
    }
    for (std::int32_t m = 0; m < n; ++m) {
        re[m] = (re[m] + im[m]) / n;
        im[m] = 0.0;
    }
}

} // namespace literal

class FastFourierTest : public ::testing::Test {
  protected:
    void TearDown() override { FreeSpectrum(); }
};

TEST_F(FastFourierTest, SplitFftMatchesDirectDftForEverySmallSize) {
    for (std::int32_t n = 2; n <= 256; n *= 2) {
        // The workspace is longer than the transform: only elements 0..n-1 take part.
        AllocSpectrum(2 * n);
        const auto re = RandomValues(2 * n, n);
        const auto im = RandomValues(2 * n, n + 1000);
        std::vector<Complex> x(n);
        for (std::int32_t i = 0; i < 2 * n; ++i) {
            SpecRe[i] = re[i];
            SpecIm[i] = im[i];
        }
        for (std::int32_t i = 0; i < n; ++i)
            x[i] = Complex(re[i], im[i]);
        const auto expected = DirectDft(x);
        SplitFFT(n);
        const long double bound = 1e-15L * n * MaxAbs(expected);
        for (std::int32_t k = 0; k < n; ++k) {
            EXPECT_NEAR(SpecRe[k], expected[k].real(), bound) << "n=" << n << " k=" << k;
            EXPECT_NEAR(SpecIm[k], expected[k].imag(), bound) << "n=" << n << " k=" << k;
        }
        for (std::int32_t i = n; i < 2 * n; ++i) {
            EXPECT_EQ(SpecRe[i], re[i]);
            EXPECT_EQ(SpecIm[i], im[i]);
        }
    }
}

TEST_F(FastFourierTest, RealFftMatchesDirectDftAndIsConjugateSymmetric) {
    for (std::int32_t n = 2; n <= 1024; n *= 2) {
        AllocSpectrum(n);
        const auto x = RandomValues(n, 7 * n);
        const auto garbage = RandomValues(n, 11 * n);
        std::vector<Complex> xc(n);
        for (std::int32_t i = 0; i < n; ++i) {
            SpecRe[i] = x[i];
            SpecIm[i] = garbage[i] * 1e6; // must play no part
            xc[i] = x[i];
        }
        const auto expected = DirectDft(xc);
        RealFFT();
        const long double bound = 1e-15L * n * MaxAbs(expected);
        for (std::int32_t k = 0; k < n; ++k) {
            EXPECT_NEAR(SpecRe[k], expected[k].real(), bound) << "n=" << n << " k=" << k;
            EXPECT_NEAR(SpecIm[k], expected[k].imag(), bound) << "n=" << n << " k=" << k;
        }
        EXPECT_EQ(SpecIm[0], 0.0);
        EXPECT_EQ(SpecIm[n / 2], 0.0);
        for (std::int32_t k = 1; k < n / 2; ++k) {
            EXPECT_NEAR(SpecRe[n - k], SpecRe[k], bound);
            EXPECT_NEAR(SpecIm[n - k], -SpecIm[k], bound);
        }
    }
}

TEST_F(FastFourierTest, RealFftOfUnitImpulseIsFlat) {
    AllocSpectrum(65536);
    SpecRe[0] = 1.0;
    RealFFT();
    for (std::int32_t k = 0; k < SpecLength; ++k) {
        ASSERT_EQ(SpecRe[k], 1.0) << k;
        ASSERT_EQ(SpecIm[k], 0.0) << k;
    }
}

TEST_F(FastFourierTest, InverseRealFftMatchesDirectInverse) {
    for (std::int32_t n = 4; n <= 512; n *= 2) {
        AllocSpectrum(n);
        const auto re = RandomValues(n, 3 * n);
        const auto im = RandomValues(n, 5 * n);
        std::vector<Complex> spectrum(n);
        for (std::int32_t k = 0; k <= n / 2; ++k) {
            SpecRe[k] = re[k];
            SpecIm[k] = (k == 0 || k == n / 2) ? 0.0 : im[k];
            spectrum[k] = Complex(SpecRe[k], SpecIm[k]);
        }
        for (std::int32_t k = n / 2 + 1; k < n; ++k) {
            spectrum[k] = std::conj(spectrum[n - k]);
            SpecRe[k] = 1e9; // overwritten by the completion of the spectrum
            SpecIm[k] = -1e9;
        }
        // The inverse DFT is the conjugate of the forward DFT of the conjugate, over n.
        std::vector<Complex> conjugated(n);
        for (std::int32_t k = 0; k < n; ++k)
            conjugated[k] = std::conj(spectrum[k]);
        auto expected = DirectDft(conjugated);
        InverseRealFFT();
        for (std::int32_t m = 0; m < n; ++m) {
            const long double value = std::conj(expected[m]).real() / n;
            EXPECT_NEAR(SpecRe[m], value, 1e-15 * n) << "n=" << n << " m=" << m;
            EXPECT_EQ(SpecIm[m], 0.0);
        }
    }
}

TEST_F(FastFourierTest, RoundTripReturnsTheSamples) {
    AllocSpectrum(65536);
    const auto x = RandomValues(65536, 42);
    std::copy(x.begin(), x.end(), SpecRe.begin());
    RealFFT();
    InverseRealFFT();
    double worst = 0;
    for (std::int32_t i = 0; i < SpecLength; ++i)
        worst = std::max(worst, std::abs(SpecRe[i] - x[i]));
    // The twiddle recurrence runs up to 32768 steps and drifts by about that many ulps.
    EXPECT_LT(worst, 1e-11);
    for (std::int32_t i = 0; i < SpecLength; ++i)
        ASSERT_EQ(SpecIm[i], 0.0);
}

TEST_F(FastFourierTest, FlatSpectrumGivesImpulseAtZeroWhateverTheUpperBinsHeld) {
    AllocSpectrum(65536);
    for (std::int32_t k = 0; k <= SpecLength / 2; ++k)
        SpecRe[k] = 1.0;
    for (std::int32_t k = SpecLength / 2 + 1; k < SpecLength; ++k) {
        SpecRe[k] = 123.0;
        SpecIm[k] = -7.0;
    }
    InverseRealFFT();
    EXPECT_NEAR(SpecRe[0], 1.0, 1e-12);
    for (std::int32_t m = 1; m < SpecLength; ++m)
        ASSERT_NEAR(SpecRe[m], 0.0, 1e-12) << m;
}

TEST_F(FastFourierTest, LinearPhaseOfPiPerBinDelaysByHalfTheLength) {
    AllocSpectrum(65536);
    const double pi = 3.14159265358979323846;
    for (std::int32_t k = 0; k <= SpecLength / 2; ++k) {
        SpecRe[k] = 1.0;
        SpecIm[k] = k < SpecLength / 2 ? pi * k : 0.0;
    }
    PolarToRect();
    InverseRealFFT();
    EXPECT_NEAR(SpecRe[32768], 1.0, 1e-9);
    double worst = 0;
    for (std::int32_t m = 0; m < SpecLength; ++m)
        if (m != 32768) worst = std::max(worst, std::abs(SpecRe[m]));
    EXPECT_LT(worst, 1e-9);
}

TEST_F(FastFourierTest, ImaginaryPartsAtDcAndNyquistActAsRealParts) {
    const double v = 3.5;
    AllocSpectrum(1024);
    SpecIm[0] = v;
    InverseRealFFT();
    for (std::int32_t m = 0; m < SpecLength; ++m)
        ASSERT_NEAR(SpecRe[m], v / SpecLength, 1e-15) << m;

    AllocSpectrum(1024);
    SpecIm[SpecLength / 2] = v;
    InverseRealFFT();
    for (std::int32_t m = 0; m < SpecLength; ++m)
        ASSERT_NEAR(SpecRe[m], (m % 2 ? -v : v) / SpecLength, 1e-15) << m;
}

TEST_F(FastFourierTest, PolarToRectConvertsLowerHalfOnlyAndFollowsChangedPhases) {
    AllocSpectrum(64);
    // Twice with different phases: remembered cosines must never answer for a new phase.
    for (int round = 0; round < 3; ++round) {
        const auto magnitude = RandomValues(64, 100 + round);
        const auto phase = RandomValues(64, 200 + (round == 2 ? 0 : round));
        for (std::int32_t k = 0; k < 64; ++k) {
            SpecRe[k] = magnitude[k];
            SpecIm[k] = phase[k] * 1000.0;
        }
        PolarToRect();
        for (std::int32_t k = 0; k <= 32; ++k) {
            EXPECT_DOUBLE_EQ(SpecRe[k], std::cos(phase[k] * 1000.0) * magnitude[k]);
            EXPECT_DOUBLE_EQ(SpecIm[k], std::sin(phase[k] * 1000.0) * magnitude[k]);
        }
        for (std::int32_t k = 33; k < 64; ++k) {
            EXPECT_EQ(SpecRe[k], magnitude[k]);
            EXPECT_EQ(SpecIm[k], phase[k] * 1000.0);
        }
    }
}

// Every step of the workspace transforms is defined down to the operation, so that the
// coefficient files stay the same bits whatever the kernel does to be fast.
TEST_F(FastFourierTest, InverseRealFftEqualsTheLiteralStepsBitForBit) {
    for (std::int32_t n : {2, 4, 8, 64, 4096}) {
        AllocSpectrum(n);
        const auto re = RandomValues(n, 17 * n), im = RandomValues(n, 19 * n);
        std::copy(re.begin(), re.end(), SpecRe.begin());
        std::copy(im.begin(), im.end(), SpecIm.begin());
        std::vector<double> literalRe = re, literalIm = im;
        InverseRealFFT();
        literal::InverseRealFft(literalRe, literalIm);
        for (std::int32_t m = 0; m < n; ++m) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(SpecRe[m]),
                      std::bit_cast<std::uint64_t>(literalRe[m]))
                << "n=" << n << " m=" << m;
            ASSERT_EQ(SpecIm[m], 0.0);
        }
    }
}

TEST_F(FastFourierTest, BinFrequency) {
    AllocSpectrum(65536);
    EXPECT_DOUBLE_EQ(BinFrequency(1, 1.0 / 44100), 44100.0 / 65536);
    EXPECT_DOUBLE_EQ(BinFrequency(1, 1.0 / 48000), 48000.0 / 65536);
    EXPECT_DOUBLE_EQ(BinFrequency(32768, 1.0 / 48000), 24000.0);
    EXPECT_EQ(BinFrequency(0, 1.0 / 44100), 1e-7);
    EXPECT_EQ(BinFrequency(0, 1.0), 1e-7);
}

TEST_F(FastFourierTest, AllocationZeroesAndFreeKeepsTheLength) {
    AllocSpectrum(65536);
    for (std::int32_t i = 0; i < SpecLength; ++i)
        SpecRe[i] = SpecIm[i] = i + 1.0;
    AllocSpectrum(65536);
    ASSERT_EQ(SpecRe.size(), 65536u);
    ASSERT_EQ(SpecIm.size(), 65536u);
    for (std::int32_t i = 0; i < SpecLength; ++i) {
        ASSERT_EQ(SpecRe[i], 0.0);
        ASSERT_EQ(SpecIm[i], 0.0);
    }
    FreeSpectrum();
    EXPECT_TRUE(SpecRe.empty());
    EXPECT_TRUE(SpecIm.empty());
    EXPECT_EQ(SpecLength, 65536);
}

TEST_F(FastFourierTest, EachTransformLetsTheWindowHandleMessages) {
    HeadlessWindow window;
    ScopedWindow scoped(window);
    AllocSpectrum(256);
    InverseRealFFT(); // itself, RealFFT and SplitFFT
    EXPECT_EQ(window.pumpCount, 3);
    RealFFT();
    EXPECT_EQ(window.pumpCount, 5);
}

} // namespace
} // namespace tarn
