#include "crossover/BandTrim.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <span>
#include <utility>
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

namespace {

// Bin N/2 of a real signal must stay real; it keeps the real part of its rotated value
// (zero for half a sample, which is what a response symmetric about a half tap needs).
void DelayLinearPhaseByFraction(double frac) {
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

// The fraction of a minimum-phase band, chosen by measuring the five-way set (80, 500, 3000,
// 8000 Hz, order 10, 48 kHz): the energy of the lead-in that falls before the room the whole
// samples give, which is what the band loses.
//
// A fraction exact up to the Nyquist frequency cannot be short: bin N/2 must stay real, so
// its phase jumps there, and its kernel decays as 1 / n. The High band, which reaches the
// Nyquist frequency at full level, then leads in with 9.6% of its energy before tap 0 for
// half a sample. So the fraction is exact only below ExactShareOfNyquist (21.6 kHz at 48 kHz,
// 19.8 kHz at 44.1 kHz: the audio band at every rate); above it the phase turns to that of a
// whole sample at the Nyquist frequency. A later start of the turn (0.92 or 0.95 of Nyquist)
// leads in more at every room: the narrower the turn, the longer the kernel.
//
// No one turn is best at every room. A straight turn (the group delay a step over the top
// band) leaves the least right before the start: half a sample leads in with 0.11% of the
// High band's energy before 4 whole samples, 0.028% before 8; a smooth one (the group delay a
// raised-cosine bump, the phase smooth to its second derivative) 0.47% and 0.24%. Its kernel
// decays faster, so with more room it wins: 1.2e-8 before 64 whole samples, against 2.2e-6
// straight. Nor is the whole sample to turn to always the nearer one: 0.4 of a sample turned
// to 0 leads in with 6.2% before tap 0, turned to 1 with 0.28%. So each of the four is tried
// and the one that drops the least is kept (four inverse transforms: a few milliseconds).
//
// What remains is the physics of a band that starts at tap 0 and has content up to the
// Nyquist frequency; it cannot start a fraction of a sample later without ringing before its
// start. The High band delayed 0.5 sample loses 0.29% of its energy, 4.8 samples (0.1 ms)
// 0.020%, 32.5 samples 5e-6; Sub, Low, LowMid and Mid lose less than 1e-7 even with no whole
// samples.
constexpr double ExactShareOfNyquist = 0.9;

// The share of a band's energy whose lead-in may be dropped all at once. What is dropped is
// broadband: a floor under the band's stop band (the High band delayed 0.1 ms dropped 2e-4
// and left a floor at -58 dB, which moved the crossover's own sum at 82.6 Hz by 0.02 dB).
// Above it, the fraction's kernel is cut to the room instead and applied to the band, which
// keeps the stop band as designed and the error where the band has content.
constexpr double MaxDroppedLeadIn = 1e-6;

// How the phase turns from the exact fraction's to a whole sample's over the top band.
enum class Turn { Straight, Smooth };

// Holds the thread's workspace aside while the transforms run on a grid of `points` points
// that starts as the caller's taps padded with zeros; gives the caller's arrays back when it
// goes, also when a transform throws (a window's host may interrupt the calculation).
class PaddedGrid {
  public:
    explicit PaddedGrid(std::int32_t points)
        : re_(std::move(SpecRe)), im_(std::move(SpecIm)), length_(SpecLength) {
        SpecRe.assign(static_cast<std::size_t>(points), 0.0);
        SpecIm.assign(static_cast<std::size_t>(points), 0.0);
        std::copy_n(re_.begin(), length_, SpecRe.begin());
        SpecLength = points;
    }
    ~PaddedGrid() {
        SpecRe = std::move(re_);
        SpecIm = std::move(im_);
        SpecLength = length_;
    }
    PaddedGrid(const PaddedGrid&) = delete;
    PaddedGrid& operator=(const PaddedGrid&) = delete;

  private:
    std::vector<double> re_;
    std::vector<double> im_;
    std::int32_t length_;
};

// Turns the spectrum in the workspace (bins 0..N/2 of N = SpecLength points) by the phase of
// a delay of frac samples, exact below ExactShareOfNyquist, that reaches `whole` samples at
// the Nyquist frequency.
void TurnByFraction(double frac, int whole, Turn turn) {
    const std::int32_t n = SpecLength;
    const long double pi = std::numbers::pi_v<long double>;
    const long double step = -2.0L * pi * frac / n;
    const long double edge = ExactShareOfNyquist * (n / 2);
    const long double width = n / 2 - edge;
    for (std::int32_t k = 1; k < n / 2; ++k) {
        long double angle = step * k;
        if (k > edge) {
            const long double x = (k - edge) / width;
            const long double share =
                turn == Turn::Straight ? x : x - std::sin(2.0L * pi * x) / (2.0L * pi);
            angle += pi * (frac - whole) * share;
        }
        const double c = static_cast<double>(std::cos(angle));
        const double s = static_cast<double>(std::sin(angle));
        const double re = SpecRe[k], im = SpecIm[k];
        SpecRe[k] = re * c - im * s;
        SpecIm[k] = re * s + im * c;
    }
    if (whole % 2 != 0) SpecRe[n / 2] = -SpecRe[n / 2];
    SpecIm[n / 2] = 0.0;
}

// On a grid of 2N points the delayed response occupies the first half and its lead-in the
// end of the second, with nothing wrapped; of the lead-in, the last delay.whole points are
// kept and left at the end of the N taps, where ShiftAndScale's turn by delay.whole puts
// them in front.
void DelayMinimumPhaseByFraction(DelaySplit delay) {
    const std::int32_t n = SpecLength;
    const std::int32_t kept = std::min(delay.whole, n);
    const double energy =
        Energy(std::span<const double>(SpecRe).first(static_cast<std::size_t>(n)));
    // What falls before the room, and the trace of a tail that reaches past the first half
    // (CheckDelayFits has made sure it is one), of a response on the padded grid.
    const auto dropped = [n, kept] {
        return Energy(std::span<const double>(SpecRe).subspan(static_cast<std::size_t>(n),
                                                              static_cast<std::size_t>(n - kept)));
    };
    std::vector<double> delayed;
    {
        const PaddedGrid grid(2 * n);
        RealFFT();
        const std::vector<double> re(SpecRe.begin(), SpecRe.begin() + n + 1);
        const std::vector<double> im(SpecIm.begin(), SpecIm.begin() + n + 1);
        const int nearer = delay.frac < 0.5 ? 0 : 1;
        double leastCut = 0.0;
        Turn bestTurn = Turn::Straight;
        int bestWhole = nearer;
        for (const Turn turn : {Turn::Straight, Turn::Smooth})
            for (const int whole : {nearer, 1 - nearer}) {
                std::copy(re.begin(), re.end(), SpecRe.begin());
                std::copy(im.begin(), im.end(), SpecIm.begin());
                TurnByFraction(delay.frac, whole, turn);
                InverseRealFFT();
                const double cut = dropped();
                if (delayed.empty() || cut < leastCut) {
                    leastCut = cut;
                    bestTurn = turn;
                    bestWhole = whole;
                    delayed.assign(SpecRe.begin(), SpecRe.end());
                }
            }
        if (leastCut > MaxDroppedLeadIn * energy) {
            // The fraction's own kernel, cut to the room, then applied to the band: what it
            // loses it loses only where the band has content.
            std::fill(SpecRe.begin(), SpecRe.begin() + n + 1, 1.0);
            std::fill(SpecIm.begin(), SpecIm.begin() + n + 1, 0.0);
            TurnByFraction(delay.frac, bestWhole, bestTurn);
            InverseRealFFT();
            std::fill(SpecRe.begin() + n, SpecRe.end() - kept, 0.0);
            RealFFT();
            for (std::int32_t k = 0; k <= n; ++k) {
                const double gr = SpecRe[k], gi = SpecIm[k];
                SpecRe[k] = re[k] * gr - im[k] * gi;
                SpecIm[k] = re[k] * gi + im[k] * gr;
            }
            InverseRealFFT();
            delayed.assign(SpecRe.begin(), SpecRe.end());
        }
    }
    std::copy_n(delayed.begin(), n - kept, SpecRe.begin());
    std::copy_n(delayed.end() - kept, kept, SpecRe.begin() + (n - kept));
}

} // namespace

void DelayByFraction(DelaySplit delay, BandPhase phase) {
    if (phase == BandPhase::Linear)
        DelayLinearPhaseByFraction(delay.frac);
    else
        DelayMinimumPhaseByFraction(delay);
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

void ApplyTrim(const BandTrim& trim, double sampleRate, const std::string& band, BandPhase phase) {
    if (trim.IsNeutral()) return;
    const DelaySplit delay = SplitDelay(trim.delayMs, sampleRate);
    const std::span<double> taps(SpecRe.data(), static_cast<std::size_t>(SpecLength));
    if (delay.frac > 0.0) {
        CheckDelayFits(taps, trim, delay, band);
        DelayByFraction(delay, phase);
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
