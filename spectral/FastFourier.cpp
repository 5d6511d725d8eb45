#include "spectral/FastFourier.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "app/WindowOperations.h"

namespace tarn {

void PumpMessages() {
    Window().ProcessMessages();
}

namespace {

// Twiddles of one butterfly stage, produced by the same recurrence u = u * w, in the same
// order, as a stage that walks its twiddles one by one would produce them. Storing them lets
// the butterflies run block by block over contiguous elements instead of striding through
// the whole array once per twiddle; the values, and so the results, are the same.
std::vector<double> twiddleRe;
std::vector<double> twiddleIm;

void StageTwiddles(std::int32_t h) {
    if (static_cast<std::int32_t>(twiddleRe.size()) < h) {
        twiddleRe.resize(h);
        twiddleIm.resize(h);
    }
    const double pi = 3.14159265358979323846;
    const double wr = std::cos(pi / h);
    const double wi = -std::sin(pi / h);
    double ur = 1.0;
    double ui = 0.0;
    for (std::int32_t j = 0; j < h; ++j) {
        twiddleRe[j] = ur;
        twiddleIm[j] = ui;
        const double next = ur * wr - ui * wi;
        ui = ur * wi + ui * wr;
        ur = next;
    }
}

// Butterflies between re/im[j] and re/im[j + h] for j = 0..count-1, twiddle j from the table.
inline void Butterflies(double* __restrict re, double* __restrict im, std::int32_t h,
                        std::int32_t count) {
    const double* __restrict tr = twiddleRe.data();
    const double* __restrict ti = twiddleIm.data();
    double* __restrict reHi = re + h;
    double* __restrict imHi = im + h;
    for (std::int32_t j = 0; j < count; ++j) {
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

void SplitFFT(std::int32_t n) {
    PumpMessages();
    double* re = SpecRe.data();
    double* im = SpecIm.data();

    // Bit-reversal permutation; elements 0 and n-1 stay where they are.
    std::int32_t j = n / 2;
    for (std::int32_t i = 1; i <= n - 2; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        std::int32_t k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }

    // Stage l combines pairs of transforms of length h into transforms of length le = 2h.
    for (std::int32_t h = 1; h < n; h *= 2) {
        const std::int32_t le = 2 * h;
        StageTwiddles(h);
        if (h < 8) {
            // Few twiddles and many blocks: walk each twiddle through all blocks.
            for (std::int32_t t = 0; t < h; ++t) {
                const double ur = twiddleRe[t];
                const double ui = twiddleIm[t];
                for (std::int32_t i = t; i < n; i += le) {
                    const std::int32_t ip = i + h;
                    const double tr = re[ip] * ur - im[ip] * ui;
                    const double ti = re[ip] * ui + im[ip] * ur;
                    re[ip] = re[i] - tr;
                    im[ip] = im[i] - ti;
                    re[i] = re[i] + tr;
                    im[i] = im[i] + ti;
                }
            }
        } else {
            for (std::int32_t block = 0; block < n; block += le)
                Butterflies(re + block, im + block, h, h);
        }
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
    StageTwiddles(h);
    Butterflies(re, im, h, h);
}

void InverseRealFFT() {
    const std::int32_t n = SpecLength;
    PumpMessages();
    double* re = SpecRe.data();
    double* im = SpecIm.data();

    for (std::int32_t k = n / 2 + 1; k < n; ++k) {
        re[k] = re[n - k];
        im[k] = -im[n - k];
    }
    // The inverse of a real signal's spectrum through a forward transform: with the
    // Hartley-like sum re + im, the forward transform's re + im is n times the signal.
    for (std::int32_t k = 0; k < n; ++k)
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
