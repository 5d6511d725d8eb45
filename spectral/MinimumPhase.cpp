#include "spectral/MinimumPhase.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>
#include <utility>

#include "core/Host.h"
#include "spectral/FastFourier.h"

// How the conversion is computed
//
// With x the n + 1 input samples, L = CepstrumLength, S = FoldedLength = L/4 and H = L/2,
// the result is defined by four transforms: X = DFT_L(x zero-padded), the cepstrum
// c = IDFT_L(ln|X|), Y = DFT_S(folded c), h = IDFT_S(exp Y), first n + 1 samples. Done
// literally that is two complex transforms of 2^20 points and two of 2^18, striding
// through 16 MiB. The structure of the data makes most of that work unnecessary:
//
//  1. x has at most L/16 nonzero samples, so X splits into 16 interleaved DFTs of
//     M0 = L/16 points each, X[16q + r] = DFT_M0(x[m] e^(-2 pi i r m / L))[q]. As x is
//     real, residue 16 - r mirrors residue r, so seven complex DFTs (r = 1..7) and one
//     real DFT of 2 M0 points (residues 0 and 8 together) give every |X[k]|^2, k = 0..H.
//  2. ln|X| is real and even, so the cepstrum is real and even: a type-I cosine transform
//     of the H + 1 values, of which only the first S outputs are used. It splits into a
//     type-II cosine transform of the odd bins and, recursively, a type-I transform of
//     the even bins; each type-II transform is one complex DFT of a quarter its size.
//  3. The folded cepstrum is real: Y comes from one complex DFT of S/2 points.
//  4. exp Y is Hermitian and only the first n + 1 <= S/4 output samples are kept: one
//     complex inverse DFT of S/2 points of which the last radix-4 stage forms only the
//     first quarter.
//
// The complex DFTs are radix-4 transforms on split real/imaginary arrays, run depth-first
// so that their small stages stay in the level-1 cache: decimation in time (input in
// bit-reversed order, output in natural order) and, for the residue DFTs of step 1,
// decimation in frequency (the transposed order). Bit-reversed order is produced by a
// tiled scatter, or avoided by keeping the power spectrum in bit-reversed rows, which
// the cepstrum's cosine transforms then read from start to end. The twiddles are
// per-stage contiguous copies of SineTable entries; the pre- and post-passes read
// SineTable directly. No sine or cosine is evaluated inside a transform and nothing
// accumulates from a recurrence. The results agree with the literal steps to rounding
// (a few 1e-12 of the peak on the bands, against 1e-9 allowed).
//
// Memory for n = 65535: the table (2 MiB), the stage twiddles (3 MiB), the bins (4 MiB),
// the cepstrum (2 MiB) and one transform buffer (2 MiB), instead of 16 MiB of CepstrumData.

namespace tarn {
namespace {

// Beside TablePeriod: the points TableSine reduces by, set by BuildSineTable.
std::int32_t tableHalf = 0;
std::int32_t tableQuarter = 0;
std::int32_t tableThreeQuarters = 0;

// TableSine lets the window in once per this many lookups: a whole message pass per
// lookup would cost more than the transforms themselves.
constexpr int LookupsPerPump = 4096;
int lookupsUntilPump = LookupsPerPump;

// The conversion counts its work in elements passed through a loop and reads the clock
// only once per WorkPerClockCheck of them (some tens of microseconds).
using Clock = std::chrono::steady_clock;
constexpr std::int64_t WorkPerClockCheck = std::int64_t{1} << 16;
Clock::time_point lastPump;
std::int64_t workUntilClockCheck = WorkPerClockCheck;

void PumpNow() {
    PumpMessages();
    lastPump = Clock::now();
}

void Worked(std::int64_t elements) {
    workUntilClockCheck -= elements;
    if (workUntilClockCheck > 0) return;
    workUntilClockCheck = WorkPerClockCheck;
    if (Clock::now() - lastPump >= MinimumPhasePumpInterval) PumpNow();
}

// Uninitialised storage: every element is written before it is read, and zeroing
// megabytes first would cost a pass of its own.
template <typename T> std::unique_ptr<T[]> Scratch(std::size_t count) {
    return std::make_unique_for_overwrite<T[]>(count);
}

int Log2(std::int64_t powerOfTwo) {
    int d = 0;
    while ((std::int64_t{1} << d) < powerOfTwo)
        ++d;
    return d;
}

// Read access to SineTable without pumping. Angles are indices k of 2 pi k / P.
struct QuarterWave {
    const double* t = nullptr;
    std::int32_t period = 0, half = 0, quarter = 0, threeQuarters = 0;

    // sin(2 pi k / P) for k in [0, P).
    double Sin(std::int32_t k) const {
        if (k <= quarter) return t[k];
        if (k <= half) return t[half - k];
        if (k <= threeQuarters) return -t[k - half];
        return -t[period - k];
    }
    // cos(2 pi k / P) for k in [0, P).
    double Cos(std::int32_t k) const { return Sin((k + quarter) & (period - 1)); }
    // First quadrant only, k in [0, P/4]: one load, no branch.
    double Sin1(std::int32_t k) const { return t[k]; }
    double Cos1(std::int32_t k) const { return t[quarter - k]; }
};

// Twiddles of the radix-4 stages: for the stage of span M = 2^lg and j = 0..M/4-1, the
// cosines and sines of 2 pi j/M, 2 pi 2j/M and 2 pi 3j/M, each in its own contiguous
// array so that the butterfly loop reads them in step with the data.
class StageTwiddles {
  public:
    struct Set {
        const double *c1, *s1, *c2, *s2, *c3, *s3;
    };

