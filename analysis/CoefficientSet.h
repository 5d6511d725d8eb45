// Coefficient files read back from a project directory, as a convolution engine loads them,
// and judged: a set an engine is given must be complete and of one kind throughout.
#pragma once

#include <cstdint>
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

// A set that is not complete or not consistent. Every problem is a sentence of its own
// (without a final stop); what() joins them, one per line.
class CoefficientSetError : public CoefficientFileError {
  public:
    explicit CoefficientSetError(std::vector<std::string> problems);
    const std::vector<std::string>& Problems() const { return problems_; }

  private:
    std::vector<std::string> problems_;
};

// Bytes of a coefficient file of the default length: 65536 values of 8 (".dbl") or 4
// (".pcm") bytes. Files of any tap count MinTapCount..MaxTapCount (crossover/Shorten.h) read.
inline constexpr std::uintmax_t DoubleFileSize = CoefficientCount * 8;
inline constexpr std::uintmax_t SingleFileSize = CoefficientCount * 4;

// One coefficient file as read.
struct CoefficientFile {
    std::vector<double> taps;
    bool doublePrecision = true; // 64-bit values: ".dbl", or a WAV of 64-bit floats
    int sampleRate = 0;          // a WAV's header rate [Hz]; 0 for the raw files, which have none
};

// Reads a raw ".dbl" or ".pcm" file (little-endian IEEE values, a whole number of them) or
// a ".wav" file (through libsndfile: mono, IEEE float samples) of MinTapCount..MaxTapCount
// taps, every one finite. Throws CoefficientFileError: "Cannot read <path>: <reason>" for a
// file that cannot be opened or read, including one that is no regular file (never waiting
// on a FIFO); "<name> is not a coefficient file: <why>" for everything else.
CoefficientFile ReadCoefficients(const std::filesystem::path& file);

// The taps of ReadCoefficients. With sampleRate (Hz) given, a WAV's header must hold that
// rate, else CoefficientFileError names the file and both rates.
std::vector<double> ReadCoefficientFile(const std::filesystem::path& file, double sampleRate = 0);

// The files of one run at one rate and in one format: the bands lowest first.
struct CoefficientSet {
    std::filesystem::path directory;
    std::string rateTag;         // "44", "48", "88", "96", "176", "192"
    bool doublePrecision = true; // ".dbl" or 64-bit WAV; false: ".pcm" or 32-bit WAV. Of a
                                 // WAV set, known once ReadSet has read it
    bool wav = false;            // ".wav" files
    // Every band with a file of either side under its name, whatever that file is; "" for
    // the full-range file of a one-way run.
    std::vector<std::string> bands;
    std::vector<std::filesystem::path> files;   // the left file of each band, same order
    std::filesystem::file_time_type modified{}; // of the newest file in the set
    int taps = 0;                               // of every file, once ReadSet has read them

    double SampleRate() const { return RateOfTag(rateTag); }
    std::string Extension() const;
    // The file of a band (a word of `bands`) and side 'L' or 'R'.
    std::filesystem::path File(const std::string& band, char side) const;
    // "XO*L48.dbl": the file names of the set with the band left open.
    std::string Pattern() const;
    // "48000 Hz, 64-bit .dbl, 5 bands", with "65536 taps" before the bands once read.
    std::string Description() const;
};

// Every set in dir, the most recently modified first (ties: ".dbl" before ".pcm" before
// ".wav", then the rates lowest first). A name the program writes counts whatever it names
// (a FIFO, a directory, a dangling link: ReadSet says so); other names are ignored. A
// directory that does not exist holds no sets. Nothing is opened.
std::vector<CoefficientSet> FindCoefficientSets(const std::filesystem::path& dir);

// What stands under a name instead of a regular file (or a link to one), as a sentence:
// "<name> is missing", "<name> is a dangling symbolic link", "<name> is a FIFO, not a
// regular file" (a directory, a device, a socket); empty for a regular file. Opens nothing.
std::string NotARegularFile(const std::filesystem::path& file);

// The number of ways whose bands (crossover/Bands.h) the set has exactly, or 0 for bands of
// no one crossover.
int WaysOfSet(const CoefficientSet& set);

// Reads and judges every file of the set, both sides of every band. Throws
// CoefficientSetError naming every problem: a name that holds no regular file, a band
// without its left or right file, bands of no one crossover, a file that does not read
// (ReadCoefficients), a WAV whose header rate is not that of the tag, files of different
// precisions or tap counts. Returns the left taps of each band, in the order of set.bands,
// and fills set.taps and (of a WAV set) set.doublePrecision.
std::vector<std::vector<double>> ReadSet(CoefficientSet& set);

// What a band is called on screen: its word, or "Full range" for a one-way run.
std::string BandTitle(const std::string& band);

} // namespace tarn
