// Coefficient files read back from a project directory, as a convolution engine loads them.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "crossover/Bands.h"
#include "crossover/Tarndef.h"

namespace tarn {

// A file that is not a coefficient file (wrong size, a value that is not a finite number),
// or one that cannot be read. what() names the file and says what is wrong.
class CoefficientFileError : public TarnError {
  public:
    using TarnError::TarnError;
};

// Bytes of a coefficient file: 65536 values of 8 (".dbl") or 4 (".pcm") bytes.
inline constexpr std::uintmax_t DoubleFileSize = CoefficientCount * 8;
inline constexpr std::uintmax_t SingleFileSize = CoefficientCount * 4;

// The 65536 taps of a ".dbl" or ".pcm" file (little-endian IEEE values). Throws
// CoefficientFileError for another extension, another size, a value that is not finite,
// or a file that cannot be read.
std::vector<double> ReadCoefficientFile(const std::filesystem::path& file);

// The left files of one run: one rate tag, one precision, the bands lowest first.
struct CoefficientSet {
    std::filesystem::path directory;
    std::string rateTag;                        // "44" or "48"
    bool doublePrecision;                       // ".dbl"; false: ".pcm"
    std::vector<std::string> bands;             // "Sub", "Low", "LowMid", "Mid", "High";
                                                // "" for the full-range file of a one-way run
    std::vector<std::filesystem::path> files;   // the left file of each band, same order
    std::filesystem::file_time_type modified{}; // of the newest file in the set

    double SampleRate() const { return RateOfTag(rateTag); }
    std::string Extension() const { return std::string(CoefficientExtension(doublePrecision)); }
    // "XO*L48.dbl": the file names of the set with the band left open.
    std::string Pattern() const;
    // "48000 Hz, 64-bit .dbl, 5 bands"
    std::string Description() const;
};

// Every set of left files in dir, the most recently modified first (ties: ".dbl" before
// ".pcm", then 44 before 48). Only the names the program writes count; right files and other
// files are ignored. A directory that does not exist holds no sets.
std::vector<CoefficientSet> FindCoefficientSets(const std::filesystem::path& dir);

// What a band is called on screen: its word, or "Full range" for a one-way run.
std::string BandTitle(const std::string& band);

} // namespace tarn