    // Stages of span 2^3 .. 2^maxLog (the span-4 stage needs no twiddles).
    void Build(const QuarterWave& q, int maxLog) {
        std::size_t total = 0;
        for (int lg = 3; lg <= maxLog; ++lg) {
            offset_[lg] = total;
            total += 6 * Stride(lg);
        }
        store_ = Scratch<double>(total);
        if (maxLog < 3) return;
        // The largest span straight from the table ...
        {
            const std::int32_t h = std::int32_t{1} << (maxLog - 2);
            const std::size_t d = Stride(maxLog);
            const std::int32_t step = q.period >> maxLog;
            double* w = store_.get() + offset_[maxLog];
            for (std::int32_t j = 0; j < h; ++j) {
                const std::int32_t a = j * step;
                w[j] = q.Cos(a);
                w[d + j] = q.Sin(a);
                w[2 * d + j] = q.Cos(2 * a);
                w[3 * d + j] = q.Sin(2 * a);
                w[4 * d + j] = q.Cos(3 * a);
                w[5 * d + j] = q.Sin(3 * a);
            }
            Worked(h);
        }
        // ... and every smaller span takes every other entry of the next larger one, the
        // same table entries.
        for (int lg = maxLog - 1; lg >= 3; --lg) {
            const std::int32_t h = std::int32_t{1} << (lg - 2);
            const std::size_t from = Stride(lg + 1), to = Stride(lg);
            const double* src = store_.get() + offset_[lg + 1];
            double* dst = store_.get() + offset_[lg];
            for (std::size_t a = 0; a < 6; ++a)
                for (std::int32_t j = 0; j < h; ++j)
                    dst[a * to + j] = src[a * from + 2 * j];
        }
    }

    Set For(int lg) const {
        const std::size_t d = Stride(lg);
        const double* w = store_.get() + offset_[lg];
        return {w, w + d, w + 2 * d, w + 3 * d, w + 4 * d, w + 5 * d};
    }

  private:
    // Distance between a stage's six arrays: M/4 plus a cache line and a bit, so that
    // they do not all fall into the same level-1 cache set.
    static std::size_t Stride(int lg) { return (std::size_t{1} << (lg - 2)) + 24; }

