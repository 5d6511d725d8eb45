#include "spectral/FftKernel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <utility>

#include "core/WideClones.h"

namespace tarn::fft {

std::vector<double> QuarterWaveSines(std::int32_t period) {
    assert(period >= 4 && (period & (period - 1)) == 0);
    const std::int32_t quarter = period / 4;
    std::vector<double> table(static_cast<std::size_t>(quarter) + 1);
    const double step = 2.0 * std::numbers::pi / period;
    for (std::int32_t i = 0; i < quarter; ++i)
        table[i] = std::sin(i * step);
    table[quarter] = 1.0; // not sin of a rounded angle
    return table;
}

std::vector<std::uint32_t> BitReversal(int lg) {
    assert(lg >= 0 && lg < 32);
    std::vector<std::uint32_t> rev(std::size_t{1} << lg);
    rev[0] = 0;
    for (std::size_t i = 1; i < rev.size(); ++i)
        rev[i] = (rev[i >> 1] >> 1) | (static_cast<std::uint32_t>(i & 1) << (lg - 1));
    return rev;
}

namespace {

// ---------------------------------------------------------------------------------------
// Radix 2

// One radix-2 butterfly of a and b, b the one multiplied by the twiddle u.
inline void Butterfly(double& ar, double& ai, double& br, double& bi, double ur, double ui) {
    const double xr = br * ur - bi * ui;
    const double xi = br * ui + bi * ur;
    br = ar - xr;
    bi = ai - xi;
    ar = ar + xr;
    ai = ai + xi;
}

// Butterflies between re/im[j] and re/im[j + h] for j = 0..h-1 with twiddles tr/ti[j], built
// for AVX2 too (core/WideClones.h).
TARN_WIDE_CLONES void Butterflies(double* __restrict re, double* __restrict im, std::int32_t h,
                                  const double* __restrict tr, const double* __restrict ti) {
    double* __restrict reHi = re + h;
    double* __restrict imHi = im + h;
    for (std::int32_t j = 0; j < h; ++j) {
        const double xr = reHi[j] * tr[j] - imHi[j] * ti[j];
        const double xi = reHi[j] * ti[j] + imHi[j] * tr[j];
        reHi[j] = re[j] - xr;
        imHi[j] = im[j] - xi;
        re[j] = re[j] + xr;
        im[j] = im[j] + xi;
    }
}

} // namespace

void Radix2Fft::Stage(double* re, double* im, std::int32_t n, std::int32_t h) const {
    assert(2 * h <= n && n <= size_);
    const double* tr = twiddleRe_.data() + (h - 1);
    const double* ti = twiddleIm_.data() + (h - 1);
    for (std::int32_t block = 0; block < n; block += 2 * h)
        Butterflies(re + block, im + block, h, tr, ti);
}

void Radix2Fft::Transform(double* re, double* im, std::int32_t n) {
    assert(n <= size_ && (n & (n - 1)) == 0);
    if (n < 2) return;
    if (static_cast<std::int32_t>(reversal_.size()) != n)
        reversal_ = BitReversal(std::countr_zero(static_cast<std::uint32_t>(n)));
    const std::uint32_t* rev = reversal_.data();

    if (n < 16) { // the plain in-place form
        for (std::int32_t i = 0; i < n; ++i)
            if (static_cast<std::uint32_t>(i) < rev[i]) {
                std::swap(re[i], re[rev[i]]);
                std::swap(im[i], im[rev[i]]);
            }
        for (std::int32_t h = 1; h < n; h *= 2)
            Stage(re, im, n, h);
        return;
    }

    // The permutation and the first three stages in one pass: each block of eight outputs is
    // gathered from its bit-reversed places and put through stages h = 1, 2 and 4 in
    // registers. Swapping in place instead costs a cache miss per swap at 2^15 points, more
    // than the butterflies of those stages.
    scratchRe_.resize(n);
    scratchIm_.resize(n);
    const double* t1r = twiddleRe_.data();
    const double* t1i = twiddleIm_.data();
    const double* t2r = t1r + 1;
    const double* t2i = t1i + 1;
    const double* t4r = t1r + 3;
    const double* t4i = t1i + 3;
    for (std::int32_t b = 0; b < n; b += 8) {
        double xr[8], xi[8];
        for (int t = 0; t < 8; ++t) {
            xr[t] = re[rev[b + t]];
            xi[t] = im[rev[b + t]];
        }
        for (int t = 0; t < 8; t += 2)
            Butterfly(xr[t], xi[t], xr[t + 1], xi[t + 1], t1r[0], t1i[0]);
        for (int q = 0; q < 8; q += 4)
            for (int t = 0; t < 2; ++t)
                Butterfly(xr[q + t], xi[q + t], xr[q + t + 2], xi[q + t + 2], t2r[t], t2i[t]);
        for (int t = 0; t < 4; ++t)
            Butterfly(xr[t], xi[t], xr[t + 4], xi[t + 4], t4r[t], t4i[t]);
        for (int t = 0; t < 8; ++t) {
            scratchRe_[b + t] = xr[t];
            scratchIm_[b + t] = xi[t];
        }
    }

    // Stage h = 8 from the scratch arrays back into place.
    const double* t8r = t1r + 7;
    const double* t8i = t1i + 7;
    const double* sr = scratchRe_.data();
    const double* si = scratchIm_.data();
    for (std::int32_t block = 0; block < n; block += 16)
        for (int j = 0; j < 8; ++j) {
            double ar = sr[block + j], ai = si[block + j];
            double br = sr[block + j + 8], bi = si[block + j + 8];
            Butterfly(ar, ai, br, bi, t8r[j], t8i[j]);
            re[block + j] = ar;
            im[block + j] = ai;
            re[block + j + 8] = br;
            im[block + j + 8] = bi;
        }

    // The stages whose blocks fit the level-1 cache run one cache-sized block at a time, the
    // others over the whole array: the same butterflies, fewer trips through slower caches.
    const std::int32_t cacheBlock = std::min<std::int32_t>(n, 1024);
    for (std::int32_t start = 0; start < n; start += cacheBlock)
        for (std::int32_t h = 16; h < cacheBlock; h *= 2)
            Stage(re + start, im + start, cacheBlock, h);
    for (std::int32_t h = cacheBlock; h < n; h *= 2)
        Stage(re, im, n, h);
}

// ---------------------------------------------------------------------------------------
// Radix 4

void Radix4Twiddles::Build(const QuarterWave& table, int maxLog, Progress progress) {
    std::size_t total = 0;
    for (int lg = 3; lg <= maxLog; ++lg) {
        offset_[lg] = total;
        total += 6 * Stride(lg);
    }
    // Uninitialised: every entry is written before it is read.
    store_ = std::make_unique_for_overwrite<double[]>(total);
    if (maxLog < 3) return;
    // The largest span straight from the table ...
    const std::int32_t h = std::int32_t{1} << (maxLog - 2);
    const std::size_t d = Stride(maxLog);
    const std::int32_t step = table.period >> maxLog;
    double* w = store_.get() + offset_[maxLog];
    for (std::int32_t j = 0; j < h; ++j) {
        const std::int32_t a = j * step;
        w[j] = table.Cos(a);
        w[d + j] = table.Sin(a);
        w[2 * d + j] = table.Cos(2 * a);
        w[3 * d + j] = table.Sin(2 * a);
        w[4 * d + j] = table.Cos(3 * a);
        w[5 * d + j] = table.Sin(3 * a);
    }
    if (progress) progress(h);
    // ... and every smaller span takes every other entry of the next larger one: the same
    // table entries.
    for (int lg = maxLog - 1; lg >= 3; --lg) {
        const std::int32_t count = std::int32_t{1} << (lg - 2);
        const std::size_t from = Stride(lg + 1), to = Stride(lg);
        const double* src = store_.get() + offset_[lg + 1];
        double* dst = store_.get() + offset_[lg];
        for (std::size_t a = 0; a < 6; ++a)
            for (std::int32_t j = 0; j < count; ++j)
                dst[a * to + j] = src[a * from + 2 * j];
    }
}

Radix4Fft::Radix4Fft(const QuarterWave& table, int maxLog, Progress progress)
    : maxLog_(maxLog), progress_(progress) {
    assert(maxLog >= 1 && (table.period >> maxLog) << maxLog == table.period);
    twiddles_.Build(table, maxLog, progress);
    reversal_ = BitReversal(maxLog);
}

namespace {

// One radix-4 decimation-in-time stage of span 4h over one block. The four quarters hold the
// DFTs of the samples 4m, 4m+2, 4m+1 and 4m+3 (bit-reversed order); the block becomes their
// combined DFT X[j] = B0 + w^2j B1 + w^j B2 + w^3j B3 (and the three companions at j + h,
// j + 2h, j + 3h). With FirstQuarter only X[0..h-1] is formed.
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

// One radix-4 stage of span 2^lgSpan over re/im[0..count-1]. Wide clones, like the two
// below, take their blocks inline (flatten), so that the blocks are built wide too.
TARN_WIDE_CLONES_FLAT void Radix4Stage(double* re, double* im, std::int32_t count, int lgSpan,
                                       const Radix4Twiddles::Set& w, bool inverse,
                                       bool firstQuarter) {
    assert(inverse || !firstQuarter);
    const std::int32_t span = std::int32_t{1} << lgSpan, h = span / 4;
    for (std::int32_t b = 0; b < count; b += span) {
        double* r = re + b;
        double* i = im + b;
        if (!inverse)
            Radix4Block<false, false>(r, r + h, r + 2 * h, r + 3 * h, i, i + h, i + 2 * h,
                                      i + 3 * h, w.c1, w.s1, w.c2, w.s2, w.c3, w.s3, h);
        else if (firstQuarter)
            Radix4Block<true, true>(r, r + h, r + 2 * h, r + 3 * h, i, i + h, i + 2 * h, i + 3 * h,
                                    w.c1, w.s1, w.c2, w.s2, w.c3, w.s3, h);
        else
            Radix4Block<true, false>(r, r + h, r + 2 * h, r + 3 * h, i, i + h, i + 2 * h, i + 3 * h,
                                     w.c1, w.s1, w.c2, w.s2, w.c3, w.s3, h);
    }
}

// Radix-2 butterflies between neighbours (b, b + 1), whose twiddle is 1: the first stage of a
// decimation in time of an odd lg, the last of a decimation in frequency.
void NeighbourButterflies(double* __restrict re, double* __restrict im, std::int32_t count) {
    for (std::int32_t b = 0; b < count; b += 2) {
        const double ar = re[b], ai = im[b], br = re[b + 1], bi = im[b + 1];
        re[b] = ar + br;
        im[b] = ai + bi;
        re[b + 1] = ar - br;
        im[b + 1] = ai - bi;
    }
}

// The first stage of a decimation in time, whose twiddles are all 1: radix-2 on neighbours
// when lg is odd, radix-4 on groups of four otherwise.
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

// The transposed stage: one radix-4 decimation-in-frequency stage of span 4h over one block,
// forward. With t0 = x0 - x2, t1 = x1 - x3 the block becomes x0 + x1 + x2 + x3,
// w^2j (x0 - x1 + x2 - x3), w^j (t0 - i t1) and w^3j (t0 + i t1): the DFTs of the even and
// odd halves of each half follow, so the output ends in bit-reversed order.
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

TARN_WIDE_CLONES_FLAT void DifStage(double* re, double* im, std::int32_t count, int lgSpan,
                                    const Radix4Twiddles::Set& t) {
    const std::int32_t size = std::int32_t{1} << lgSpan, h = size / 4;
    for (std::int32_t b = 0; b < count; b += size)
        DifBlock(re + b, re + b + h, re + b + 2 * h, re + b + 3 * h, im + b, im + b + h,
                 im + b + 2 * h, im + b + 3 * h, t.c1, t.s1, t.c2, t.s2, t.c3, t.s3, h);
}

// Blocks up to 2^11 points (32 KiB as split arrays) are transformed stage by stage; larger
// ones first transform their four quarters, depth-first, then combine them.
constexpr int BlockLog = 11;

} // namespace

template <bool Inverse>
void Radix4Fft::Dit(double* re, double* im, int lg, bool firstQuarter) const {
    const std::int32_t count = std::int32_t{1} << lg;
    if (lg <= BlockLog) {
        FirstStage<Inverse>(re, im, count, lg);
        for (int span = (lg & 1) ? 3 : 4; span <= lg; span += 2)
            Radix4Stage(re, im, count, span, twiddles_.For(span), Inverse,
                        firstQuarter && span == lg);
        Worked(std::int64_t{count} * (lg / 2 + 1));
        return;
    }
    const std::int32_t quarter = count / 4;
    for (int k = 0; k < 4; ++k)
        Dit<Inverse>(re + k * quarter, im + k * quarter, lg - 2, false);
    Radix4Stage(re, im, count, lg, twiddles_.For(lg), Inverse, firstQuarter);
    Worked(count);
}

void Radix4Fft::Forward(double* re, double* im, int lg) const {
    assert(lg <= maxLog_);
    Dit<false>(re, im, lg, false);
}

void Radix4Fft::Inverse(double* re, double* im, int lg, bool firstQuarter) const {
    assert(lg <= maxLog_ && (!firstQuarter || lg >= 2));
    Dit<true>(re, im, lg, firstQuarter);
}

void Radix4Fft::Dif(double* re, double* im, int lg) const {
    const std::int32_t count = std::int32_t{1} << lg;
    if (lg > BlockLog) {
        const std::int32_t h = count / 4;
        DifStage(re, im, count, lg, twiddles_.For(lg));
        Worked(count);
        for (int k = 0; k < 4; ++k)
            Dif(re + k * h, im + k * h, lg - 2);
        return;
    }
    int span = lg;
    for (; span >= 3; span -= 2)
        DifStage(re, im, count, span, twiddles_.For(span));
    // The last stage, with twiddles 1: radix-2 on neighbours or radix-4 on groups of four.
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

void Radix4Fft::ForwardDif(double* re, double* im, int lg) const {
    assert(lg <= maxLog_);
    Dif(re, im, lg);
}

} // namespace tarn::fft
