// The design a project stores in "TarnProject.ini": what a run writes and what the window,
// tarn-cli and the next start read back. Every key of that file is named in
// ProjectSettings.cpp only, in one table with its section and type; a member's initialiser
// below is the key's default. A new key is a member here and a row there.
#pragma once

#include <array>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crossover/BandTrim.h"

namespace tarn {

class IniFile;

enum class Alignment { Tarn, LinkwitzRiley };
enum class FileFormat { Raw, Wav };

// The names the settings file, tarn-cli and the window use for the choices above.
std::string_view AlignmentName(Alignment alignment); // "Tarn", "Linkwitz-Riley"
std::optional<Alignment> AlignmentOfName(std::string_view name);
std::string_view FormatName(FileFormat format); // "raw", "wav"
std::optional<FileFormat> FormatOfName(std::string_view name);

// SampleRate of a project whose run writes the set of every rate.
inline constexpr int AllRates = 0;

struct ProjectSettings {
    // The four frequency fields as typed, unusable texts included ("Frequency1".."4").
    std::array<std::string, 4> frequencies{};
    // The filter order the run used ("FilterOrder").
    int filterOrder = 10;
    // The number of ways ("X-way-system"): written for the user, never read back.
    int ways = 1;

    // The rest of the design. Each of these keys is written only once it leaves its default
    // or once the file holds it, so a project that never changes them keeps the file it
    // always had.
    int sampleRate = 44100;   // Hz, one of the tagged rates, or AllRates ("SampleRate")
    bool minimumPhase = true; // ("MinimumPhase")
    int precision = 64;       // 64 or 32 bits per tap ("Precision")
    FileFormat format = FileFormat::Raw;
    Alignment alignment = Alignment::Tarn;
    int taps = 65536;
    // Per band, by band name ("Sub" ... "High", "Full" for a one-way set), in section
    // "Bands": "<name>Level" [dB], "<name>Delay" [ms], "<name>Invert" (0 or 1).
    std::map<std::string, BandTrim, std::less<>> trims;

    // The trim of a band by its word ("" for the full range); neutral when none is set.
    BandTrim TrimOf(std::string_view word) const;
    // The trims of a set's bands by their words, in their order: what the analysis of that
    // set takes back out to show the crossover's own sum.
    std::vector<BandTrim> TrimsOf(const std::vector<std::string>& words) const;

    // The design stored in the file; each key that is missing or unreadable keeps its
    // default. A missing file gives the defaults.
    static ProjectSettings Load(const IniFile& file);
    // The text of the file with every key written, in the table's order (every other line
    // of the file kept), for one atomic replacement of the file. Throws IniWriteError when
    // the file exists but cannot be rewritten.
    std::string StoredText(const IniFile& file) const;
};

} // namespace tarn