    std::unique_ptr<double[]> store_;
    std::array<std::size_t, 32> offset_{};
};

// (x + iy) times the twiddle exp(-+ i theta), given as c = cos theta, s = sin theta: the
// forward transform turns by -theta, the inverse by +theta.
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

// One radix-4 decimation-in-time stage of span 4h over one block. The four quarters hold
// the DFTs of the samples 4m, 4m+2, 4m+1 and 4m+3 (bit-reversed order); the block becomes
// their combined DFT X[j] = B0 + w^2j B1 + w^j B2 + w^3j B3 (and the three companions
// at j + h, j + 2h, j + 3h). With firstQuarter only X[0..h-1] is formed.
template <bool Inverse, bool FirstQuarter>
void Radix4Block(double* __restrict r0, double* __restrict r1, double* __restrict r2,
                 double* __restrict r3, double* __restrict i0, double* __restrict i1,
                 double* __restrict i2, double* __restrict i3, const double* __restrict c1,
                 const double* __restrict s1, const double* __restrict c2,
                 const double* __restrict s2, const double* __restrict c3,
                 const double* __restrict s3, std::int32_t h) {
    for (std::int32_t j = 0; j < h; ++j) {
        double br, bi, cr, ci, dr, di;
        Rotate<Inverse>(r1[j], i1[j], c2[j], s2[j], br, bi);
        Rotate<Inverse>(r2[j], i2[j], c1[j], s1[j], cr, ci);
        Rotate<Inverse>(r3[j], i3[j], c3[j], s3[j], dr, di);
        const double ar = r0[j], ai = i0[j];
        const double sumEvenRe = ar + br, sumEvenIm = ai + bi;
        const double sumOddRe = cr + dr, sumOddIm = ci + di;
        r0[j] = sumEvenRe + sumOddRe;
        i0[j] = sumEvenIm + sumOddIm;
        if constexpr (!FirstQuarter) {
            const double difEvenRe = ar - br, difEvenIm = ai - bi;
            const double difOddRe = cr - dr, difOddIm = ci - di;
            r2[j] = sumEvenRe - sumOddRe;
            i2[j] = sumEvenIm - sumOddIm;
            // X[j+h] = difEven -+ i difOdd, X[j+3h] = difEven +- i difOdd: the odd half turns
            // by a quarter wave, clockwise in the forward transform.
            if constexpr (Inverse) {
                r1[j] = difEvenRe - difOddIm;
                i1[j] = difEvenIm + difOddRe;
                r3[j] = difEvenRe + difOddIm;
                i3[j] = difEvenIm - difOddRe;
            } else {
                r1[j] = difEvenRe + difOddIm;
                i1[j] = difEvenIm - difOddRe;
                r3[j] = difEvenRe - difOddIm;
                i3[j] = difEvenIm + difOddRe;
            }
        }
    }
}

template <bool Inverse>
void Radix4Stage(double* re, double* im, std::int32_t count, int lgSpan,
                 const StageTwiddles::Set& w, bool firstQuarter) {
    const std::int32_t span = std::int32_t{1} << lgSpan, h = span / 4;
    for (std::int32_t b = 0; b < count; b += span) {
        double* r = re + b;
        double* i = im + b;
        if (firstQuarter)
            Radix4Block<Inverse, true>(r, r + h, r + 2 * h, r + 3 * h, i, i + h, i + 2 * h,
                                       i + 3 * h, w.c1, w.s1, w.c2, w.s2, w.c3, w.s3, h);
        else
            Radix4Block<Inverse, false>(r, r + h, r + 2 * h, r + 3 * h, i, i + h, i + 2 * h,
                                        i + 3 * h, w.c1, w.s1, w.c2, w.s2, w.c3, w.s3, h);
    }
}

// The first stage, whose twiddles are all 1: radix-2 on pairs when log2(count) is odd,
// radix-4 on groups of four otherwise.
// Radix-2 butterflies between neighbours (b, b + 1), which need no twiddle.
void NeighbourButterflies(double* __restrict re, double* __restrict im, std::int32_t count) {
    for (std::int32_t b = 0; b < count; b += 2) {
        const double ar = re[b], ai = im[b], br = re[b + 1], bi = im[b + 1];
        re[b] = ar + br;
        im[b] = ai + bi;
        re[b + 1] = ar - br;
        im[b + 1] = ai - bi;
    }
}

template <bool Inverse>
void FirstStage(double* __restrict re, double* __restrict im, std::int32_t count, int lg) {
    if (lg & 1) {
        NeighbourButterflies(re, im, count);
        return;
    }
    if (count < 4) return;
    for (std::int32_t b = 0; b < count; b += 4) {
        const double sumEvenRe = re[b] + re[b + 1], sumEvenIm = im[b] + im[b + 1];
        const double difEvenRe = re[b] - re[b + 1], difEvenIm = im[b] - im[b + 1];
        const double sumOddRe = re[b + 2] + re[b + 3], sumOddIm = im[b + 2] + im[b + 3];
        const double difOddRe = re[b + 2] - re[b + 3], difOddIm = im[b + 2] - im[b + 3];
        re[b] = sumEvenRe + sumOddRe;
        im[b] = sumEvenIm + sumOddIm;
        re[b + 2] = sumEvenRe - sumOddRe;
        im[b + 2] = sumEvenIm - sumOddIm;
        if constexpr (Inverse) {
            re[b + 1] = difEvenRe - difOddIm;
            im[b + 1] = difEvenIm + difOddRe;
            re[b + 3] = difEvenRe + difOddIm;
            im[b + 3] = difEvenIm - difOddRe;
        } else {
            re[b + 1] = difEvenRe + difOddIm;
            im[b + 1] = difEvenIm - difOddRe;
            re[b + 3] = difEvenRe - difOddIm;
            im[b + 3] = difEvenIm + difOddRe;
        }
    }
}

// Fills re/im[0..2^lg) in bit-reversed order, element rev(m) = value(m), for a transform
// that takes its input so. In plain order every element would land in a new cache line.
// Here m runs in tiles of 8 x 8 (its top and bottom three bits): a tile reads eight runs
// of eight consecutive m and fills eight whole cache lines. revTable: bit reversal of
// revBits >= lg - 6 bits.
template <typename Value>
void ScatterBitReversed(double* re, double* im, int lg, const std::uint32_t* revTable, int revBits,
                        Value value) {
    const std::int32_t count = std::int32_t{1} << lg;
    if (lg < 6) {
        for (std::int32_t m = 0; m < count; ++m) {
            const std::uint32_t j = revTable[m] >> (revBits - lg);
            value(m, re[j], im[j]);
        }
        return;
    }
    static constexpr std::int32_t Rev3[8] = {0, 4, 2, 6, 1, 5, 3, 7};
    const int midBits = lg - 6;
    const std::int32_t mids = std::int32_t{1} << midBits, top = lg - 3;
    for (std::int32_t mid = 0; mid < mids; ++mid) {
        const std::int32_t revMid =
            midBits == 0 ? 0 : static_cast<std::int32_t>(revTable[mid] >> (revBits - midBits));
        for (std::int32_t lo = 0; lo < 8; ++lo) {
            const std::int32_t to = (Rev3[lo] << top) | (revMid << 3);
            const std::int32_t from = (mid << 3) | lo;
            for (std::int32_t hi = 0; hi < 8; ++hi)
                value(from | (hi << top), re[to | Rev3[hi]], im[to | Rev3[hi]]);
        }
    }
}

// Blocks up to 2^11 points (32 KiB as split arrays) are transformed stage by stage; larger
// ones first transform their four quarters, depth-first, then combine them.
constexpr int BlockLog = 11;

// Unscaled DFT of 2^lg points, input in bit-reversed order, output in natural order. The
// forward transform uses exp(-2 pi i k m / count), the inverse exp(+...). With
// firstQuarter only outputs 0..count/4-1 are guaranteed.
template <bool Inverse>
void Transform(double* re, double* im, int lg, const StageTwiddles& w, bool firstQuarter = false) {
    const std::int32_t count = std::int32_t{1} << lg;
    if (lg <= BlockLog) {
        FirstStage<Inverse>(re, im, count, lg);
        for (int span = (lg & 1) ? 3 : 4; span <= lg; span += 2)
            Radix4Stage<Inverse>(re, im, count, span, w.For(span), false);
        Worked(std::int64_t{count} * (lg / 2 + 1));
        return;
    }
    const std::int32_t quarter = count / 4;
    for (int k = 0; k < 4; ++k)
        Transform<Inverse>(re + k * quarter, im + k * quarter, lg - 2, w);
    Radix4Stage<Inverse>(re, im, count, lg, w.For(lg), firstQuarter);
    Worked(count);
}

// The transposed transform: one radix-4 decimation-in-frequency stage of span 4h over one
// block, forward. With t0 = x0 - x2, t1 = x1 - x3 the block becomes x0 + x1 + x2 + x3,
// w^2j (x0 - x1 + x2 - x3), w^j (t0 - i t1) and w^3j (t0 + i t1): the DFTs of the even
// and odd halves of each half follow, so the output ends in bit-reversed order.
void DifBlock(double* __restrict r0, double* __restrict r1, double* __restrict r2,
              double* __restrict r3, double* __restrict i0, double* __restrict i1,
              double* __restrict i2, double* __restrict i3, const double* __restrict c1,
              const double* __restrict s1, const double* __restrict c2, const double* __restrict s2,
              const double* __restrict c3, const double* __restrict s3, std::int32_t h) {
    for (std::int32_t j = 0; j < h; ++j) {
        const double sumRe = r0[j] + r2[j], sumIm = i0[j] + i2[j];
        const double difRe = r0[j] - r2[j], difIm = i0[j] - i2[j];
        const double sumOddRe = r1[j] + r3[j], sumOddIm = i1[j] + i3[j];
        const double difOddRe = r1[j] - r3[j], difOddIm = i1[j] - i3[j];
        r0[j] = sumRe + sumOddRe;
        i0[j] = sumIm + sumOddIm;
        Rotate<false>(sumRe - sumOddRe, sumIm - sumOddIm, c2[j], s2[j], r1[j], i1[j]);
        Rotate<false>(difRe + difOddIm, difIm - difOddRe, c1[j], s1[j], r2[j], i2[j]);
        Rotate<false>(difRe - difOddIm, difIm + difOddRe, c3[j], s3[j], r3[j], i3[j]);
    }
}

// Unscaled forward DFT of 2^lg points, input in natural order, output in bit-reversed
// order: stages from the widest span down, depth-first like Transform.
void TransformDif(double* re, double* im, int lg, const StageTwiddles& w) {
    const std::int32_t count = std::int32_t{1} << lg;
    if (lg > BlockLog) {
        const std::int32_t h = count / 4;
        const StageTwiddles::Set t = w.For(lg);
        DifBlock(re, re + h, re + 2 * h, re + 3 * h, im, im + h, im + 2 * h, im + 3 * h, t.c1, t.s1,
                 t.c2, t.s2, t.c3, t.s3, h);
        Worked(count);
        for (int k = 0; k < 4; ++k)
            TransformDif(re + k * h, im + k * h, lg - 2, w);
        return;
    }
    int span = lg;
    for (; span >= 3; span -= 2) {
        const std::int32_t size = std::int32_t{1} << span, h = size / 4;
        const StageTwiddles::Set t = w.For(span);
        for (std::int32_t b = 0; b < count; b += size)
            DifBlock(re + b, re + b + h, re + b + 2 * h, re + b + 3 * h, im + b, im + b + h,
                     im + b + 2 * h, im + b + 3 * h, t.c1, t.s1, t.c2, t.s2, t.c3, t.s3, h);
    }
    // The last stage, with twiddles 1: radix-2 on pairs or radix-4 on groups of four.
    if (span == 1) {
        NeighbourButterflies(re, im, count);
    } else if (span == 2) {
        for (std::int32_t b = 0; b < count; b += 4) {
            const double sumRe = re[b] + re[b + 2], sumIm = im[b] + im[b + 2];
            const double difRe = re[b] - re[b + 2], difIm = im[b] - im[b + 2];
            const double sumOddRe = re[b + 1] + re[b + 3], sumOddIm = im[b + 1] + im[b + 3];
            const double difOddRe = re[b + 1] - re[b + 3], difOddIm = im[b + 1] - im[b + 3];
            re[b] = sumRe + sumOddRe;
            im[b] = sumIm + sumOddIm;
            re[b + 1] = sumRe - sumOddRe;
            im[b + 1] = sumIm - sumOddIm;
            re[b + 2] = difRe + difOddIm;
            im[b + 2] = difIm - difOddRe;
            re[b + 3] = difRe - difOddIm;
            im[b + 3] = difIm + difOddRe;
        }
    }
    Worked(std::int64_t{count} * (lg / 2 + 1));
}

// The conversion of SpecRe[0..n] with its work arrays; they go with the object.
class Conversion {
  public:
    explicit Conversion(std::int32_t n)
        : n_(n), L_(CepstrumLength), S_(FoldedLength), R_(S_ / 2), M0_(S_ / 4), lgL_(Log2(L_)),
          lgS_(Log2(S_)), lgR_(lgS_ - 1), row_(M0_ / 2 + 24), rowBits_(lgS_ - 3) {
        q_.t = SineTable.data();
        q_.period = TablePeriod;
        q_.half = tableHalf;
        q_.quarter = tableQuarter;
        q_.threeQuarters = tableThreeQuarters;
    }

