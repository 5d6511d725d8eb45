#include "analysis/SetReport.h"

#include <cmath>
#include <cstdio>
#include <numbers>

namespace tarn {

namespace {

// e^(i 2 pi turns), with the whole turns dropped first so the angle stays small.
std::complex<double> Turn(double turns) {
    return std::polar(1.0, 2.0 * std::numbers::pi * (turns - std::floor(turns)));
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string DeviationText(const Deviation& d, const ResponseAnalysis& a,
                          const AnalysisOptions& options) {
    return "largest deviation from flat " + DecimalText(d.db, 4) + " dB at " +
           DecimalText(d.hz, 1) + " Hz (" + Number(options.flatFromHz) + " to " +
           Number(std::min(options.flatToHz, a.sampleRate / 2)) + " Hz)";
}

} // namespace

std::complex<double> ResponseAt(std::span<const double> taps, double hz, double sampleRate) {
    // Summed in long double: a band's stop band is the small difference of large terms.
    const double step = hz / sampleRate;
    long double re = 0, im = 0;
    for (std::size_t n = 0; n < taps.size(); ++n) {
        if (taps[n] == 0) continue;
        const std::complex<double> w = Turn(-static_cast<double>(n) * step);
        re += static_cast<long double>(taps[n]) * w.real();
        im += static_cast<long double>(taps[n]) * w.imag();
    }
    return {static_cast<double>(re), static_cast<double>(im)};
}

double LevelDbAt(std::span<const double> taps, double hz, double sampleRate) {
    return 20.0 * std::log10(std::abs(ResponseAt(taps, hz, sampleRate)));
}

BandPhase PhaseOfSet(const ResponseAnalysis& analysis, std::span<const BandTrim> trims) {
    if (analysis.bands.empty()) return BandPhase::Minimum;
    const BandResponse& lowest = analysis.bands.front();
    const auto taps = static_cast<std::int32_t>(lowest.impulse.size());
    const double linearPeak =
        LinearPhasePeak(taps) + DelaySamples(TrimAt(trims, 0), analysis.sampleRate);
    return std::abs(lowest.peakSample - linearPeak) <= 1.0 ? BandPhase::Linear : BandPhase::Minimum;
}

std::vector<CrossoverLevel> CrossoverLevels(const ResponseAnalysis& a, std::span<const double> hz,
                                            std::span<const BandTrim> trims) {
    std::vector<CrossoverLevel> levels;
    for (std::size_t i = 0; i < hz.size() && i + 1 < a.bands.size(); ++i) {
        CrossoverLevel level;
        level.hz = hz[i];
        level.lowerDb =
            LevelDbAt(a.bands[i].impulse, hz[i], a.sampleRate) - TrimAt(trims, i).levelDb;
        level.upperDb =
            LevelDbAt(a.bands[i + 1].impulse, hz[i], a.sampleRate) - TrimAt(trims, i + 1).levelDb;
        levels.push_back(level);
    }
    return levels;
}

std::string DesignText(const ResponseAnalysis& a, const StoredDesign& design,
                       const AnalysisOptions& options) {
    const std::span<const BandTrim> trims = design.trims;
    std::string text = "Alignment: " + design.alignment + "\n";

    const BandPhase phase = PhaseOfSet(a, trims);
    const auto taps = static_cast<std::int32_t>(a.bands.front().impulse.size());
    const double latency = LatencyMs(phase, taps, a.sampleRate);
    bool delayed = false;
    for (const BandTrim& trim : trims)
        delayed = delayed || trim.delayMs != 0;
    text += "Latency: " + DecimalText(latency, 3) + " ms (" +
            (phase == BandPhase::Linear
                 ? "linear phase: the peak at tap " + std::to_string(LinearPhasePeak(taps)) +
                       " of " + std::to_string(taps)
                 : std::string("minimum phase: every band starts at tap 0")) +
            ")" + (delayed ? ", plus each band's delay" : "") + "\n";

    const std::size_t crossovers = a.bands.size() - 1;
    if (crossovers == 0) {
        text += "Crossovers: none, a single band\n";
    } else if (!design.crossoverHz) {
        text += "Crossovers: their frequencies are not stored with the set\n";
    } else if (design.crossoverHz->size() != crossovers) {
        text += "Crossovers: the stored frequencies are not those of " +
                std::to_string(a.bands.size()) + " bands\n";
    } else {
        text += "Crossovers, each band's level at the frequency (its level trim taken out):\n";
        const std::vector<double>& hz = *design.crossoverHz;
        const std::vector<CrossoverLevel> levels = CrossoverLevels(a, hz, trims);
        for (std::size_t i = 0; i < crossovers; ++i) {
            text += "  " + Number(hz[i]) + " Hz: ";
            if (hz[i] <= 0 || hz[i] >= a.sampleRate / 2)
                text += "not below half the sample rate\n";
            else
                text += a.bands[i].title + " " + DecimalText(levels[i].lowerDb, 2) + " dB, " +
                        a.bands[i + 1].title + " " + DecimalText(levels[i].upperDb, 2) + " dB\n";
        }
    }

    std::vector<std::vector<std::string>> rows = {
        {"Band", "Level dB", "Delay ms", "Delay mm", "Polarity", "Latency ms"}};
    for (std::size_t b = 0; b < a.bands.size(); ++b) {
        const BandTrim trim = TrimAt(trims, b);
        std::vector<std::string> row = {a.bands[b].title};
        const std::vector<std::string> cells = TrimTexts(trim);
        row.insert(row.end(), cells.begin(), cells.end());
        row.push_back(DecimalText(latency + trim.delayMs, 3));
        rows.push_back(std::move(row));
    }
    text += "\n" + AlignedColumns(rows) + "\n";

    const Deviation written{a.deviationDb, a.deviationHz};
    if (!AnyTrim(trims)) {
        text += "Sum: " + DeviationText(written, a, options) +
                "; no band has a level, delay or polarity of its own\n";
    } else {
        const Deviation own = LargestDeviation(UntrimmedSum(a, trims), a.BinHz(), options);
        text += "Sum as written: " + DeviationText(written, a, options) + "\n";
        text += "Sum of the crossover, levels, delays and polarities taken out: " +
                DeviationText(own, a, options) + "\n";
    }
    return text;
}

} // namespace tarn
