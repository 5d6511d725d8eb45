#include "spectral/MinimumPhase.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <memory>

#include "core/Host.h"
#include "spectral/CosineTransform.h"
#include "spectral/FastFourier.h"
#include "spectral/FftKernel.h"
#include "spectral/RealSpectrum.h"

// How the conversion is computed
//
// With x the n + 1 input samples, L = CepstrumLength, S = FoldedLength = L/4 and H = L/2,
// the result is defined by four transforms: X = DFT_L(x zero-padded), the cepstrum
// c = IDFT_L(ln|X|), Y = DFT_S(folded c), h = IDFT_S(exp Y), first n + 1 samples. Done
// literally (CepstrumFFT) that is two complex transforms of 2^20 points and two of 2^18,
// striding through 16 MiB. The structure of the data makes most of that work unnecessary:
//
//  1. x has at most L/16 nonzero samples, so X splits into 16 interleaved DFTs of
//     M0 = L/16 points each, X[16q + r] = DFT_M0(x[m] e^(-2 pi i r m / L))[q]. As x is
//     real, residue 16 - r mirrors residue r, so seven complex DFTs (r = 1..7) and one
//     real DFT of 2 M0 points (residues 0 and 8 together) give every |X[k]|^2, k = 0..H.
//  2. ln|X| is real and even, so the cepstrum is real and even: a type-I cosine transform
//     of the H + 1 values, of which only the first S outputs are used (CosineTransform.h).
//  3. The folded cepstrum is real: Y is a real DFT of S points, one complex DFT of S/2.
//  4. exp Y is Hermitian and only the first n + 1 <= S/4 output samples are kept: one
//     complex inverse DFT of S/2 points of which the last radix-4 stage forms only the
//     first quarter.
//
// All complex DFTs run on one radix-4 kernel of S/2 points (FftKernel.h) whose twiddles, like
// those of the real-spectrum splits and of the pre- and post-passes, are exact entries of
// SineTable: no sine or cosine is evaluated inside a transform and nothing accumulates from
// a recurrence. The results agree with the literal steps to rounding (a few 1e-12 of the
// peak on the bands, against 1e-9 allowed).
//
// Memory for n = 65535: the table (2 MiB), the stage twiddles (3 MiB), the bins (4 MiB), the
// cepstrum (2 MiB) and one transform buffer (2 MiB), instead of 16 MiB of CepstrumData.

namespace tarn {
namespace {

// The conversion counts its work in elements passed through a loop and reads the clock only
// once per WorkPerClockCheck of them (some tens of microseconds).
using Clock = std::chrono::steady_clock;
constexpr std::int64_t WorkPerClockCheck = std::int64_t{1} << 16;
thread_local Clock::time_point lastPump;
thread_local std::int64_t workUntilClockCheck = WorkPerClockCheck;

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

int Log2(std::int32_t powerOfTwo) {
    return std::countr_zero(static_cast<std::uint32_t>(powerOfTwo));
}

// Doubles between arrays that would otherwise start a power of two apart.
constexpr std::size_t Pad = 40;

// What a conversion of one size computes in, beside SineTable: the stage twiddles and work
// arrays of its transforms, the bins and the cepstrum (about 11 MiB for n = 65535). Every
// value in them is written before it is read, so one set serves any number of conversions.
struct Tables {
    explicit Tables(std::int32_t s)
        : folded(s), data(SineTable.data()), fft(s, {data, TablePeriod}, Worked),
          bins(2 * s, fft.Kernel()), cepstrum(std::make_unique_for_overwrite<double[]>(s + Pad)) {}

    std::int32_t folded;                // S
    const double* data;                 // SineTable's entries the twiddles were taken from
    fft::RealFft fft;                   // S points: the kernel of S/2 points and its work arrays
    fft::ResidueRows bins;              // power, then ln|X|, bins 0..H
    std::unique_ptr<double[]> cepstrum; // c[0..S] times L; then the last transform
};

// A run's bands are converted one after another at one size: while a KeepConversionTables
// lives on the thread, the table and Tables stay for the next conversion instead of being
// built again (a fifth of a band's time) and their pages faulted in afresh.
thread_local int keepers = 0;
thread_local std::unique_ptr<Tables> kept;

// The conversion of SpecRe[0..n] in the tables of its size.
class Conversion {
  public:
    Conversion(std::int32_t n, Tables& tables)
        : n_(n), S_(FoldedLength), R_(S_ / 2), M0_(S_ / 4), lgL_(Log2(CepstrumLength)),
          lgS_(Log2(S_)), q_{SineTable.data(), TablePeriod}, fft_(tables.fft), bins_(tables.bins),
          cepstrum_(tables.cepstrum.get()) {
        assert(CepstrumLength == 4 * S_ && TablePeriod == CepstrumLength && n_ < M0_ &&
               tables.folded == S_ && tables.data == SineTable.data());
    }