    void Run() {
        twiddles_.Build(q_, lgR_);
        rev_ = Scratch<std::uint32_t>(R_);
        rev_[0] = 0;
        for (std::int32_t i = 1; i < R_; ++i)
            rev_[i] = (rev_[i >> 1] >> 1) | (static_cast<std::uint32_t>(i & 1) << (lgR_ - 1));
        // The imaginary parts follow the real parts at an offset that is not a multiple of
        // the cache's way size, so that re[j] and im[j] do not compete for one cache set.
        work_ = Scratch<double>(2 * std::size_t(R_) + Pad);
        re_ = work_.get();
        im_ = re_ + R_ + Pad;

        bins_ = Scratch<double>(16 * std::size_t(row_));
        const double peak = PowerSpectrum();
        // An all-zero response has no magnitude to take the logarithm of; it is its own
        // minimum-phase counterpart.
        if (peak == 0.0) return;
        LogMagnitude(peak);
        cepstrum_ = Scratch<double>(S_ + Pad);
        Cepstrum();
        bins_.reset();
        FoldedSpectrum();
        Exponentiate();
        Response();
    }

  private:
    // Doubles between arrays that would otherwise start a power of two apart.
    static constexpr std::size_t Pad = 40;

    template <typename Value> void Scatter(int lg, Value value) {
        ScatterBitReversed(re_, im_, lg, rev_.get(), lgR_, value);
    }

