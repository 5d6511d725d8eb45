#include "project/DesignTexts.h"

#include <algorithm>
#include <charconv>

#include "crossover/Bands.h"
#include "crossover/Shorten.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/ProjectSettings.h"

namespace tarn {

namespace {

// One decimal, whatever the process's locale (the window's locale may use a comma).
std::string Milliseconds(double ms) {
    if (ms == 0.0) return "0";
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text, ms, std::chars_format::fixed, 1).ptr;
    return std::string(text, end);
}

} // namespace

int WaysOfFields(const std::array<std::string, 4>& texts) {
    double f[4];
    for (std::size_t i = 0; i < 4; ++i) {
        try {
            f[i] = ParseFrequency(texts[i]);
        } catch (const TarnError&) {
            f[i] = -1.0;
        }
    }
    return NumberOfWays(f[0], f[1], f[2], f[3]);
}

std::string FieldBoundary(int ways, int field) {
    const auto bands = BandsFor(ways);
    if (field < 1 || static_cast<std::size_t>(field) >= bands.size()) return {};
    const auto index = static_cast<std::size_t>(field);
    return std::string(BandName(bands[index - 1].word)) + " | " +
           std::string(BandName(bands[index].word));
}

std::string LatencyText(bool minimumPhase, int taps, int rate) {
    const BandPhase phase = minimumPhase ? BandPhase::Minimum : BandPhase::Linear;
    if (rate != AllRates) return Milliseconds(LatencyMs(phase, taps, rate)) + " ms";
    double lowest = 0.0, highest = 0.0;
    bool first = true;
    for (const SampleRateTag& tag : SampleRateTags()) {
        const double ms = LatencyMs(phase, taps, tag.rate);
        lowest = first ? ms : std::min(lowest, ms);
        highest = first ? ms : std::max(highest, ms);
        first = false;
    }
    if (Milliseconds(lowest) == Milliseconds(highest)) return Milliseconds(lowest) + " ms";
    return Milliseconds(lowest) + " to " + Milliseconds(highest) + " ms";
}

std::string RunSummary(int files, const std::string& dir, const std::string& latency) {
    return std::to_string(files) + (files == 1 ? " file" : " files") + " written to " + dir +
           ", latency " + latency;
}

} // namespace tarn
