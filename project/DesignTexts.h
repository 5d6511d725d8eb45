// What the window says about a design in words: which bands each frequency field separates
// as the user types, the latency a set will have, and the line that sums up a finished run.
#pragma once

#include <array>
#include <string>

namespace tarn {

// The number of ways the four field texts make, counted as a run counts them: the fields
// from the first unusable one on take no part. A number too large for a run (which then
// stops with an error) counts as unusable here.
int WaysOfFields(const std::array<std::string, 4>& texts);

// The two bands that field (1..4) separates in a crossover of ways ways, lower first:
// "Sub | Low"; empty for a field that takes no part.
std::string FieldBoundary(int ways, int field);

// The delay a set adds, as the window shows it: "0 ms" for minimum phase, the linear-phase
// peak in ms at rate [Hz] with one decimal ("743.0 ms"), and for every rate (AllRates) the
// span over the rates ("170.7 to 743.0 ms").
std::string LatencyText(bool minimumPhase, int taps, int rate);

// The status line after a run: "10 files written to <dir>, latency 0 ms".
std::string RunSummary(int files, const std::string& dir, const std::string& latency);

} // namespace tarn