    // Bins 0..H are kept by residue, and within a residue in bit-reversed order: bin
    // 16q + r at bins_[r * row_ + rev(q)], q < M0/2 reversed over log2(M0/2) bits (bin H
    // alone, q = M0/2, at the end of row 0). The residue transforms of step 1 deliver
    // their bins in bit-reversed order, and the type-II transforms of step 3, which take
    // every 2nd, 4th, 8th ... bin in bit-reversed order of their own, then read the rows
    // from start to end: both run through memory in order.
    std::int64_t RowIndex(std::int64_t q) const {
        return q < M0_ / 2 ? static_cast<std::int64_t>(rev_[q] >> (lgR_ - rowBits_)) : q;
    }
    double& Bin(std::int64_t k) const { return bins_[(k & 15) * row_ + RowIndex(k >> 4)]; }

    // Power of residue r's bins, X_r[q] = bin 16q + r, with X_r in bit-reversed order.
    // For even p, q = rev(p) < M0/2, and rev(q) over one bit less is p/2. For odd p,
    // q >= M0/2: that bin lies above H, and its mirror L - 16q - r = 16(M0 - 1 - q) +
    // 16 - r, of residue 16 - r, has the same power; M0 - 1 - q reversed is
    // M0/2 - 1 - p/2. Returns the largest power.
    double StorePowers(std::int32_t r) {
        const double* re = re_;
        const double* im = im_;
        double* low = bins_.get() + r * std::size_t(row_);
        double* high = bins_.get() + (16 - r) * std::size_t(row_) + (M0_ / 2 - 1);
        double peak = 0.0;
        for (std::int32_t p = 0; p < M0_; p += 2) {
            const double even = re[p] * re[p] + im[p] * im[p];
            const double odd = re[p + 1] * re[p + 1] + im[p + 1] * im[p + 1];
            low[p >> 1] = even;
            high[-(p >> 1)] = odd;
            peak = std::max(peak, std::max(even, odd));
        }
        return peak;
    }

    // Step 1: |X[k]|^2 for k = 0..H into bins_; returns the largest.
    double PowerSpectrum() {
        PumpNow();
        const double* x = SpecRe.data();
        const std::int32_t count = n_ + 1; // nonzero samples, count <= M0
        const int lg = lgS_ - 2;           // log2(M0)
        const double* t = q_.t;
        const std::int32_t quarter = q_.quarter, half = q_.half;
        double peak = 0.0;

        // Residues r and 16 - r: y[m] = x[m] exp(-2 pi i r m / L) for m < M0.
        for (std::int32_t r = 1; r <= 7; ++r) {
            // r m < 7L/16: the first quadrant up to m = P/4r, then the second, where
            // cos = -t[k - P/4] and sin = t[P/2 - k].
            const std::int32_t firstQuadrant = std::min(count, quarter / r + 1);
            for (std::int32_t m = 0; m < firstQuadrant; ++m) {
                const std::int32_t k = r * m;
                re_[m] = x[m] * t[quarter - k];
                im_[m] = -(x[m] * t[k]);
            }
            for (std::int32_t m = firstQuadrant; m < count; ++m) {
                const std::int32_t k = r * m;
                re_[m] = -(x[m] * t[k - quarter]);
                im_[m] = -(x[m] * t[half - k]);
            }
            std::fill(re_ + count, re_ + M0_, 0.0);
            std::fill(im_ + count, im_ + M0_, 0.0);
            Worked(std::int64_t{M0_});
            TransformDif(re_, im_, lg, twiddles_);
            peak = std::max(peak, StorePowers(r));
            Worked(std::int64_t{M0_});
        }

        // Residues 0 and 8 are the bins of DFT_2M0(x), a real transform: packed as
        // z[t] = x[2t] + i x[2t+1] it is one complex DFT of M0 points.
        Scatter(lg, [=](std::int32_t i, double& zr, double& zi) {
            zr = 2 * i < count ? x[2 * i] : 0.0;
            zi = 2 * i + 1 < count ? x[2 * i + 1] : 0.0;
        });
        Transform<false>(re_, im_, lg, twiddles_);
        peak = std::max(peak, StoreEvenPowers());
        Worked(3 * std::int64_t{M0_});
        return peak;
    }

    // Even and odd samples' spectra A = (Z[j] + conj Z[M0-j]) / 2 and
    // B = (Z[j] - conj Z[M0-j]) / 2i give bin 8j = A + w^j B and bin 8(M0-j) =
    // conj(A - w^j B), with w^j = exp(-2 pi i 8j / L) in the first quadrant. Bins 16q go
    // to row 0 (q = 0..M0/2), bins 16q + 8 to row 8. Returns the largest power.
    double StoreEvenPowers() {
        const double* re = re_;
        const double* im = im_;
        double* row0 = bins_.get();
        double* row8 = bins_.get() + 8 * std::size_t(row_);
        double peak = 0.0;
        for (std::int32_t j = 0; j <= M0_ / 2; ++j) {
            const std::int32_t k = (M0_ - j) & (M0_ - 1);
            const double ar = 0.5 * (re[j] + re[k]), ai = 0.5 * (im[j] - im[k]);
            const double br = 0.5 * (im[j] + im[k]), bi = -0.5 * (re[j] - re[k]);
            double wbr, wbi;
            Rotate<false>(br, bi, q_.Cos1(8 * j), q_.Sin1(8 * j), wbr, wbi);
            const double pLow = (ar + wbr) * (ar + wbr) + (ai + wbi) * (ai + wbi);
            const double pHigh = (ar - wbr) * (ar - wbr) + (ai - wbi) * (ai - wbi);
            // Bin 8j and bin 8(M0 - j) = 16(M0/2) - 8j.
            double* row = (j & 1) ? row8 : row0;
            row[RowIndex(j >> 1)] = pLow;
            row[RowIndex((M0_ - j) >> 1)] = pHigh;
            peak = std::max(peak, std::max(pLow, pHigh));
        }
        return peak;
    }

