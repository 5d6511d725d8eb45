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

double Energy(std::span<const double> taps) {
    double sum = 0.0;
    for (const double t : taps)
        sum += t * t;
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

DelaySplit SplitDelay(double delayMs, double sampleRate) {
    const double samples = delayMs * 1e-3 * sampleRate;
    double whole = std::round(samples);
    double frac = samples - whole;
    if (std::abs(frac) < 1e-9) frac = 0.0;
    if (frac < 0.0) {
        whole -= 1.0;
        frac += 1.0;
    }
    return {static_cast<std::int32_t>(whole), frac};
}

// Bin N/2 of a real signal must stay real; it keeps the real part of its rotated value
// (zero for half a sample, which is what a response symmetric about a half tap needs).
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

double TrimGain(const BandTrim& trim) {
    const double gain = trim.levelDb == 0.0 ? 1.0 : LevelGain(trim.levelDb);
    return trim.invert ? -gain : gain;
}

void CheckDelayFits(std::span<const double> taps, const BandTrim& trim, DelaySplit delay,
                    const std::string& band) {
    const auto n = static_cast<std::int32_t>(taps.size());
    // What the move pushes past the last tap, plus the sample a fraction wraps round.
    const std::int32_t kept = n - delay.whole - (delay.frac > 0.0 ? 1 : 0);
    if (kept <= 0 || Energy(taps.subspan(kept)) > MaxCutEnergy * Energy(taps))
        throw TarnError("The delay of " + Format(trim.delayMs) + " ms does not fit into the " +
                        std::to_string(n) + " taps of the " + band +
                        " band without cutting its response off; choose a shorter delay");
}

void ShiftAndScale(std::span<double> taps, const BandTrim& trim, DelaySplit delay,
                   const std::string& band) {
    if (delay.whole > 0) {
        if (delay.frac > 0.0) {
            // The fraction, a linear phase, has wrapped the response's lead-in (the
            // interpolation's ringing before its start) round to the last taps; turning the
            // taps round by the whole samples puts it back in front of the response.
            std::rotate(taps.begin(), taps.end() - delay.whole, taps.end());
        } else {
            CheckDelayFits(taps, trim, delay, band);
            std::copy_backward(taps.begin(), taps.end() - delay.whole, taps.end());
            std::fill(taps.begin(), taps.begin() + delay.whole, 0.0);
        }
    }
    const double gain = TrimGain(trim);
    if (gain != 1.0)
        for (double& t : taps)
            t *= gain;
}

void ApplyTrim(const BandTrim& trim, double sampleRate, const std::string& band) {
    if (trim.IsNeutral()) return;
    const DelaySplit delay = SplitDelay(trim.delayMs, sampleRate);
    const std::span<double> taps(SpecRe.data(), static_cast<std::size_t>(SpecLength));
    if (delay.frac > 0.0) {
        CheckDelayFits(taps, trim, delay, band);
        DelayByFraction(delay.frac);
    }
    ShiftAndScale(std::span<double>(SpecRe.data(), static_cast<std::size_t>(SpecLength)), trim,
                  delay, band);
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
