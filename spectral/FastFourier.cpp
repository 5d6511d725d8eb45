#include "spectral/FastFourier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "core/Host.h"
#include "spectral/FftKernel.h"
#include "spectral/RealSpectrum.h"

namespace tarn {

void PumpMessages() {
    CurrentHost().ProcessMessages();
}

namespace {

// The kernel of SplitFFT and of RealFFT's last stage. Its twiddles come from the recurrence
// u = u * w with one cosine and one sine per stage, in the order a stage that walks its
// twiddles one by one would produce them. They depend on the stage's size alone, so they are
// made once and kept; keeping them also lets the butterflies run block by block over
// contiguous elements instead of striding through the whole array once per twiddle. The
// values, and so the results, stay the same.
thread_local fft::Radix2Fft kernel;

// Makes the twiddles of every stage of a transform of n points ready.
void PrepareTwiddles(std::int32_t n) {
    if (kernel.Size() >= n) return;
    kernel.Prepare(n, [](std::int32_t h, double* re, double* im) {
        const double pi = 3.14159265358979323846;
        const double wr = std::cos(pi / h);
        const double wi = -std::sin(pi / h);
        double ur = 1.0;
        double ui = 0.0;
        for (std::int32_t j = 0; j < h; ++j) {
            re[j] = ur;
            im[j] = ui;
            const double next = ur * wr - ui * wi;
            ui = ur * wi + ui * wr;
            ur = next;
        }
    });
}

// Phase -> (cos, sin) of the last PolarToRect, bin by bin. Every band of a run, and of every
// later run, uses the same phases k * pi, so after the first band the costly cosine and sine
// of large arguments become a comparison. A bin whose phase differs is computed afresh.
thread_local std::vector<double> cachedPhase;
thread_local std::vector<double> cachedCos;
thread_local std::vector<double> cachedSin;

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

void SplitFFT(std::int32_t n) {
    PumpMessages();
    PrepareTwiddles(n);
    kernel.Transform(SpecRe.data(), SpecIm.data(), n);
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

    // The spectrum of the even samples into the lower half, that of the odd samples (before
    // its twiddles) into the upper half; see RealSpectrum.h.
    fft::SplitEvenOdd(re, im, h,
                      [re, im, h, n](std::int32_t k, const fft::EvenOdd& p, bool paired) {
                          re[k] = p.evenRe;
                          im[k] = p.evenIm;
                          re[k + h] = p.oddRe;
                          im[k + h] = p.oddIm;
                          if (!paired) return;
                          re[h - k] = p.evenRe;
                          im[h - k] = -p.evenIm;
                          re[n - k] = p.oddRe;
                          im[n - k] = -p.oddIm;
                      });

    // The last butterfly stage over all n points joins the two half spectra.
    PrepareTwiddles(n);
    kernel.Stage(re, im, n, h);
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