    void Run() {
        const double peak = PowerSpectrum();
        // An all-zero response has no magnitude to take the logarithm of; it is its own
        // minimum-phase counterpart.
        if (peak == 0.0) return;
        LogMagnitude(peak);
        PumpNow();
        fft::HalfCosineI(bins_, fft_, Worked, cepstrum_); // step 2, without its 1/L
        FoldedSpectrum();
        Exponentiate();
        Response();
    }

  private:
    // Power of residue r's bins, X_r[q] = bin 16q + r, with X_r in bit-reversed order in the
    // work arrays. For even p, q = rev(p) < M0/2, and rev(q) over one bit less is p/2. For odd
    // p, q >= M0/2: that bin lies above H, and its mirror L - 16q - r = 16(M0 - 1 - q) +
    // 16 - r, of residue 16 - r, has the same power; M0 - 1 - q reversed is M0/2 - 1 - p/2.
    // Returns the largest power.
    double StorePowers(std::int32_t r) {
        const double* re = fft_.Re();
        const double* im = fft_.Im();
        double* low = bins_.Row(r);
        double* high = bins_.Row(16 - r) + (M0_ / 2 - 1);
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
        const std::int32_t quarter = q_.period / 4, half = q_.period / 2;
        double* re = fft_.Re();
        double* im = fft_.Im();
        double peak = 0.0;

        // Residues r and 16 - r: y[m] = x[m] exp(-2 pi i r m / L) for m < M0.
        for (std::int32_t r = 1; r <= 7; ++r) {
            // r m < 7L/16: the first quadrant up to m = P/4r, then the second, where
            // cos = -t[k - P/4] and sin = t[P/2 - k].
            const std::int32_t firstQuadrant = std::min(count, quarter / r + 1);
            for (std::int32_t m = 0; m < firstQuadrant; ++m) {
                const std::int32_t k = r * m;
                re[m] = x[m] * t[quarter - k];
                im[m] = -(x[m] * t[k]);
            }
            for (std::int32_t m = firstQuadrant; m < count; ++m) {
                const std::int32_t k = r * m;
                re[m] = -(x[m] * t[k - quarter]);
                im[m] = -(x[m] * t[half - k]);
            }
            std::fill(re + count, re + M0_, 0.0);
            std::fill(im + count, im + M0_, 0.0);
            Worked(std::int64_t{M0_});
            fft_.Kernel().ForwardDif(re, im, lg);
            peak = std::max(peak, StorePowers(r));
            Worked(std::int64_t{M0_});
        }

        // Residues 0 and 8 are the bins 8k, k = 0..M0, of DFT_2M0(x), a real transform.
        fft_.Forward(
            lg + 1,
            [=](std::int32_t i, double& zr, double& zi) {
                zr = 2 * i < count ? x[2 * i] : 0.0;
                zi = 2 * i + 1 < count ? x[2 * i + 1] : 0.0;
            },
            [&](std::int32_t k, double xr, double xi) {
                const double power = xr * xr + xi * xi;
                bins_[8 * std::int64_t{k}] = power;
                peak = std::max(peak, power);
            });
        Worked(3 * std::int64_t{M0_});
        return peak;
    }

    // ln|X[k]| = ln(power) / 2, an exactly zero power replaced by 1e-16 x peak.
    void LogMagnitude(double peak) {
        const double floor = 1e-16 * peak;
        for (std::int32_t r = 0; r < 16; ++r) {
            double* v = bins_.Row(r);
            const std::int32_t count = bins_.RowBins(r);
            for (std::int32_t k = 0; k < count; ++k)
                v[k] = 0.5 * std::log(v[k] == 0.0 ? floor : v[k]);
            Worked(8 * std::int64_t{count});
        }
    }