    // Step 2: ln|X[k]| = ln(power) / 2, an exactly zero power replaced by 1e-16 x peak.
    // Row 0 holds M0/2 + 1 bins (up to H itself), the others M0/2.
    void LogMagnitude(double peak) {
        const double floor = 1e-16 * peak;
        for (std::int32_t r = 0; r < 16; ++r) {
            double* v = bins_.get() + r * std::size_t(row_);
            const std::int32_t count = M0_ / 2 + (r == 0 ? 1 : 0);
            for (std::int32_t k = 0; k < count; ++k)
                v[k] = 0.5 * std::log(v[k] == 0.0 ? floor : v[k]);
            Worked(8 * std::int64_t{count});
        }
    }

    // Type-II cosine transform of Kd points u[j] = bin (base + j * stride):
    // y[m] = sum_j u[j] cos(pi (2j + 1) m / (2 Kd)), m = 0..Kd-1, handed to emit(m, y).
    // Reordered as v = (u[0], u[2], ..., u[3], u[1]), y[m] = Re(exp(-i pi m / 2Kd) V[m])
    // with V = DFT_Kd(v), and V comes from one complex DFT of Kd/2 points. Kd >= 8, 4 Kd
    // divides P.
    template <typename Emit>
    void CosineII(std::int64_t base, std::int64_t stride, std::int32_t kd, Emit emit) {
        const std::int32_t half = kd / 2, quarter = kd / 4;
        const int lg = Log2(half);
        // z[t] = v[2t] + i v[2t+1], v[i] = u[2i] for i < Kd/2, u[2(Kd-1-i)+1] above, put
        // in bit-reversed order: place p takes t = rev(p), which is below Kd/4 for even p.
        // Read so, the bins come in the order they are stored (see Bin).
        const int shift = lgR_ - lg;
        const std::int64_t last = 2 * std::int64_t{kd} - 1;
        for (std::int32_t p = 0; p < half; p += 2) {
            const std::int64_t t = rev_[p] >> shift, u = rev_[p + 1] >> shift;
            re_[p] = Bin(base + 4 * t * stride);
            im_[p] = Bin(base + (4 * t + 2) * stride);
            re_[p + 1] = Bin(base + (last - 4 * u) * stride);
            im_[p + 1] = Bin(base + (last - 4 * u - 2) * stride);
        }
        Worked(std::int64_t{half});
        Transform<false>(re_, im_, lg, twiddles_);

        // V[m] = A + exp(-2 pi i m / Kd) B from the pair Z[m], Z[Kd/2 - m], and
        // V[Kd/2 - m] = conj(A - exp(...) B). Then with a = exp(-i pi m / 2Kd) V[m]:
        // y[m] = Re a and y[Kd - m] = -Im a. All angles lie in the first quadrant.
        const double* re = re_;
        const double* im = im_;
        const std::int32_t spectrumStep = q_.period / kd, shiftStep = spectrumStep / 4;
        for (std::int32_t m = 0; m <= quarter; ++m) {
            const std::int32_t k = (half - m) & (half - 1);
            const double ar = 0.5 * (re[m] + re[k]), ai = 0.5 * (im[m] - im[k]);
            const double br = 0.5 * (im[m] + im[k]), bi = -0.5 * (re[m] - re[k]);
            double wbr, wbi;
            Rotate<false>(br, bi, q_.Cos1(m * spectrumStep), q_.Sin1(m * spectrumStep), wbr, wbi);
            double yr, yi;
            Rotate<false>(ar + wbr, ai + wbi, q_.Cos1(m * shiftStep), q_.Sin1(m * shiftStep), yr,
                          yi);
            emit(m, yr);
            if (m != 0) emit(kd - m, -yi);
            const std::int32_t mirror = half - m;
            if (mirror != m) {
                Rotate<false>(ar - wbr, -(ai - wbi), q_.Cos1(mirror * shiftStep),
                              q_.Sin1(mirror * shiftStep), yr, yi);
                emit(mirror, yr);
                if (m != 0) emit(kd - mirror, -yi);
            }
        }
        Worked(3 * std::int64_t{half});
    }

    // Type-I cosine transform of K + 1 points v[j] = bin (base + j * stride):
    // out[m] = v[0] + (-1)^m v[K] + 2 sum_{j=1}^{K-1} v[j] cos(pi j m / K), m = 0..K.
    // The even points form the type-I transform of K/2 + 1 points E, the odd ones
    // 2 x the type-II transform O of K/2 points, and out[m] = E[m] + O[m],
    // out[K - m] = E[m] - O[m].
    void CosineI(std::int64_t base, std::int64_t stride, std::int32_t k, double* out) {
        if (k <= 8) {
            const std::int32_t step = q_.period / (2 * k); // angle index of pi / K
            for (std::int32_t m = 0; m <= k; ++m) {
                const double last = Bin(base + k * stride);
                double sum = Bin(base) + ((m & 1) ? -last : last);
                for (std::int32_t j = 1; j < k; ++j)
                    sum += 2.0 * Bin(base + j * stride) * q_.Cos((j * m * step) & (q_.period - 1));
                out[m] = sum;
            }
            return;
        }
        CosineI(base, 2 * stride, k / 2, out); // E in out[0..K/2]
        // O[m] goes to out[K - m], m = 0..K/2-1, beside E, so the butterflies work in place.
        CosineII(base + stride, 2 * stride, k / 2,
                 [out, k](std::int32_t m, double y) { out[k - m] = 2.0 * y; });
        for (std::int32_t m = 0; m < k / 2; ++m) {
            const double e = out[m], o = out[k - m];
            out[m] = e + o;
            out[k - m] = e - o;
        }
        Worked(k);
    }

