// The spectrum of a real sequence through a complex transform of half its length, and the
// state object that runs it with exact twiddles (RealFft). Conventions as in FftKernel.h.
//
// The real-spectrum split, stated once. A real x of n = 2h points is packed as
// z[t] = x[2t] + i x[2t+1], t < h, and Z = DFT_h(z). As the even samples are the real parts
// and the odd samples the imaginary parts of z, their own spectra are
//     E[k] = (Z[k] + conj Z[h-k]) / 2,    O[k] = (Z[k] - conj Z[h-k]) / 2i,
// indices modulo h (the even/odd step), and the last radix-2 butterfly joins them:
//     X[k] = E[k] + w^k O[k],   X[k + h] = E[k] - w^k O[k],   w = exp(-2 pi i / n).
// DC and Nyquist: Z[0] pairs with itself, so E[0] = Re Z[0] and O[0] = Im Z[0] are real and
// X[0] = Re Z[0] + Im Z[0], X[h] = Re Z[0] - Im Z[0], both real. Z[h/2] also pairs with itself:
// E[h/2] = Re Z[h/2], O[h/2] = Im Z[h/2]. These are set as such, so their imaginary parts are
// exactly 0.0.
// Since E[h-k] = conj E[k] and O[h-k] = conj O[k], one step serves the pair k, h - k. When
// the twiddles are exact, w^(h-k) = -conj w^k and the join of the pair needs one twiddle:
//     X[h-k] = conj(E[k] - w^k O[k]),
// all in the first quadrant (SplitRealSpectrum). Twiddles from a recurrence are not exactly
// symmetric; RealFFT joins with a butterfly stage of its own twiddles instead.
#pragma once

#include <bit>
#include <cassert>
#include <cstdint>
#include <memory>

#include "spectral/FftKernel.h"

namespace tarn::fft {

// E[k] and O[k] of one bin k.
struct EvenOdd {
    double evenRe, evenIm, oddRe, oddIm;
};

// The even/odd step over Z = re/im[0..h-1] (h a power of two >= 1): emit(k, EvenOdd, paired)
// once for each k = 0..h/2, after Z[k] and Z[h-k] have been read, so the caller may write over
// them. paired: k and h - k are two bins (false for k = 0 and k = h/2, which pair with
// themselves); a constant at each call, so a caller's test of it costs nothing.
template <typename Emit>
void SplitEvenOdd(const double* re, const double* im, std::int32_t h, Emit emit) {
    emit(0, EvenOdd{re[0], 0.0, im[0], 0.0}, false);
    for (std::int32_t k = 1; k < h / 2; ++k) {
        const std::int32_t m = h - k;
        emit(k,
             EvenOdd{0.5 * (re[k] + re[m]), 0.5 * (im[k] - im[m]), 0.5 * (im[k] + im[m]),
                     -0.5 * (re[k] - re[m])},
             true);
    }
    if (h >= 2) emit(h / 2, EvenOdd{re[h / 2], 0.0, im[h / 2], 0.0}, false);
}

// The even/odd step and the join of each pair with one exact twiddle: emit(k, re, im) once for
// each bin k = 0..h of the n-point spectrum X (n = 2h), both bins of a pair after both were
// computed. twiddle(k, c, s) gives w^k = c - is, the cosine and sine of pi k / h, k <= h/2.
template <typename Twiddle, typename Emit>
void SplitRealSpectrum(const double* re, const double* im, std::int32_t h, Twiddle twiddle,
                       Emit emit) {
    SplitEvenOdd(re, im, h, [&](std::int32_t k, const EvenOdd& p, bool) {
        double c, s, wr, wi;
        twiddle(k, c, s);
        Rotate<false>(p.oddRe, p.oddIm, c, s, wr, wi);
        const std::int32_t mirror = h - k;
        const double lowRe = p.evenRe + wr, lowIm = p.evenIm + wi;
        const double highRe = p.evenRe - wr, highIm = -(p.evenIm - wi);
        emit(k, lowRe, lowIm);
        if (mirror != k) emit(mirror, highRe, highIm);
    });
}

// A real transform of up to n points (like kissfft's kiss_fftr): owns one radix-4 kernel of
// n/2 points with its exact twiddles and two work arrays of n/2 points.
class RealFft {
  public:
    // n: points, a power of two >= 4. table: quarter-wave sines whose period P is a multiple
    // of n, outliving the object (angle steps of P/n are the split's twiddles).
    RealFft(std::int32_t n, const QuarterWave& table, Progress progress = nullptr)
        : table_(table),
          kernel_(table, std::countr_zero(static_cast<std::uint32_t>(n)) - 1, progress),
          work_(std::make_unique_for_overwrite<double[]>(static_cast<std::size_t>(n) + Pad)),
          re_(work_.get()), im_(re_ + n / 2 + Pad) {
        assert(n >= 4 && (n & (n - 1)) == 0 && table.period % n == 0);
    }

    // Bins 0..2^lg/2 of the DFT of 2^lg real points (4 <= 2^lg <= n), given in pairs:
    // pack(t, zr&, zi&) writes points 2t and 2t + 1, t < 2^lg/2. emit(k, re, im) gets each bin
    // once, as SplitRealSpectrum gives them. Uses the work arrays.
    template <typename Pack, typename Emit> void Forward(int lg, Pack pack, Emit emit);

    const Radix4Fft& Kernel() const { return kernel_; }
    const QuarterWave& Table() const { return table_; }
    // The work arrays of n/2 points, free between calls of Forward.
    double* Re() const { return re_; }
    double* Im() const { return im_; }

  private:
    // Doubles between the two work arrays, so that re[j] and im[j] do not share a cache set.
    static constexpr std::size_t Pad = 40;

    QuarterWave table_;
    Radix4Fft kernel_;
    std::unique_ptr<double[]> work_;
    double* re_;
    double* im_;
};

template <typename Pack, typename Emit> void RealFft::Forward(int lg, Pack pack, Emit emit) {
    assert(lg >= 2 && lg - 1 <= kernel_.MaxLog());
    const int lgHalf = lg - 1;
    kernel_.ScatterBitReversed(re_, im_, lgHalf, pack);
    kernel_.Forward(re_, im_, lgHalf);
    const std::int32_t step = table_.period >> lg; // angle index of 2 pi / 2^lg
    SplitRealSpectrum(
        re_, im_, std::int32_t{1} << lgHalf,
        [this, step](std::int32_t k, double& c, double& s) {
            c = table_.Cos1(k * step);
            s = table_.Sin1(k * step);
        },
        emit);
}

} // namespace tarn::fft
