// FftKernel: the complex FFT that every transform of Tarn runs on, with its twiddle tables.
//
// Conventions, for every routine here and in RealSpectrum.h:
//   * Forward: X[k] = sum_{m=0}^{n-1} x[m] exp(-2 pi i k m / n); inverse: exp(+2 pi i k m / n).
//     Neither is scaled; the callers scale.
//   * Data: split arrays re[0..n-1] and im[0..n-1], transformed in place; n = 2^lg points.
//   * Bin layout: in natural order, element k is bin k (k / n of the sample rate), bins
//     n/2+1..n-1 the negative frequencies; bit-reversed order puts bin k at element rev(k),
//     k with its lg bits reversed.
//   * Order: Radix2Fft takes and gives natural order. Radix4Fft's decimation in time
//     (Forward, Inverse) takes its input in bit-reversed order and gives natural order;
//     its decimation in frequency (ForwardDif) takes natural order and gives bit-reversed
//     order.
//   * A butterfly multiplies by a twiddle as (x + iy)(c - is) in the forward and
//     (x + iy)(c + is) in the inverse direction, c = cos, s = sin of 2 pi j / span.
//   * Nothing here checks its arguments beyond debug assertions.
//
// Two families share the butterfly arithmetic and the bit reversal:
//   * Radix2Fft runs radix-2 stages with a twiddle table its user fills stage by stage. The
//     reference transforms (SplitFFT with its recurrence twiddles, CepstrumFFT with table
//     lookups) are defined down to every twiddle and every operation, so they run on it and
//     give bit for bit what their literal loops give.
//   * Radix4Fft runs radix-4 stages (and one radix-2 stage when lg is odd), depth-first so
//     that the small stages stay in the level-1 cache, with exact twiddles read from a
//     quarter-wave sine table: the minimum-phase conversion and the analysis.
#pragma once

#include <array>
#include <cassert>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarn::fft {

// Told how many elements a transform has just passed through, so that a long calculation
// can let the window in now and then (see MinimumPhase.cpp); may be null.
using Progress = void (*)(std::int64_t elements);

// Read access to a quarter-wave sine table t[i] = sin(2 pi i / P), i = 0..P/4, with t[P/4]
// exactly 1. Angles are indices k of 2 pi k / P. The table belongs to the caller.
struct QuarterWave {
    const double* t = nullptr;
    std::int32_t period = 0; // P, a power of two >= 4

    // sin(2 pi k / P) and cos(2 pi k / P) for k in [0, P).
    double Sin(std::int32_t k) const {
        const std::int32_t half = period / 2, quarter = period / 4;
        if (k <= quarter) return t[k];
        if (k <= half) return t[half - k];
        if (k <= half + quarter) return -t[k - half];
        return -t[period - k];
    }
    double Cos(std::int32_t k) const { return Sin((k + period / 4) & (period - 1)); }
    // The first quadrant only, k in [0, P/4]: one load, no branch.
    double Sin1(std::int32_t k) const { return t[k]; }
    double Cos1(std::int32_t k) const { return t[period / 4 - k]; }
};

// The quarter-wave table of period P (a power of two >= 4): entry i = sin(i * step) with the
// step 2 pi / P rounded to a double first, for i < P/4, and exactly 1.0 at P/4, so that the
// quarter points come out exact.
std::vector<double> QuarterWaveSines(std::int32_t period);

// rev[i] = i with its lg lowest bits in reverse order, i = 0..2^lg-1.
std::vector<std::uint32_t> BitReversal(int lg);

// Radix-2 decimation in time. The stage of half-size h (h = 1, 2, 4, ..., n/2) puts the
// element pairs (j, j + h) of each block of 2h through the butterfly t = b u_j, b = a - t,
// a = a + t, with u_j its j-th twiddle.
class Radix2Fft {
  public:
    // Makes ready the twiddles of every stage of a transform of up to n points (a power of
    // two >= 2): fill(h, re, im) writes the h twiddles of the stage of half-size h. A stage's
    // twiddles depend on h alone, so a table prepared for n serves every smaller size.
    template <typename Fill> void Prepare(std::int32_t n, Fill fill) {
        twiddleRe_.resize(static_cast<std::size_t>(n) - 1);
        twiddleIm_.resize(static_cast<std::size_t>(n) - 1);
        for (std::int32_t h = 1; h < n; h *= 2)
            fill(h, twiddleRe_.data() + (h - 1), twiddleIm_.data() + (h - 1));
        size_ = n;
    }
    // Largest transform prepared [points]; 0 before the first Prepare.
    std::int32_t Size() const { return size_; }

    // The DFT of re/im[0..n-1] in place, natural order in and out; n [points] a power of two,
    // n <= Size() (n = 1 leaves the point as it is).
    void Transform(double* re, double* im, std::int32_t n);
    // One stage of half-size h [points] over re/im[0..n-1]; 2h <= n <= Size(). With h = n/2
    // it joins the transforms of the two halves into that of the whole.
    void Stage(double* re, double* im, std::int32_t n, std::int32_t h) const;

