// tarn-cli's command line: the options a run takes, read from argv without side effects
// beyond the help and usage texts, so the reading can be tested and fuzzed on its own.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarn {

// A per-band setting given on the command line: --level Sub=-3, --delay High=0.1,
// --delay High=34mm, --invert Mid.
struct CliTrim {
    std::string band; // its word: "Sub" ... "High", "" for the full range ("Full")
    std::optional<double> levelDb;
    std::optional<double> delayMs;
    bool invert = false;
};

// Every setting left out keeps the project's stored value (TarnProject.ini), and where the
// project stores none, the default of the window.
struct CliOptions {
    std::string project = ".";
    std::optional<int> rate;              // Hz, one of the tagged rates, or 0 for "all"
    std::optional<std::string> order;     // as given; none: the project's stored order, else 10
    std::optional<bool> minimumPhase;     // --phase minimum|linear
    std::optional<int> precision;         // 64: ".dbl", 32: ".pcm"
    std::optional<std::string> format;    // "raw" or "wav"
    std::optional<std::string> alignment; // "Tarn" or "Linkwitz-Riley"
    std::optional<int> taps;
    std::vector<CliTrim> trims;           // in the order given; later ones win
    std::vector<std::string> frequencies; // at most four, as given
};

// What reading the command line gave: the options of a run, or the exit status the
// program ends with at once (0 after --help or --version, 2 for wrong usage).
struct CliParse {
    std::optional<CliOptions> options;
    int exitStatus = 0;
};

// Reads argv (argv[0] is the program name). The help text goes to out, usage errors to
// err; nothing else is printed and nothing is thrown for any argument list.
CliParse ParseCliOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace tarn
