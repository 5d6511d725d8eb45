// Per-band trims: the level, delay and polarity a speaker builder sets for each driver,
// baked into the band's taps so that every engine honours them (many have no per-output
// delay at all).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "crossover/Shorten.h"

namespace tarn {

struct BandTrim {
    double levelDb = 0.0; // MinLevelDb..MaxLevelDb
    double delayMs = 0.0; // 0..MaxDelayMs; the same time at every sample rate
    bool invert = false;

    // At its defaults a trim leaves the taps untouched, bit for bit.
    bool IsNeutral() const { return levelDb == 0.0 && delayMs == 0.0 && !invert; }
};

inline constexpr double MinLevelDb = -60.0;
inline constexpr double MaxLevelDb = 20.0;
inline constexpr double MaxDelayMs = 20.0;
// Speed of sound [m/s] for delays entered as a distance: air at about 20 degrees C.
inline constexpr double SpeedOfSound = 343.0;

// The delay [ms] that sound takes over a distance [mm].
inline double DelayMsFromMillimetres(double mm) {
    return mm / SpeedOfSound;
}
inline double MillimetresFromDelayMs(double ms) {
    return ms * SpeedOfSound;
}

// The amplitude factor of a level [dB].
double LevelGain(double levelDb);

// A delay [ms] at sampleRate [Hz] as whole samples and a fraction 0 <= frac < 1. A delay a
// hair off a whole number of samples (0.5 ms at 48 kHz) counts as whole, so that it moves
// the taps exactly rather than through two transforms.
struct DelaySplit {
    std::int32_t whole = 0;
    double frac = 0.0;
};
DelaySplit SplitDelay(double delayMs, double sampleRate);

// Delays the band response in SpecRe[0..SpecLength-1] (a time signal) by delay.frac
// (0 < frac < 1) of a sample, ready for ShiftAndScale to move it by delay.whole.
//
// Linear phase: a linear phase on the bins, exact for the design and free of interpolation
// ripple. The response sits at the centre with room on both sides; the interpolation's
// lead-in wraps round to the last taps, from where ShiftAndScale turns it back in front.
//
// Minimum phase: the response starts at tap 0, so the lead-in has only the whole samples of
// the delay as room in front of it. The fraction is a linear phase up to 0.9 of the Nyquist
// frequency (exact there, on the bins) and turns to a whole sample above, which keeps the
// lead-in short; it is applied on a grid of twice the length, so nothing wraps round. Of the
// lead-in, the delay.whole samples that have room are left at the end of the taps for
// ShiftAndScale to turn in front; what falls before them is dropped. That is a trace for a
// band with nothing near the Nyquist frequency. For one that reaches it (a top band), the
// fraction's kernel is cut to the room instead, which keeps its stop band as designed and
// costs some accuracy near the top of its pass band (see BandTrim.cpp).
void DelayByFraction(DelaySplit delay, BandPhase phase);

// The factor a trim scales the taps by: its level's gain, negated when inverted.
double TrimGain(const BandTrim& trim);

// Throws TarnError naming band when the delay would push more than a trace of the response
// in taps past the last tap (the whole samples, plus the one a fraction moves it by).
void CheckDelayFits(std::span<const double> taps, const BandTrim& trim, DelaySplit delay,
                    const std::string& band);

// Moves taps later by the whole samples of delay and scales them by the trim's gain. Without
// a fraction the move is checked first (CheckDelayFits) and the first taps become zero;
// after DelayByFraction (whose caller checked the delay before it) the taps are turned round,
// which brings the interpolation's lead-in, left at the end of the taps, in front of the
// response.
void ShiftAndScale(std::span<double> taps, const BandTrim& trim, DelaySplit delay,
                   const std::string& band);

// Applies trim to the band response of the given phase held in SpecRe[0..SpecLength-1] (a
// time signal; SpecIm all zero). The delay's whole samples move the taps exactly; its
// fraction is DelayByFraction's. Then the level scales every tap (exactly, for a gain that
// is a power of two) and the polarity negates them. Throws TarnError naming band when the
// delay would push more than a trace of the response past the last tap; the workspace is
// then unspecified.
void ApplyTrim(const BandTrim& trim, double sampleRate, const std::string& band,
               BandPhase phase = BandPhase::Linear);

// The largest gain [dB] over frequency of the response in SpecRe (which is left as it was):
// what a full-scale sine can reach through the band.
double PeakGainDb();

} // namespace tarn
