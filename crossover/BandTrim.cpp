#include "crossover/BandTrim.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
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
// 8000 Hz, order 10, 48 kHz): the share of a band's energy that its lead-in puts before the
// room the whole samples give.
//
// A fraction exact up to the Nyquist frequency cannot be short: bin N/2 must stay real, so
// its phase jumps there, and its kernel decays as 1 / n. The High band, which reaches the
// Nyquist frequency at full level, then leads in with 5.8% of its energy before tap 0 for
// half a sample, 0.80% before 4 whole samples for 4.8, still 0.47% before 32 for 32.5. So the
// fraction is exact only below ExactShareOfNyquist (21.6 kHz at 48 kHz, 19.8 kHz at 44.1 kHz:
// the audio band at every rate), and above it its phase turns to that of a whole sample at
// the Nyquist frequency. A later start of the turn leads in more (0.95 of Nyquist: up to 16
// times as much), an earlier one departs from the delay where it should be exact.
//
// No one turn is best at every room. A straight turn (the group delay a step over the top
// band) leaves the least right before the start: half a sample leads in with 0.11% of the
// High band's energy before 4 whole samples, 0.028% before 8; a smooth one (the group delay a
// raised-cosine bump, the phase smooth to its second derivative) with 0.47% and 0.24%. Its
// kernel decays faster, so with more room it wins: 1.2e-8 before 64 whole samples, against
// 2.2e-6 straight. Nor is the whole sample to turn to always the nearer one: 0.4 of a sample
// turned to 0 leads in with 6.2% before tap 0, turned to 1 with 0.28%. So each of the four
// is tried, and the one that drops the least is kept.
//
// Sub, Low, LowMid and Mid, which have nothing near the Nyquist frequency, drop less than
// 1e-7 of their energy that way even with no whole samples, and their delay stays exact.
// A band that reaches the Nyquist frequency cannot start a fraction of a sample later
// without ringing before its start; see MaxDroppedLeadIn for what it gets instead.
constexpr double ExactShareOfNyquist = 0.9;

// The share of a band's energy whose lead-in may be dropped all at once. What is dropped is
// broadband: a floor under the band's stop band (the High band delayed 0.1 ms would drop
// 1.2e-4 and leave a floor at -58 dB, which moves the crossover's own sum at 82.6 Hz by 0.02
// dB). Beyond it, the fraction's own kernel is cut to the room and applied to the band
// instead: the band's stop band stays as designed and the departure stays where the band
// has content. Measured on High: 0.1 ms departs at most 0.08 dB in level and 0.05 samples in
// group delay below 16 kHz (0.13 dB, 0.09 samples below 20 kHz); half a sample, with no
// room at all, 1.2 dB and 0.19 samples below 16 kHz.
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

// Bins 0..N/2 of the workspace's spectrum.
struct HalfSpectrum {
    std::vector<double> re, im;

    static HalfSpectrum Take() {
        const auto bins = static_cast<std::ptrdiff_t>(SpecLength / 2 + 1);
        return {{SpecRe.begin(), SpecRe.begin() + bins}, {SpecIm.begin(), SpecIm.begin() + bins}};
    }
    void Put() const {
        std::copy(re.begin(), re.end(), SpecRe.begin());
        std::copy(im.begin(), im.end(), SpecIm.begin());
    }
};

// The ways the fraction's phase can turn over the top band.
struct TurnChoice {
    Turn turn;
    int whole;
};
std::array<TurnChoice, 4> TurnChoices(double frac) {
    const int nearer = frac < 0.5 ? 0 : 1;
    return {{{Turn::Straight, nearer},
             {Turn::Straight, 1 - nearer},
             {Turn::Smooth, nearer},
             {Turn::Smooth, 1 - nearer}}};
}

// The phase of a delay of frac samples on the bins 0..N/2 of N = SpecLength points: exact
// below ExactShareOfNyquist, turning above it to reach a whole sample at the Nyquist
// frequency. The exact part, the bulk of the bins, is the same for every turn and is worked
// out once.
class FractionPhase {
  public:
    explicit FractionPhase(double frac)
        : frac_(frac), half_(SpecLength / 2), edge_(ExactShareOfNyquist * half_),
          exactBins_(static_cast<std::int32_t>(std::floor(edge_)) + 1) {
        re_.resize(static_cast<std::size_t>(exactBins_));
        im_.resize(static_cast<std::size_t>(exactBins_));
        for (std::int32_t k = 0; k < exactBins_; ++k)
            Phasor(Angle(k), re_[k], im_[k]);
    }

    // Bins 0..N/2 of the workspace times the phasors of the turn.
    void Apply(TurnChoice choice) const {
        Each(choice, [](std::int32_t k, double c, double s) {
            const double re = SpecRe[k], im = SpecIm[k];
            SpecRe[k] = re * c - im * s;
            SpecIm[k] = re * s + im * c;
        });
    }
    // Bins 0..N/2 of the workspace set to the phasors of the turn: the spectrum of its kernel.
    void Put(TurnChoice choice) const {
        Each(choice, [](std::int32_t k, double c, double s) {
            SpecRe[k] = c;
            SpecIm[k] = s;
        });
    }

