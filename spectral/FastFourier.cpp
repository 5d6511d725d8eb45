#include "spectral/FastFourier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

#include "core/Host.h"

namespace tarn {

void PumpMessages() {
    CurrentHost().ProcessMessages();
}

namespace {

// Twiddles of the butterfly stages, produced by the recurrence u = u * w with one cosine
// and one sine per stage, in the order a stage that walks its twiddles one by one would
// produce them. They depend on the stage's size alone, so they are made once and kept:
// the twiddles of the stage of half-size h are entries h-1 .. 2h-2. Keeping them also lets
// the butterflies run block by block over contiguous elements instead of striding through
// the whole array once per twiddle; the values, and so the results, stay the same.
std::vector<double> twiddleRe;
std::vector<double> twiddleIm;
std::int32_t twiddleLimit = 0; // stages with h < twiddleLimit are ready

// Makes the twiddles of every stage up to half-size h ready. Growing the table moves it,
// so the transforms prepare their largest stage before they take any stage's twiddles.
void PrepareTwiddles(std::int32_t h) {
    if (h < 1 || h < twiddleLimit) return;
    twiddleRe.resize(2 * static_cast<std::size_t>(h) - 1);
    twiddleIm.resize(2 * static_cast<std::size_t>(h) - 1);
    const double pi = 3.14159265358979323846;
    for (std::int32_t size = std::max(twiddleLimit, 1); size <= h; size *= 2) {
        const double wr = std::cos(pi / size);
        const double wi = -std::sin(pi / size);
        double ur = 1.0;
        double ui = 0.0;
        for (std::int32_t j = 0; j < size; ++j) {
            twiddleRe[size - 1 + j] = ur;
            twiddleIm[size - 1 + j] = ui;
            const double next = ur * wr - ui * wi;
            ui = ur * wi + ui * wr;
            ur = next;
        }
    }
    twiddleLimit = 2 * h;
}

// The twiddles of the stage of half-size h, which PrepareTwiddles has made ready.
void StageTwiddles(std::int32_t h, const double*& re, const double*& im) {
    re = twiddleRe.data() + (h - 1);
    im = twiddleIm.data() + (h - 1);
}

// rev[i] of the bit-reversal permutation of n elements, found by the classic counter (j
// counting in reversed binary alongside i). Kept per size: the counter's data-dependent
// inner loop mispredicts at almost every step.
const std::vector<std::int32_t>& BitReversal(std::int32_t n) {
    static std::vector<std::int32_t> rev;
    if (static_cast<std::int32_t>(rev.size()) != n) {
        rev.assign(n, 0);
        rev[n - 1] = n - 1;
        std::int32_t j = n / 2;
        for (std::int32_t i = 1; i <= n - 2; ++i) {
            rev[i] = j;
            std::int32_t k = n / 2;
            while (k <= j) {
                j -= k;
                k /= 2;
            }
            j += k;
        }
    }
    return rev;
}

// One radix-2 butterfly of elements a and b (b the one multiplied by the twiddle u).
inline void Butterfly(double& ar, double& ai, double& br, double& bi, double ur, double ui) {
    const double xr = br * ur - bi * ui;
    const double xi = br * ui + bi * ur;
    br = ar - xr;
    bi = ai - xi;
    ar = ar + xr;
    ai = ai + xi;
}

// Work arrays of SplitFFT's first stages, kept between calls.
std::vector<double> scratchRe;
std::vector<double> scratchIm;

// Where the compiler and the loader allow it, the butterfly loop is also built for AVX2
// and the better version is picked at start-up; the arithmetic is the same (no fused
// multiply-adds), only wider.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__)
#define TARN_WIDE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TARN_WIDE_CLONES
#endif

// Butterflies between re/im[j] and re/im[j + h] for j = 0..h-1 with twiddles tr/ti[j].
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

// Phase -> (cos, sin) of the last PolarToRect, bin by bin. Every band of a run, and of every
// later run, uses the same phases k * pi, so after the first band the costly cosine and sine
// of large arguments become a comparison. A bin whose phase differs is computed afresh.
std::vector<double> cachedPhase;
std::vector<double> cachedCos;
std::vector<double> cachedSin;

} // namespace

void AllocSpectrum(std::int32_t n) {
    std::vector<double>().swap(SpecRe);
    std::vector<double>().swap(SpecIm);
    SpecRe.assign(static_cast<std::size_t>(n), 0.0);
    SpecIm.assign(static_cast<std::size_t>(n), 0.0);
    SpecLength = n;
}

void FreeSpectrum() {
    std::vector<double>().swap(SpecRe);
    std::vector<double>().swap(SpecIm);
}

void ClearRe() {
    std::fill_n(SpecRe.begin(), std::min<std::size_t>(SpecLength, SpecRe.size()), 0.0);
}

void ClearIm() {
    std::fill_n(SpecIm.begin(), std::min<std::size_t>(SpecLength, SpecIm.size()), 0.0);
}

void ClearSpectrum() {
    ClearRe();
    ClearIm();
}

void PolarToRect() {
    const std::int32_t half = SpecLength / 2;
    if (static_cast<std::int32_t>(cachedPhase.size()) != half + 1) {
        cachedPhase.assign(half + 1, std::numeric_limits<double>::quiet_NaN());
        cachedCos.assign(half + 1, 0.0);
        cachedSin.assign(half + 1, 0.0);
    }
    for (std::int32_t k = 0; k <= half; ++k) {
        const double phase = SpecIm[k];
        // Compared bit for bit, so -0.0 and 0.0 (whose sines differ in sign) stay apart.
        if (std::memcmp(&phase, &cachedPhase[k], sizeof phase) != 0) {
            cachedPhase[k] = phase;
            cachedCos[k] = std::cos(phase);
            cachedSin[k] = std::sin(phase);
        }
        const double magnitude = SpecRe[k];
        SpecRe[k] = cachedCos[k] * magnitude;
        SpecIm[k] = cachedSin[k] * magnitude;
    }
}

double BinFrequency(std::int32_t k, double T) {
    if (k == 0) return 1e-7;
    return static_cast<double>(static_cast<long double>(k) / T / SpecLength);
}

namespace {

// The plain in-place form, for transforms of fewer than 16 points.
void SmallSplitFFT(double* re, double* im, std::int32_t n) {
    PrepareTwiddles(n / 2);
    const auto& rev = BitReversal(n);
    for (std::int32_t i = 0; i < n; ++i)
        if (i < rev[i]) {
            std::swap(re[i], re[rev[i]]);
            std::swap(im[i], im[rev[i]]);
        }
    for (std::int32_t h = 1; h < n; h *= 2) {
        const double *tr, *ti;
        StageTwiddles(h, tr, ti);
        for (std::int32_t block = 0; block < n; block += 2 * h)
            for (std::int32_t j = 0; j < h; ++j)
                Butterfly(re[block + j], im[block + j], re[block + j + h], im[block + j + h], tr[j],
                          ti[j]);
    }
}

} // namespace

void SplitFFT(std::int32_t n) {
    PumpMessages();
    double* re = SpecRe.data();
    double* im = SpecIm.data();

    if (n < 16) {
        SmallSplitFFT(re, im, n);
        return;
    }

    // The permutation and the first three stages in one pass: each block of eight outputs
    // is gathered from its bit-reversed places and put through stages h = 1, 2 and 4 in
    // registers. Swapping in place instead costs a cache miss per swap at 2^15 points, more
    // than the butterflies of those stages. The arithmetic of each butterfly is unchanged.
    PrepareTwiddles(n / 2);
    const auto& rev = BitReversal(n);
    scratchRe.resize(n);
    scratchIm.resize(n);
    const double *t1r, *t1i, *t2r, *t2i, *t4r, *t4i;
    StageTwiddles(1, t1r, t1i);
    StageTwiddles(2, t2r, t2i);
    StageTwiddles(4, t4r, t4i);
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
            scratchRe[b + t] = xr[t];
            scratchIm[b + t] = xi[t];
        }
    }

    // Stage h = 8 from the work arrays back into the workspace.
    {
        const double *tr, *ti;
        StageTwiddles(8, tr, ti);
        const double* sr = scratchRe.data();
        const double* si = scratchIm.data();
        for (std::int32_t block = 0; block < n; block += 16)
            for (int j = 0; j < 8; ++j) {
                double ar = sr[block + j], ai = si[block + j];
                double br = sr[block + j + 8], bi = si[block + j + 8];
                Butterfly(ar, ai, br, bi, tr[j], ti[j]);
                re[block + j] = ar;
                im[block + j] = ai;
                re[block + j + 8] = br;
                im[block + j + 8] = bi;
            }
    }

    // The stages whose transforms fit the first-level cache are run one cache-sized block
    // at a time, the others over the whole array: the same butterflies, fewer trips of the
    // data through the slower caches.
    const std::int32_t cacheBlock = std::min<std::int32_t>(n, 1024);
    for (std::int32_t start = 0; start < n; start += cacheBlock)
        for (std::int32_t h = 16; h < cacheBlock; h *= 2) {
            const double *tr, *ti;
            StageTwiddles(h, tr, ti);
            for (std::int32_t block = start; block < start + cacheBlock; block += 2 * h)
                Butterflies(re + block, im + block, h, tr, ti);
        }
    for (std::int32_t h = cacheBlock; h < n; h *= 2) {
        const double *tr, *ti;
        StageTwiddles(h, tr, ti);
        for (std::int32_t block = 0; block < n; block += 2 * h)
            Butterflies(re + block, im + block, h, tr, ti);
    }
}