    // Step 3: the cepstrum c[m] = IDFT_L(ln|X|)[m] for m = 0..S-1, without its 1/L yet.
    // ln|X| is even, so that is the type-I transform of the H + 1 bins, of which only the
    // first half of the outputs is needed: the even bins' type-I transform of S + 1 points
    // plus the odd bins' type-II transform, without the mirrored half.
    void Cepstrum() {
        PumpNow();
        double* c = cepstrum_.get();
        CosineI(0, 2, S_, c);
        CosineII(1, 2, S_, [c](std::int32_t m, double y) { c[m] += 2.0 * y; });
    }

    // Step 4: Y = DFT_S(folded cepstrum) for bins 0..S/2: bins 0..S/2-1 in re_/im_, bin S/2
    // (real) in nyquist_. The fold keeps c[0] and doubles c[1..S-1]; with the cepstrum's
    // 1/L both are exact powers of two.
    void FoldedSpectrum() {
        PumpNow();
        const double* c = cepstrum_.get();
        const double unfolded = std::ldexp(1.0, -lgL_), folded = std::ldexp(1.0, 1 - lgL_);
        // z[t] = c'[2t] + i c'[2t+1]: one complex DFT of S/2 points.
        Scatter(lgR_, [=](std::int32_t t, double& zr, double& zi) {
            zr = c[2 * t] * (t == 0 ? unfolded : folded);
            zi = c[2 * t + 1] * folded;
        });
        Transform<false>(re_, im_, lgR_, twiddles_);
        // Y[k] = A + exp(-2 pi i k / S) B and Y[S/2 - k] = conj(A - exp(...) B), from the
        // pair Z[k], Z[S/2 - k], in place.
        double* re = re_;
        double* im = im_;
        for (std::int32_t k = 0; k <= R_ / 2; ++k) {
            const std::int32_t kk = (R_ - k) & (R_ - 1);
            const double ar = 0.5 * (re[k] + re[kk]), ai = 0.5 * (im[k] - im[kk]);
            const double br = 0.5 * (im[k] + im[kk]), bi = -0.5 * (re[k] - re[kk]);
            double wbr, wbi;
            Rotate<false>(br, bi, q_.Cos1(4 * k), q_.Sin1(4 * k), wbr, wbi);
            re[k] = ar + wbr;
            im[k] = ai + wbi;
            if (k == 0) {
                nyquist_ = ar - wbr;
            } else if (kk != k) {
                re[kk] = ar - wbr;
                im[kk] = -(ai - wbi);
            }
        }
        Worked(2 * std::int64_t{R_});
    }

    // Step 5: exp(Y): magnitude e^Re, phase Im [rad].
    void Exponentiate() {
        double* re = re_;
        double* im = im_;
        for (std::int32_t k0 = 0; k0 < R_; k0 += 4096) {
            const std::int32_t end = std::min(R_, k0 + 4096);
            for (std::int32_t k = k0; k < end; ++k) {
                const double magnitude = std::exp(re[k]), phase = im[k];
                re[k] = std::cos(phase) * magnitude;
                im[k] = std::sin(phase) * magnitude;
            }
            Worked(16 * std::int64_t{end - k0});
        }
        nyquist_ = std::exp(nyquist_); // bin S/2 is real: phase 0
    }

    // Step 6: h = IDFT_S(exp Y), real since exp Y is Hermitian, packed as
    // z[t] = h[2t] + i h[2t+1] = IDFT_{S/2}(Z) with Z[k] = F[k] + conj F[S/2-k]
    // + i exp(+2 pi i k / S)(F[k] - conj F[S/2-k]) (twice the usual, so the scale is 1/S).
    // Only t < S/8 are needed, the first quarter.
    void Response() {
        PumpNow();
        double* re = re_;
        double* im = im_;
        for (std::int32_t k = 0; k <= R_ / 2; ++k) {
            const std::int32_t kk = R_ - k;
            const double fr = re[k], fi = im[k];
            const double gr = k == 0 ? nyquist_ : re[kk], gi = k == 0 ? 0.0 : im[kk];
            const double ar = fr + gr, ai = fi - gi, dr = fr - gr, di = fi + gi;
            double wdr, wdi;
            Rotate<true>(dr, di, q_.Cos1(4 * k), q_.Sin1(4 * k), wdr, wdi);
            re[k] = ar - wdi;
            im[k] = ai + wdr;
            if (k != 0 && kk != k) {
                re[kk] = ar + wdi;
                im[kk] = -ai + wdr;
            }
        }
        // Into the cepstrum's storage, no longer needed, in bit-reversed order.
        double* zr = cepstrum_.get();
        double* zi = zr + R_ + Pad;
        ScatterBitReversed(zr, zi, lgR_, rev_.get(), lgR_,
                           [re, im](std::int32_t k, double& outRe, double& outIm) {
                               outRe = re[k];
                               outIm = im[k];
                           });
        Worked(3 * std::int64_t{R_});
        Transform<true>(zr, zi, lgR_, twiddles_, true);

        const double scale = std::ldexp(1.0, -lgS_);
        double* h = SpecRe.data();
        for (std::int32_t t = 0; 2 * t < n_; ++t) {
            h[2 * t] = zr[t] * scale;
            h[2 * t + 1] = zi[t] * scale;
        }
    }