  private:
    static constexpr double Pi = std::numbers::pi;

    // Worked out in long double, so that it is the angle to within a rounding of a double.
    double Angle(std::int32_t k) const {
        return static_cast<double>(-2.0L * std::numbers::pi_v<long double> * frac_ * k /
                                   (2 * half_));
    }
    // The sine and cosine of a double: those of a long double would take most of the time of
    // the whole delay.
    static void Phasor(double angle, double& c, double& s) {
        c = std::cos(angle);
        s = std::sin(angle);
    }
    // f(k, cos, sin) for the bins 0..N/2; the Nyquist bin stays real.
    template <typename F> void Each(TurnChoice choice, F f) const {
        for (std::int32_t k = 0; k < exactBins_; ++k)
            f(k, re_[k], im_[k]);
        const double width = half_ - edge_;
        for (std::int32_t k = exactBins_; k < half_; ++k) {
            const double x = (k - edge_) / width;
            const double share =
                choice.turn == Turn::Straight ? x : x - std::sin(2.0 * Pi * x) / (2.0 * Pi);
            double c, s;
            Phasor(Angle(k) + Pi * (frac_ - choice.whole) * share, c, s);
            f(k, c, s);
        }
        f(half_, choice.whole % 2 != 0 ? -1.0 : 1.0, 0.0);
    }

    double frac_;
    std::int32_t half_;
    double edge_;
    std::int32_t exactBins_;
    std::vector<double> re_, im_;
};

// On a grid of 2N points the delayed response occupies the first half and its lead-in the
// end of the second, with nothing wrapped; of the lead-in, the last delay.whole points are
// kept and left at the end of the N taps, where ShiftAndScale's turn by delay.whole puts
// them in front.
void DelayMinimumPhaseByFraction(DelaySplit delay) {
    const std::int32_t n = SpecLength;
    const std::int32_t kept = std::min(delay.whole, n);
    const double energy =
        Energy(std::span<const double>(SpecRe).first(static_cast<std::size_t>(n)));
    // On the padded grid: what falls before the room, and the trace of a tail that reaches
    // past the first half (CheckDelayFits has made sure it is one).
    const auto beforeTheRoom = [n, kept] {
        return std::span<double>(SpecRe).subspan(static_cast<std::size_t>(n),
                                                 static_cast<std::size_t>(n - kept));
    };
    std::vector<double> delayed;
    {
        const PaddedGrid grid(2 * n);
        RealFFT();
        const HalfSpectrum band = HalfSpectrum::Take();
        const FractionPhase phase(delay.frac);

        // The band delayed exactly below ExactShareOfNyquist, its lead-in before the room
        // dropped: the turn that drops the least.
        double leastDropped = 0.0;
        for (const TurnChoice& choice : TurnChoices(delay.frac)) {
            band.Put();
            phase.Apply(choice);
            InverseRealFFT();
            const double dropped = Energy(beforeTheRoom());
            if (delayed.empty() || dropped < leastDropped) {
                leastDropped = dropped;
                delayed.assign(SpecRe.begin(), SpecRe.end());
            }
        }

        if (leastDropped > MaxDroppedLeadIn * energy) {
            // The fraction's own kernel, its lead-in cut to the room, applied to the band: what
            // the cut changes, it changes only where the band has content. The turn is the one
            // that changes the band the least.
            std::vector<double> power(band.re.size());
            for (std::size_t k = 0; k < power.size(); ++k)
                power[k] = band.re[k] * band.re[k] + band.im[k] * band.im[k];
            double leastChange = 0.0;
            HalfSpectrum kernel;
            for (const TurnChoice& choice : TurnChoices(delay.frac)) {
                phase.Put(choice);
                const HalfSpectrum whole = HalfSpectrum::Take();
                InverseRealFFT();
                const std::span<double> lead = beforeTheRoom();
                std::fill(lead.begin(), lead.end(), 0.0);
                RealFFT();
                double change = 0.0;
                for (std::int32_t k = 0; k <= n; ++k) {
                    const double dr = whole.re[k] - SpecRe[k], di = whole.im[k] - SpecIm[k];
                    change += power[k] * (dr * dr + di * di);
                }
                if (kernel.re.empty() || change < leastChange) {
                    leastChange = change;
                    kernel = HalfSpectrum::Take();
                }
            }
            for (std::int32_t k = 0; k <= n; ++k) {
                SpecRe[k] = band.re[k] * kernel.re[k] - band.im[k] * kernel.im[k];
                SpecIm[k] = band.re[k] * kernel.im[k] + band.im[k] * kernel.re[k];
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
    // What the move pushes past the last tap, plus the sample a fraction moves it by.
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