void RealFFT() {
    PumpMessages();
    const std::int32_t n = SpecLength;
    const std::int32_t h = n / 2;
    double* re = SpecRe.data();
    double* im = SpecIm.data();

    // Even samples become the real parts, odd samples the imaginary parts of h points.
    for (std::int32_t i = 0; i < h; ++i) {
        re[i] = re[2 * i];
        im[i] = re[2 * i + 1];
    }

    SplitFFT(h);

    // Separate the spectra of the even and the odd samples: the even one in the lower half,
    // the odd one (before its twiddles) in the upper half.
    for (std::int32_t i = 1; i < n / 4; ++i) {
        const std::int32_t imr = h - i;
        const std::int32_t ip2 = i + h;
        const std::int32_t ipm = imr + h;
        re[ip2] = (im[i] + im[imr]) / 2;
        re[ipm] = re[ip2];
        im[ip2] = -(re[i] - re[imr]) / 2;
        im[ipm] = -im[ip2];
        re[i] = (re[i] + re[imr]) / 2;
        re[imr] = re[i];
        im[i] = (im[i] - im[imr]) / 2;
        im[imr] = -im[i];
    }
    re[3 * n / 4] = im[n / 4];
    re[n / 2] = im[0];
    im[3 * n / 4] = 0.0;
    im[n / 2] = 0.0;
    im[n / 4] = 0.0;
    im[0] = 0.0;

    // The last butterfly stage over all n points joins the two half spectra.
    PrepareTwiddles(h);
    const double* tr;
    const double* ti;
    StageTwiddles(h, tr, ti);
    Butterflies(re, im, h, tr, ti);
}

void InverseRealFFT() {
    const std::int32_t n = SpecLength;
    PumpMessages();
    double* re = SpecRe.data();
    double* im = SpecIm.data();

    // The inverse of a real signal's spectrum through a forward transform: with the
    // Hartley-like sum re + im, the forward transform's re + im is n times the signal.
    // The upper bins are the conjugate mirror of the lower ones; they are completed and
    // summed in one step, before the lower bins change. Their imaginary parts are not
    // stored, as the forward transform of a real sequence does not read them.
    for (std::int32_t k = n / 2 + 1; k < n; ++k)
        re[k] = re[n - k] + -im[n - k];
    for (std::int32_t k = 0; k <= n / 2; ++k)
        re[k] = re[k] + im[k];

    RealFFT();

    re = SpecRe.data();
    im = SpecIm.data();
    for (std::int32_t m = 0; m < n; ++m) {
        re[m] = (re[m] + im[m]) / n;
        im[m] = 0.0;
    }
}

} // namespace tarn