    std::int32_t n_;
    std::int32_t L_, S_, R_, M0_; // L, S, S/2, S/4
    int lgL_, lgS_, lgR_;
    std::int32_t row_; // length of one residue row of bins_, M0/2 + 1 and a gap
    int rowBits_;      // log2(M0/2): the bits of q reversed within a row
    QuarterWave q_;
    StageTwiddles twiddles_;
    std::unique_ptr<std::uint32_t[]> rev_; // bit reversal of log2(S/2) bits
    std::unique_ptr<double[]> work_;
    double* re_ = nullptr;               // S/2 points of transform, real parts
    double* im_ = nullptr;               // and imaginary parts
    std::unique_ptr<double[]> bins_;     // power, then ln|X|, bins 0..H by residue
    std::unique_ptr<double[]> cepstrum_; // c[0..S] times L; then the last transform
    double nyquist_ = 0.0;               // Y, then exp Y, at bin S/2
};

// Empties the table when a conversion ends, however it ends.
struct TableRelease {
    ~TableRelease() { std::vector<double>().swap(SineTable); }
};

} // namespace

void BuildSineTable() {
    const std::int32_t p = TablePeriod;
    tableHalf = p / 2;
    tableQuarter = p / 4;
    tableThreeQuarters = tableHalf + tableQuarter;
    SineTable.assign(static_cast<std::size_t>(tableQuarter) + 1, 0.0);
    const double step = 2.0 * std::numbers::pi / p;
    for (std::int32_t i = 0; i < tableQuarter; ++i)
        SineTable[i] = std::sin(i * step);
    // Exactly 1, not sin of a rounded angle, so that the quarter points are exact.
    SineTable[tableQuarter] = 1.0;
}

double TableSine(std::int32_t k) {
    if (--lookupsUntilPump <= 0) {
        lookupsUntilPump = LookupsPerPump;
        PumpMessages();
    }
    const std::int32_t p = TablePeriod;
    k %= p;
    if (k < 0) k += p;
    if (k <= tableQuarter) return SineTable[k];
    if (k <= tableHalf) return SineTable[tableHalf - k];
    if (k <= tableThreeQuarters) return -SineTable[k - tableHalf];
    return -SineTable[p - k];
}

void CepstrumFFT(std::vector<TComplex>& data, std::int32_t count, std::int32_t sign, bool scale) {
    PumpMessages();
    // Bit-reversal permutation.
    for (std::int32_t i = 0, j = 0; i < count; ++i) {
        if (j > i) std::swap(data[i], data[j]);
        std::int32_t m = count / 2;
        while (m >= 1 && j >= m) {
            j -= m;
            m /= 2;
        }
        j += m;
    }
    // Radix-2 stages. The twiddle of butterfly m of a stage of span 2 half is at the angle
    // 2 pi m / span = 2 pi (m step) / P. A stage's twiddles are looked up once and its
    // butterflies then run block by block through memory; each butterfly computes exactly
    // what the butterfly-by-twiddle order would.
    std::vector<double> wr, wi;
    const std::int32_t p = TablePeriod;
    for (std::int32_t half = 1, step = p; count > half; half *= 2) {
        const std::int32_t span = 2 * half;
        step /= 2;
        wr.resize(half);
        wi.resize(half);
        for (std::int32_t m = 0, angle = 0; m < half; ++m, angle += step) {
            std::int32_t cosine = angle - tableThreeQuarters;
            if (cosine < 0) cosine += p;
            wr[m] = TableSine(cosine);
            wi[m] = TableSine(angle);
            if (sign > 0) wi[m] = -wi[m];
        }
        for (std::int32_t b = 0; b < count; b += span) {
            TComplex* lower = data.data() + b;
            TComplex* upper = lower + half;
            for (std::int32_t m = 0; m < half; ++m) {
                const double tr = upper[m].Re * wr[m] - upper[m].Im * wi[m];
                const double ti = upper[m].Re * wi[m] + upper[m].Im * wr[m];
                upper[m].Re = lower[m].Re - tr;
                upper[m].Im = lower[m].Im - ti;
                lower[m].Re = lower[m].Re + tr;
                lower[m].Im = lower[m].Im + ti;
            }
        }
    }
    if (scale) {
        int d = 0;
        while ((std::int64_t{1} << d) < count)
            ++d;
        const double factor = std::ldexp(1.0, -d);
        for (std::int32_t i = 0; i < count; ++i) {
            data[i].Re *= factor;
            data[i].Im *= factor;
        }
    }
}

void MinimumPhase(std::int32_t n) {
    if ((n & 1) == 0) {
        CurrentHost().ShowMessage("Filtergrad muss ungerade sein!");
        return;
    }
    if (n < 256) {
        CurrentHost().ShowMessage("Filtergrad muss gr\xC3\xB6\xC3\x9F"
                                  "er 256 sein!"); // "größer", UTF-8
        return;
    }
    // FoldedLength: twice the least power of two not below 2n (at least 512); the long
    // transforms are four times that, and the table's period equals their length.
    std::int32_t folded = 256;
    while (2 * std::int64_t{n} > folded)
        folded *= 2;
    folded *= 2;
    FoldedLength = folded;
    CepstrumLength = 4 * folded;
    TablePeriod = CepstrumLength;

    TableRelease release;
    BuildSineTable();
    lastPump = Clock::now();
    workUntilClockCheck = WorkPerClockCheck;
    Conversion(n).Run();
}

} // namespace tarn
