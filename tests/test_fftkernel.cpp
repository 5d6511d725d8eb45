// The shared FFT kernel and the real-spectrum split: each radix-4 transform against the direct
// DFT for every small size, the real split against the complex transform, and round trips and
// cross-checks at the sizes whose stages run depth-first. (The radix-2 transforms are held
// against the direct DFT and their literal loops in test_fastfourier and test_minimumphase.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "spectral/FftKernel.h"
#include "spectral/RealSpectrum.h"
#include "tests/DirectDft.h"

namespace tarn::fft {
namespace {

using test::DirectDft;
using test::LongComplex;

constexpr int MaxLog = 16;
constexpr std::int32_t Period = 8 << MaxLog; // as in the conversion: 2^MaxLog divides it

struct Data {
    std::vector<double> re, im;
};

Data Random(std::int32_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    Data d{std::vector<double>(n), std::vector<double>(n)};
    for (std::int32_t i = 0; i < n; ++i) {
        d.re[i] = value(random);
        d.im[i] = value(random);
    }
    return d;
}

std::vector<LongComplex> AsComplex(const Data& d) {
    std::vector<LongComplex> x;
    for (std::size_t i = 0; i < d.re.size(); ++i)
        x.emplace_back(d.re[i], d.im[i]);
    return x;
}

// Largest |got - expected| over the points, relative to the largest |expected|; place(k) is
// where bin k lies in got.
template <typename Place>
double Error(const Data& got, const std::vector<LongComplex>& expected, std::int32_t points,
             Place place) {
    long double error = 0, largest = 0;
    for (std::int32_t k = 0; k < points; ++k) {
        const std::int32_t p = place(k);
        error = std::max(error, std::abs(LongComplex(got.re[p], got.im[p]) - expected[k]));
        largest = std::max(largest, std::abs(expected[k]));
    }
    return static_cast<double>(error / largest);
}

class FftKernel : public ::testing::Test {
  protected:
    std::vector<double> sines = QuarterWaveSines(Period);
    QuarterWave table{sines.data(), Period};
    Radix4Fft kernel{table, MaxLog};
};

TEST_F(FftKernel, Radix4TransformsMatchTheDirectDftInEveryDirectionAndOrder) {
    const auto natural = [](std::int32_t k) { return k; };
    for (int lg = 1; lg <= 10; ++lg) {
        const std::int32_t n = std::int32_t{1} << lg;
        const auto reversed = [&](std::int32_t k) { return std::int32_t(kernel.Reversed(k, lg)); };
        const Data x = Random(n, lg);
        const std::vector<LongComplex> forward = DirectDft(AsComplex(x), -1);
        const std::vector<LongComplex> inverse = DirectDft(AsComplex(x), +1);
        const double bound = 2e-16 * (lg + 1);

        Data dit = x; // decimation in time takes bit-reversed input
        for (std::int32_t m = 0; m < n; ++m) {
            dit.re[reversed(m)] = x.re[m];
            dit.im[reversed(m)] = x.im[m];
        }
        Data a = dit, b = dit, c = dit, dif = x;
        kernel.Forward(a.re.data(), a.im.data(), lg);
        kernel.Inverse(b.re.data(), b.im.data(), lg);
        kernel.ForwardDif(dif.re.data(), dif.im.data(), lg);
        EXPECT_LT(Error(a, forward, n, natural), bound) << "forward, lg " << lg;
        EXPECT_LT(Error(b, inverse, n, natural), bound) << "inverse, lg " << lg;
        EXPECT_LT(Error(dif, forward, n, reversed), bound) << "decimation in frequency, lg " << lg;
        if (lg >= 2) {
            kernel.Inverse(c.re.data(), c.im.data(), lg, true);
            EXPECT_LT(Error(c, inverse, n / 4, natural), bound) << "first quarter, lg " << lg;
        }
    }
}

// Beyond 2^11 points the stages run depth-first: no direct DFT at these sizes, but the
// decimations in time and in frequency must agree, a round trip through both must return
// n times the input, and the first quarter of an inverse must be exactly that of the whole.
TEST_F(FftKernel, DepthFirstSizesAgreeAcrossOrdersAndRoundTrip) {
    for (int lg : {12, 13, 16}) {
        const std::int32_t n = std::int32_t{1} << lg;
        const Data x = Random(n, 100 + lg);
        Data dif = x, dit = x;
        kernel.ForwardDif(dif.re.data(), dif.im.data(), lg);
        kernel.ScatterBitReversed(dit.re.data(), dit.im.data(), lg,
                                  [&x](std::int32_t m, double& re, double& im) {
                                      re = x.re[m];
                                      im = x.im[m];
                                  });
        kernel.Forward(dit.re.data(), dit.im.data(), lg);
        double disagreement = 0, largest = 0;
        for (std::int32_t k = 0; k < n; ++k) {
            const std::int32_t p = kernel.Reversed(k, lg);
            disagreement = std::max(
                {disagreement, std::abs(dit.re[k] - dif.re[p]), std::abs(dit.im[k] - dif.im[p])});
            largest = std::max(largest, std::abs(dit.re[k]));
        }
        EXPECT_LT(disagreement / largest, 1e-14) << lg;

        // The decimation in frequency leaves bit-reversed order, which the inverse takes.
        Data quarter = dif;
        kernel.Inverse(dif.re.data(), dif.im.data(), lg);
        kernel.Inverse(quarter.re.data(), quarter.im.data(), lg, true);
        double error = 0;
        for (std::int32_t m = 0; m < n; ++m)
            error = std::max({error, std::abs(std::ldexp(dif.re[m], -lg) - x.re[m]),
                              std::abs(std::ldexp(dif.im[m], -lg) - x.im[m])});
        EXPECT_LT(error, 1e-14) << lg;
        for (std::int32_t m = 0; m < n / 4; ++m) {
            ASSERT_EQ(quarter.re[m], dif.re[m]) << lg << " " << m;
            ASSERT_EQ(quarter.im[m], dif.im[m]) << lg << " " << m;
        }
    }
}

// The real transform: bins 0..n/2, each delivered once, against the direct DFT of the
// zero-padded input and against the complex kernel run on the same samples.
TEST_F(FftKernel, RealSplitMatchesTheDirectDftAndTheComplexTransform) {
    RealFft real(1 << 10, table);
    for (int lg = 2; lg <= 10; ++lg) {
        const std::int32_t n = std::int32_t{1} << lg;
        for (std::int32_t count : {n, n / 2 + 1, 1}) {
            const Data input = Random(count, 7 * lg + count);
            const std::vector<double>& x = input.re;
            Data bins{std::vector<double>(n / 2 + 1), std::vector<double>(n / 2 + 1)};
            std::vector<int> delivered(n / 2 + 1, 0);
            real.Forward(
                lg,
                [&x](std::int32_t t, double& zr, double& zi) {
                    zr = 2 * t < std::ssize(x) ? x[2 * t] : 0.0;
                    zi = 2 * t + 1 < std::ssize(x) ? x[2 * t + 1] : 0.0;
                },
                [&](std::int32_t k, double re, double im) {
                    bins.re[k] = re;
                    bins.im[k] = im;
                    ++delivered[k];
                });
            EXPECT_EQ(delivered, std::vector<int>(n / 2 + 1, 1)) << n << " " << count;
            EXPECT_EQ(bins.im[0], 0.0);
            EXPECT_EQ(bins.im[n / 2], 0.0);

            Data complex{std::vector<double>(n), std::vector<double>(n, 0.0)};
            for (std::int32_t m = 0; m < count; ++m)
                complex.re[kernel.Reversed(m, lg)] = x[m];
            kernel.Forward(complex.re.data(), complex.im.data(), lg);
            std::vector<LongComplex> viaComplex;
            for (std::int32_t k = 0; k < n; ++k)
                viaComplex.emplace_back(complex.re[k], complex.im[k]);

            const auto natural = [](std::int32_t k) { return k; };
            const std::vector<LongComplex> direct =
                DirectDft(std::vector<LongComplex>(x.begin(), x.end()), -1, n);
            EXPECT_LT(Error(bins, direct, n / 2 + 1, natural), 2e-16 * (lg + 1))
                << n << " " << count;
            EXPECT_LT(Error(bins, viaComplex, n / 2 + 1, natural), 2e-16 * (lg + 1))
                << n << " " << count;
        }
    }
}

} // namespace
} // namespace tarn::fft
