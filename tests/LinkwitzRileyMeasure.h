// Linkwitz-Riley sets measured as a user would measure their files: the taps of every band,
// their complex sum through a 2^18-point transform, levels by a direct sum over the taps at
// exactly the asked frequency. Shared by the tests and the grid check.
#pragma once

#include <vector>

#include "crossover/LinkwitzRiley.h"

namespace tarn::test {

// The transform the sum is measured with: a bin every 0.18 Hz at 48000 Hz.
inline constexpr int SumTransformSize = 1 << 18;

// Attenuations [dB] at which the low-pass and the high-pass of a two-way set are compared,
// at frequencies that mirror each other about the crossover on the prewarped axis.
inline constexpr double SymmetryLevelsDb[] = {3.0, 10.0, 20.0};

struct SetMeasures {
    // The sum's largest deviation from 0 dB [dB, signed] from 10 Hz to 0.45 fs, and where.
    double sumDeviationDb = 0;
    double deviationHz = 0;
    // The largest share of a band's energy in the last tenth of its taps (minimum phase) or
    // in the twentieth at either end (linear phase).
    double worstTail = 0;
    // Linear phase: the largest difference of the sum from a unit impulse at tap N/2.
    double impulseError = 0;
    // Two-way sets: the largest distance of either band from -6.02 dB at the crossover
    // frequency, and of the low-pass at each of SymmetryLevelsDb from the high-pass at the
    // mirrored frequency or from that attenuation itself [dB]. 0 for other sets.
    double levelErrorDb = 0;
    double symmetryErrorDb = 0;
    // What the run's own meter says of the set.
    TapsFit fit;
};

// Designs every band of the set in the workspace (allocated here at 65536 taps) at the
// sample rate fs, keeps the taps and measures them.
SetMeasures MeasureSet(int order, const std::vector<double>& crossovers, double fs,
                       bool minimumPhase);

// Magnitude [dB] of the taps at f [Hz]: the sum over every tap, not a bin of a transform.
double LevelDb(const std::vector<double>& taps, double f, double fs);

} // namespace tarn::test
