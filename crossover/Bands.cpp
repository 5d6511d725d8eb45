#include "crossover/Bands.h"

#include <array>

namespace tarn {

namespace {

using enum BandShape;

constexpr Band OneWay[] = {{"", FullRange, -1, -1}};
constexpr Band TwoWay[] = {{"Low", LowPass, -1, 0}, {"High", HighPass, 0, -1}};
constexpr Band ThreeWay[] = {
    {"Low", LowPass, -1, 0}, {"Mid", BandPass, 0, 1}, {"High", HighPass, 1, -1}};
constexpr Band FourWay[] = {{"Sub", LowPass, -1, 0},
                            {"Low", BandPass, 0, 1},
                            {"Mid", BandPass, 1, 2},
                            {"High", HighPass, 2, -1}};
constexpr Band FiveWay[] = {{"Sub", LowPass, -1, 0},
                            {"Low", BandPass, 0, 1},
                            {"LowMid", BandPass, 1, 2},
                            {"Mid", BandPass, 2, 3},
                            {"High", HighPass, 3, -1}};

constexpr std::string_view Words[] = {"", "Sub", "Low", "LowMid", "Mid", "High"};

constexpr SampleRateTag Rates[] = {{44100.0, "44"}, {48000.0, "48"},   {88200.0, "88"},
                                   {96000.0, "96"}, {176400.0, "176"}, {192000.0, "192"}};

} // namespace

std::span<const Band> BandsFor(int ways) {
    static constexpr std::array<std::span<const Band>, 5> table = {OneWay, TwoWay, ThreeWay,
                                                                   FourWay, FiveWay};
    return ways >= 1 && ways <= 5 ? table[ways - 1] : std::span<const Band>{};
}

std::span<const std::string_view> BandWords() {
    return Words;
}

std::string_view BandName(std::string_view word) {
    return word.empty() ? FullRangeName : word;
}

std::string_view BandWordOfName(std::string_view name) {
    if (name == FullRangeName) return Words[0];
    for (std::string_view word : Words)
        if (!word.empty() && word == name) return word;
    return InvalidBandName;
}

std::span<const SampleRateTag> SampleRateTags() {
    return Rates;
}

std::string_view TagOfRate(double rate) {
    for (const SampleRateTag& r : Rates)
        if (r.rate == rate) return r.tag;
    return {};
}

double RateOfTag(std::string_view tag) {
    for (const SampleRateTag& r : Rates)
        if (r.tag == tag) return r.rate;
    return 0.0;
}

std::string CoefficientFileName(std::string_view band, char side, std::string_view rateTag,
                                std::string_view extension) {
    std::string name = "XO";
    name.reserve(2 + band.size() + 1 + rateTag.size() + extension.size());
    name.append(band).push_back(side);
    name.append(rateTag).append(extension);
    return name;
}

bool IsCoefficientFileName(std::string_view name) {
    for (const std::string_view extension : CoefficientExtensions)
        for (const SampleRateTag& rate : Rates)
            for (const std::string_view band : Words)
                for (const char side : Sides)
                    if (name == CoefficientFileName(band, side, rate.tag, extension)) return true;
    return false;
}

} // namespace tarn
