// What tarn-cli report says about a set below its table: the design it was written with, its
// latency, each band's level at each crossover frequency, each band's own level, delay and
// polarity, and the sum of the bands both as written (what an engine puts out) and as the
// crossover itself makes it (the trims taken back out).
#pragma once

#include <complex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/Response.h"
#include "crossover/BandTrim.h"
#include "crossover/Shorten.h"

namespace tarn {

// The design of a set as the project stores it. The caller reads it; the analysis knows no
// settings files.
struct StoredDesign {
    std::string alignment = "Tarn";
    // The crossover frequencies [Hz] the run designed, lowest first; nothing when the
    // project does not store them.
    std::optional<std::vector<double>> crossoverHz;
    // Per band of the set, lowest first; a band without one has the neutral trim.
    std::vector<BandTrim> trims;
};

// The response of taps at exactly hz: the sum over n of taps[n] e^(-2 pi i hz n / fs), not
// the nearest bin of a transform (on a steep slope one bin is several dB).
std::complex<double> ResponseAt(std::span<const double> taps, double hz, double sampleRate);
double LevelDbAt(std::span<const double> taps, double hz, double sampleRate);

// The phase a set was written in, told from its lowest band: linear phase peaks at the
// LinearPhasePeak of the tap count, later by the band's delay; minimum phase near tap 0.
BandPhase PhaseOfSet(const ResponseAnalysis& analysis, std::span<const BandTrim> trims);

// The two bands around a crossover at its frequency, each with its level trim taken out.
struct CrossoverLevel {
    double hz = 0;
    double lowerDb = 0; // the band below the crossover
    double upperDb = 0; // the band above it
};
// hz: one frequency per crossover (analysis.bands.size() - 1), each below half the rate.
std::vector<CrossoverLevel> CrossoverLevels(const ResponseAnalysis& analysis,
                                            std::span<const double> hz,
                                            std::span<const BandTrim> trims);

// The lines that follow the table: alignment, latency, crossover levels, the band trims and
// the two sums with their largest deviations from flat over the options' flat range (once,
// when no band has a trim and the two are the same).
std::string DesignText(const ResponseAnalysis& analysis, const StoredDesign& design,
                       const AnalysisOptions& options = {});

} // namespace tarn
