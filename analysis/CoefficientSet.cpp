#include "analysis/CoefficientSet.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <system_error>
#include <tuple>

namespace tarn {

namespace fs = std::filesystem;

namespace {

std::string NotCoefficientFile(const fs::path& file, const std::string& why) {
    return file.filename().string() + " is not a coefficient file: " + why;
}

} // namespace

std::vector<double> ReadCoefficientFile(const fs::path& file) {
    const std::string extension = file.extension().string();
    const bool isDouble = extension == DoubleExtension;
    if (!isDouble && extension != SingleExtension)
        throw CoefficientFileError(
            NotCoefficientFile(file, "its name ends neither in .dbl nor in .pcm"));
    const std::uintmax_t expected = isDouble ? DoubleFileSize : SingleFileSize;

    std::error_code ec;
    const std::uintmax_t size = fs::file_size(file, ec);
    if (ec) throw CoefficientFileError("Cannot read " + file.string() + ": " + ec.message());
    if (size != expected)
        throw CoefficientFileError(NotCoefficientFile(
            file, std::to_string(size) + " bytes, where a " + extension + " file holds " +
                      std::to_string(CoefficientCount) + (isDouble ? " 64-bit" : " 32-bit") +
                      " values (" + std::to_string(expected) + " bytes)"));

    std::vector<unsigned char> bytes(expected);
    std::ifstream in(file, std::ios::binary);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(expected)))
        throw CoefficientFileError("Cannot read " + file.string());

    // Assembled byte by byte, so the little-endian files read the same on any host.
    std::vector<double> taps(CoefficientCount);
    const std::size_t width = isDouble ? 8 : 4;
    for (int i = 0; i < CoefficientCount; ++i) {
        std::uint64_t bits = 0;
        for (std::size_t b = 0; b < width; ++b)
            bits |= std::uint64_t{bytes[i * width + b]} << (8 * b);
        const double value =
            isDouble ? std::bit_cast<double>(bits)
                     : static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
        if (!std::isfinite(value))
            throw CoefficientFileError(
                NotCoefficientFile(file, "value " + std::to_string(i) + " is not a finite number"));
        taps[i] = value;
    }
    return taps;
}

std::string BandTitle(const std::string& band) {
    return band.empty() ? "Full range" : band;
}

std::string CoefficientSet::Pattern() const {
    return CoefficientFileName("*", 'L', rateTag, Extension());
}

std::string CoefficientSet::Description() const {
    const std::size_t n = files.size();
    return std::to_string(static_cast<int>(SampleRate())) + " Hz, " +
           (doublePrecision ? "64-bit .dbl" : "32-bit .pcm") + ", " + std::to_string(n) +
           (n == 1 ? " band" : " bands");
}

std::vector<CoefficientSet> FindCoefficientSets(const fs::path& dir) {
    std::vector<CoefficientSet> sets;
    for (const bool isDouble : {true, false})
        for (const SampleRateTag& rate : SampleRateTags()) {
            CoefficientSet set{dir, std::string(rate.tag), isDouble, {}, {}, {}};
            bool any = false;
            for (const std::string_view band : BandWords()) {
                const fs::path file =
                    dir / CoefficientFileName(band, 'L', rate.tag, set.Extension());
                std::error_code ec;
                if (!fs::is_regular_file(file, ec)) continue;
                const fs::file_time_type time = fs::last_write_time(file, ec);
                if (ec) continue;
                set.bands.emplace_back(band);
                set.files.push_back(file);
                if (!any || time > set.modified) set.modified = time;
                any = true;
            }
            if (any) sets.push_back(std::move(set));
        }
    // Built in the tie order already, so a stable sort by time keeps it among equals.
    std::stable_sort(
        sets.begin(), sets.end(),
        [](const CoefficientSet& a, const CoefficientSet& b) { return a.modified > b.modified; });
    return sets;
}

} // namespace tarn