    // Step 3: Y = DFT_S(folded cepstrum) for bins 0..S/2: bins 0..S/2-1 in the work arrays,
    // bin S/2 (real) in nyquist_. The fold keeps c[0] and doubles c[1..S-1]; with the
    // cepstrum's 1/L both are exact powers of two.
    void FoldedSpectrum() {
        PumpNow();
        const double* c = cepstrum_;
        const double unfolded = std::ldexp(1.0, -lgL_), folded = std::ldexp(1.0, 1 - lgL_);
        double* re = fft_.Re();
        double* im = fft_.Im();
        fft_.Forward(
            lgS_,
            [=](std::int32_t t, double& zr, double& zi) {
                zr = c[2 * t] * (t == 0 ? unfolded : folded);
                zi = c[2 * t + 1] * folded;
            },
            [&](std::int32_t k, double yr, double yi) {
                if (k == R_) {
                    nyquist_ = yr;
                } else {
                    re[k] = yr;
                    im[k] = yi;
                }
            });
        Worked(2 * std::int64_t{R_});
    }

    // Step 4 begins: exp(Y), magnitude e^Re, phase Im [rad].
    void Exponentiate() {
        double* re = fft_.Re();
        double* im = fft_.Im();
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

    // Step 4: h = IDFT_S(exp Y), real since exp Y is Hermitian, packed as
    // z[t] = h[2t] + i h[2t+1] = IDFT_{S/2}(Z) with Z[k] = F[k] + conj F[S/2-k]
    // + i exp(+2 pi i k / S)(F[k] - conj F[S/2-k]) (twice the usual, so the scale is 1/S):
    // the real-spectrum split run backwards. Only t < S/8 are needed, the first quarter.
    void Response() {
        PumpNow();
        double* re = fft_.Re();
        double* im = fft_.Im();
        for (std::int32_t k = 0; k <= R_ / 2; ++k) {
            const std::int32_t kk = R_ - k;
            const double fr = re[k], fi = im[k];
            const double gr = k == 0 ? nyquist_ : re[kk], gi = k == 0 ? 0.0 : im[kk];
            const double ar = fr + gr, ai = fi - gi, dr = fr - gr, di = fi + gi;
            double wdr, wdi;
            fft::Rotate<true>(dr, di, q_.Cos1(4 * k), q_.Sin1(4 * k), wdr, wdi);
            re[k] = ar - wdi;
            im[k] = ai + wdr;
            if (k != 0 && kk != k) {
                re[kk] = ar + wdi;
                im[kk] = -ai + wdr;
            }
        }
        // Into the cepstrum's storage, no longer needed, in bit-reversed order.
        double* zr = cepstrum_;
        double* zi = zr + R_ + Pad;
        const int lgR = lgS_ - 1;
        fft_.Kernel().ScatterBitReversed(zr, zi, lgR,
                                         [re, im](std::int32_t k, double& outRe, double& outIm) {
                                             outRe = re[k];
                                             outIm = im[k];
                                         });
        Worked(3 * std::int64_t{R_});
        fft_.Kernel().Inverse(zr, zi, lgR, true);

        const double scale = std::ldexp(1.0, -lgS_);
        double* h = SpecRe.data();
        for (std::int32_t t = 0; 2 * t < n_; ++t) {
            h[2 * t] = zr[t] * scale;
            h[2 * t + 1] = zi[t] * scale;
        }
    }

    std::int32_t n_;
    std::int32_t S_, R_, M0_; // S, S/2, S/4
    int lgL_, lgS_;
    fft::QuarterWave q_; // SineTable
    fft::RealFft& fft_;
    fft::ResidueRows& bins_;
    double* cepstrum_;
    double nyquist_ = 0.0; // Y, then exp Y, at bin S/2
};

// Empties the table and the tables when a conversion ends, however it ends, unless a run
// keeps them.
struct TableRelease {
    ~TableRelease() {
        if (keepers > 0) return;
        kept.reset();
        std::vector<double>().swap(SineTable);
    }
};

} // namespace

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
    // Kept tables serve only while the table they were taken from is still the one in place.
    if (!kept || kept->folded != folded || kept->data != SineTable.data() ||
        SineTable.size() != static_cast<std::size_t>(TablePeriod / 4 + 1)) {
        kept.reset();
        BuildSineTable();
        kept = std::make_unique<Tables>(folded);
    }
    lastPump = Clock::now();
    workUntilClockCheck = WorkPerClockCheck;
    Conversion(n, *kept).Run();
}

KeepConversionTables::KeepConversionTables() {
    ++keepers;
}

KeepConversionTables::~KeepConversionTables() {
    if (--keepers > 0) return;
    kept.reset();
    std::vector<double>().swap(SineTable);
}

} // namespace tarn