  private:
    std::vector<double> twiddleRe_, twiddleIm_; // stage h at entries h-1 .. 2h-2
    std::int32_t size_ = 0;
    std::vector<std::uint32_t> reversal_; // of the last size transformed
    std::vector<double> scratchRe_, scratchIm_;
};

// Twiddles of the radix-4 stages: for the stage of span M = 2^lg and j = 0..M/4-1, the
// cosines and sines of 2 pi j/M, 2 pi 2j/M and 2 pi 3j/M, each in its own contiguous array so
// that the butterfly loop reads them in step with the data.
class Radix4Twiddles {
  public:
    struct Set {
        const double *c1, *s1, *c2, *s2, *c3, *s3;
    };

    // Stages of span 2^3 .. 2^maxLog (the span-4 stage needs none); 2^maxLog divides P.
    void Build(const QuarterWave& table, int maxLog, Progress progress);
    Set For(int lg) const {
        const std::size_t d = Stride(lg);
        const double* w = store_.get() + offset_[lg];
        return {w, w + d, w + 2 * d, w + 3 * d, w + 4 * d, w + 5 * d};
    }

  private:
    // Distance between a stage's six arrays: M/4 plus a cache line and a bit, so that they
    // do not all fall into the same level-1 cache set.
    static std::size_t Stride(int lg) { return (std::size_t{1} << (lg - 2)) + 24; }

    std::unique_ptr<double[]> store_;
    std::array<std::size_t, 32> offset_{};
};

// Radix-4 transforms of up to 2^maxLog points with exact twiddles; owns its twiddles and its
// bit-reversal table.
class Radix4Fft {
  public:
    // table: the quarter-wave sines of a period P that 2^maxLog divides; the twiddles are
    // copied from it. maxLog: log2 of the largest transform [points], >= 1. progress: told of
    // the work done, may be null.
    Radix4Fft(const QuarterWave& table, int maxLog, Progress progress = nullptr);

    int MaxLog() const { return maxLog_; }

    // Decimation in time, bit-reversed order in, natural order out; lg <= MaxLog(). With
    // firstQuarter, the inverse's last stage forms only outputs 0..2^lg/4-1 (lg >= 2).
    void Forward(double* re, double* im, int lg) const;
    void Inverse(double* re, double* im, int lg, bool firstQuarter = false) const;
    // Decimation in frequency, forward: natural order in, bit-reversed order out.
    void ForwardDif(double* re, double* im, int lg) const;

    // i reversed over lg bits, i < 2^lg, lg <= MaxLog().
    std::uint32_t Reversed(std::uint32_t i, int lg) const {
        assert(lg <= maxLog_ && i < (std::uint32_t{1} << lg));
        return lg == 0 ? 0 : reversal_[i] >> (maxLog_ - lg);
    }

    // Fills re/im[0..2^lg) in bit-reversed order, element rev(m) = value(m), for a decimation
    // in time: value(m, re&, im&) writes point m. In plain order every point would land in a
    // new cache line; here m runs in tiles of 8 x 8 (its top and bottom three bits), so a
    // tile reads eight runs of eight consecutive m and fills eight whole cache lines.
    template <typename Value>
    void ScatterBitReversed(double* re, double* im, int lg, Value value) const;

  private:
    template <bool Inverse> void Dit(double* re, double* im, int lg, bool firstQuarter) const;
    void Dif(double* re, double* im, int lg) const;
    void Worked(std::int64_t elements) const {
        if (progress_) progress_(elements);
    }

    int maxLog_;
    Progress progress_;
    Radix4Twiddles twiddles_;
    std::vector<std::uint32_t> reversal_; // over maxLog_ bits
};

template <typename Value>
void Radix4Fft::ScatterBitReversed(double* re, double* im, int lg, Value value) const {
    const std::int32_t count = std::int32_t{1} << lg;
    if (lg < 6) {
        for (std::int32_t m = 0; m < count; ++m) {
            const std::uint32_t j = Reversed(m, lg);
            value(m, re[j], im[j]);
        }
        return;
    }
    static constexpr std::int32_t Rev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    const int midBits = lg - 6;
    const std::int32_t mids = std::int32_t{1} << midBits, top = lg - 3;
    for (std::int32_t mid = 0; mid < mids; ++mid) {
        const std::int32_t revMid = static_cast<std::int32_t>(Reversed(mid, midBits));
        for (std::int32_t lo = 0; lo < 8; ++lo) {
            const std::int32_t to = (Rev3[lo] << top) | (revMid << 3);
            const std::int32_t from = (mid << 3) | lo;
            for (std::int32_t hi = 0; hi < 8; ++hi)
                value(from | (hi << top), re[to | Rev3[hi]], im[to | Rev3[hi]]);
        }
    }
}

// (x + iy) times the twiddle c -+ is: the forward transform turns by -theta, the inverse by
// +theta.
template <bool Inverse>
inline void Rotate(double x, double y, double c, double s, double& outRe, double& outIm) {
    if constexpr (Inverse) {
        outRe = x * c - y * s;
        outIm = y * c + x * s;
    } else {
        outRe = x * c + y * s;
        outIm = y * c - x * s;
    }
}

} // namespace tarn::fft
