// Bands: which bands a crossover of each number of ways has, how each is built, and the
// names of the coefficient files they are written under. Every part of the program that
// names a band or a coefficient file asks here.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tarn {

// How a band is built: the single band of a one-way system is a unit impulse.
enum class BandShape { FullRange, LowPass, BandPass, HighPass };

struct Band {
    std::string_view word; // "Sub", "Low", "LowMid", "Mid", "High"; "" for the full range
    BandShape shape;
    int lower; // index 0..3 of the crossover frequency at the lower edge; -1: none
    int upper; // index of the frequency at the upper edge; -1: none
};

// The bands of a crossover of 1..5 ways, lowest first, in the order a run computes them.
std::span<const Band> BandsFor(int ways);

// Every band word a file name can carry, lowest band first; "" is the full range.
std::span<const std::string_view> BandWords();

// The name a user sees and types for a band: its word, or "Full" for the full range.
inline constexpr std::string_view FullRangeName = "Full";
std::string_view BandName(std::string_view word);
// The word of a band name ("Full" gives ""), or InvalidBandName for a name of no band.
inline constexpr std::string_view InvalidBandName = "?";
std::string_view BandWordOfName(std::string_view name);

// A sample rate and the tag that ends the names of its files ("XOLowL" + "44").
struct SampleRateTag {
    double rate; // Hz
    std::string_view tag;
};

// The rates a run can have, lowest first.
std::span<const SampleRateTag> SampleRateTags();
// The tag of a rate, or "" for a rate without one.
std::string_view TagOfRate(double rate);
// The rate of a tag, or 0 for an unknown tag.
double RateOfTag(std::string_view tag);

// The two channels of a band: every band is written as a left and a right file.
inline constexpr char Sides[] = {'L', 'R'};

inline constexpr std::string_view DoubleExtension = ".dbl"; // 64-bit values
inline constexpr std::string_view SingleExtension = ".pcm"; // 32-bit values
inline constexpr std::string_view WavExtension = ".wav";    // a mono float WAV of either size
inline constexpr std::string_view CoefficientExtension(bool doublePrecision) {
    return doublePrecision ? DoubleExtension : SingleExtension;
}
// Every extension a coefficient file can have.
inline constexpr std::string_view CoefficientExtensions[] = {DoubleExtension, SingleExtension,
                                                             WavExtension};

// "XO" + band word + side + rate tag + extension, e.g. "XOLowMidL48.dbl". Without the
// extension it is the name WriteCoefficients takes.
std::string CoefficientFileName(std::string_view band, char side, std::string_view rateTag,
                                std::string_view extension = {});

// True for every name CoefficientFileName makes from the words, sides, tags and the two
// extensions above, and for no other.
bool IsCoefficientFileName(std::string_view name);

} // namespace tarn
