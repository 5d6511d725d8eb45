// tarn-cli's command line: the options a run takes, read from argv without side effects
// beyond the help and usage texts, so the reading can be tested and fuzzed on its own.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tarn {

struct CliOptions {
    std::string project = ".";
    int rate = 44100;                     // 44100 or 48000
    std::optional<std::string> order;     // as given; none: the project's stored order, else 10
    bool minimumPhase = true;             // --phase minimum|linear
    int precision = 64;                   // 64: ".dbl", 32: ".pcm"
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
