#include "app/CliOptions.h"

#include <CLI/CLI.hpp>

namespace tarn {

CliParse ParseCliOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Tarn: designs the FIR filters of a multi-way loudspeaker crossover and writes "
                 "one left and one right coefficient file per band into the project directory.",
                 "tarn-cli"};
    CliOptions options;
    std::string phase = "minimum";
    app.add_option("--project", options.project,
                   "Project directory (default: the current directory)");
    app.add_option("--rate", options.rate, "Sample rate in Hz")
        ->check(CLI::IsMember({44100, 48000}))
        ->capture_default_str();
    app.add_option("--order", options.order,
                   "Filter order 1..50 (default: the project's stored order, else 10)");
    app.add_option("--phase", phase, "Filter phase")
        ->check(CLI::IsMember({"minimum", "linear"}))
        ->capture_default_str();
    app.add_option("--precision", options.precision, "64: \".dbl\" files, 32: \".pcm\" files")
        ->check(CLI::IsMember({64, 32}))
        ->capture_default_str();
    app.add_option("frequencies", options.frequencies,
                   "F1 [F2 [F3 [F4]]]: crossover frequencies in Hz, lowest first; the first "
                   "unusable one (empty, not a number, not positive) ends the list. Without "
                   "any, the project's stored frequencies are used.")
        ->expected(0, 4);

    CliParse result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        result.exitStatus = app.exit(e, out, err);
        return result;
    } catch (const CLI::ParseError& e) {
        app.exit(e, out, err);
        result.exitStatus = 2;
        return result;
    }
    options.minimumPhase = phase == "minimum";
    result.options = std::move(options);
    return result;
}

} // namespace tarn
