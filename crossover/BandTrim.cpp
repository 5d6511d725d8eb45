#include "crossover/BandTrim.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"

namespace tarn {

namespace {

// The share of a band's energy that may fall off the end of the taps when it is delayed:
// -100 dB, far below what any converter reproduces, yet well above rounding noise.
constexpr double MaxCutEnergy = 1e-10;

// Delays SpecRe by a fraction (0 < frac < 1) of a sample: a phase of -2 pi k frac / N on
// bin k. The Nyquist bin of a real signal must stay real; it keeps the real part of its
// rotated value (zero for half a sample, which is what a symmetric response of an even
// length needs).
void DelayByFraction(double frac) {
    const std::int32_t n = SpecLength;
    RealFFT();
    const long double step = -2.0L * std::numbers::pi_v<long double> * frac / n;
    for (std::int32_t k = 1; k < n / 2; ++k) {
        const long double angle = step * k;
        const double c = static_cast<double>(std::cos(angle));
        const double s = static_cast<double>(std::sin(angle));
        const double re = SpecRe[k], im = SpecIm[k];
        SpecRe[k] = re * c - im * s;
        SpecIm[k] = re * s + im * c;
    }
    SpecRe[n / 2] *= static_cast<double>(std::cos(step * (n / 2)));
    SpecIm[n / 2] = 0.0;
    InverseRealFFT();
}

double Energy(std::int32_t from, std::int32_t to) {
    double sum = 0.0;
    for (std::int32_t i = from; i < to; ++i)
        sum += SpecRe[i] * SpecRe[i];
    return sum;
}

std::string Format(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

} // namespace

double LevelGain(double levelDb) {
    // A level of whole 6.0206 dB steps is a power of two, and scaling by it is exact; pow
    // would miss it by an ulp.
    const double octaves = levelDb / (20.0 * std::log10(2.0));
    if (std::abs(octaves - std::round(octaves)) < 1e-12)
        return std::ldexp(1.0, static_cast<int>(std::round(octaves)));
    return std::pow(10.0, levelDb / 20.0);
}

void ApplyTrim(const BandTrim& trim, double sampleRate, const std::string& band) {
    if (trim.IsNeutral()) return;
    const std::int32_t n = SpecLength;
    if (trim.delayMs != 0.0) {
        const double samples = trim.delayMs * 1e-3 * sampleRate;
        // A delay a hair off a whole number of samples (0.5 ms at 48 kHz) counts as whole,
        // so that it moves the taps exactly rather than through two transforms.
        double whole = std::round(samples);
        double frac = samples - whole;
        if (std::abs(frac) < 1e-9) frac = 0.0;
        if (frac < 0.0) {
            whole -= 1.0;
            frac += 1.0;
        }
        const auto shift = static_cast<std::int32_t>(whole);
        // What the whole-sample move pushes past the last tap, plus the sample the fraction
        // would wrap round to the start.
        const std::int32_t kept = n - shift - (frac > 0.0 ? 1 : 0);
        const double total = Energy(0, n);
        if (kept <= 0 || Energy(std::max(kept, 0), n) > MaxCutEnergy * total)
            throw TarnError("The delay of " + Format(trim.delayMs) + " ms does not fit into the " +
                            std::to_string(n) + " taps of the " + band +
                            " band without cutting its response off; choose a shorter delay");
        if (frac > 0.0) DelayByFraction(frac);
        if (shift > 0) {
            std::copy_backward(SpecRe.begin(), SpecRe.begin() + (n - shift), SpecRe.begin() + n);
            std::fill(SpecRe.begin(), SpecRe.begin() + shift, 0.0);
        }
    }
    double gain = trim.levelDb == 0.0 ? 1.0 : LevelGain(trim.levelDb);
    if (trim.invert) gain = -gain;
    if (gain != 1.0)
        for (std::int32_t i = 0; i < n; ++i)
            SpecRe[i] *= gain;
}

double PeakGainDb() {
    const std::vector<double> taps(SpecRe.begin(), SpecRe.begin() + SpecLength);
    RealFFT();
    double peak = 0.0;
    for (std::int32_t k = 0; k <= SpecLength / 2; ++k)
        peak = std::max(peak, SpecRe[k] * SpecRe[k] + SpecIm[k] * SpecIm[k]);
    std::copy(taps.begin(), taps.end(), SpecRe.begin());
    std::fill(SpecIm.begin(), SpecIm.begin() + SpecLength, 0.0);
    return 10.0 * std::log10(peak);
}

} // namespace tarn
