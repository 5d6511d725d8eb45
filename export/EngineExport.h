// Engine configurations for a finished coefficient set: CamillaDSP, BruteFIR, Equalizer APO
// and Convolver (Roon, JRiver).
//
// Pure text: from a small description of the set (the design, where the files are, which
// rates and format were written, the bands) each generator returns the files to write, as
// names relative to the project directory with their whole content. Nothing here touches
// the disk; the caller writes the files (atomically) and, for Roon, packs the zip.
//
// Every configuration routes a stereo input (0 = left, 1 = right) to 2 x N driver outputs
// in one fixed order, lowest band first, left before right:
//   output 0 = lowest band L, 1 = lowest band R, 2 = next band L, 3 = next band R, ...
// so a five-way set drives Sub L, Sub R, Low L, Low R, LowMid L, LowMid R, Mid L, Mid R,
// High L, High R.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarn::engines {

enum class Engine { CamillaDsp, BruteFir, EqualizerApo, Convolver };

// The file format of the set as written.
enum class SetFormat {
    RawDouble,  // ".dbl": headerless 64-bit little-endian floats
    RawFloat,   // ".pcm": headerless 32-bit little-endian floats
    WavFloat32, // ".wav": mono IEEE float WAV, 32-bit
    WavFloat64, // ".wav": mono IEEE float WAV, 64-bit
};

enum class Side { Left, Right };

// The design the set was calculated from; named in the comments of the configurations.
struct Design {
    std::vector<std::string> frequencies; // crossover frequencies as typed, lowest first
    int order = 10;
    std::string alignment = "Tarn"; // "Tarn" or "Linkwitz-Riley"
    bool minimumPhase = true;       // false: linear phase
    int taps = 65536;               // length of every coefficient file
};

// Makes a coefficient file's name from band, side, rate [Hz] and format.
using FileNamer =
    std::function<std::string(const std::string& band, Side side, int rate, SetFormat format)>;

// The name the run writes a file under: crossover/Bands.h's CoefficientFileName with the
// rate's tag and the format's extension, XOSubL48.dbl, XOL44.wav; an empty string for a rate
// without a tag.
std::string WrittenFileName(const std::string& band, Side side, int rate, SetFormat format);

// The set on disk.
struct CoefficientSet {
    std::string projectDirectory;     // absolute; the files lie directly in it
    std::vector<int> rates = {44100}; // each written rate, in Hz; one configuration per rate
    SetFormat format = SetFormat::RawDouble;
    // Bands lowest first: "Sub", "Low", "LowMid", "Mid", "High", or the single full band ""
    // of a one-way set.
    std::vector<std::string> bands;
    FileNamer fileName = WrittenFileName;
};

// A BruteFIR input or output: an ALSA device, or a raw file through the "file" module.
struct BruteFirIo {
    enum class Module { Alsa, File };
    Module module = Module::Alsa;
    std::string name;              // device or path; empty: a marked placeholder
    std::string sample = "S32_LE"; // BruteFIR sample format of the device or file
};

struct Options {
    int camillaDspVersion = 4; // 4: F64_LE/F32_LE; 3: FLOAT64LE/FLOAT32LE (releases before 4.0)
    // CamillaDSP devices; empty: a marked placeholder.
    std::string captureDevice;
    std::string playbackDevice;
    BruteFirIo bruteFirInput;
    BruteFirIo bruteFirOutput;
    // Byte offset of the samples in the set's WAV files (the start of the "data" chunk's
    // payload, see WavDataOffset): BruteFIR reads WAV coefficients as raw samples after it.
    std::optional<std::size_t> wavDataOffset;
};

struct ExportInput {
    Design design;
    CoefficientSet set;
    Options options;
};

struct GeneratedFile {
    std::string name; // relative to the project directory
    std::string content;
};

// One file of a zip: its name inside the zip and the file in the project directory.
struct ZipEntry {
    std::string nameInZip;
    std::string file;
};

struct ExportResult {
    std::string error; // empty on success; otherwise why nothing can be written
    std::vector<GeneratedFile> files;
    std::string zipName; // Convolver only: the Roon zip to pack
    std::vector<ZipEntry> zipEntries;

    bool Ok() const { return error.empty(); }
};

// The configuration(s) of one engine for the set, or the reason there are none.
ExportResult Export(Engine engine, const ExportInput& input);

// "camilladsp", "brutefir", "equalizer-apo", "convolver", as on tarn-cli's command line.
std::string EngineName(Engine engine);
std::optional<Engine> ParseEngine(std::string_view name);

// BruteFIR's filter_length: partitions of a power-of-two length (at most 4096) that together
// cover the tap count, e.g. 4096 x 16 for 65536 taps and 4096 x 2 for 6144.
struct Partitions {
    int length = 0;
    int count = 0;
};
Partitions BruteFirPartitions(int taps);

// The offset of the sample data in a WAV file, from its first bytes (RIFF header and the
// chunks before "data"); nullopt when they are not a WAV file or end before the data.
std::optional<std::size_t> WavDataOffset(std::string_view header);

} // namespace tarn::engines
