#include "project/CliOptions.h"

#include <CLI/CLI.hpp>

namespace tarn {

CliParse ParseCliOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Tarn: designs the FIR filters of a multi-way loudspeaker crossover and writes "
                 "one left and one right coefficient file per band into the project directory.",
                 "tarn-cli"};
    app.footer("tarn-cli report [--project DIR]: prints the response table (peak, delay, "
               "band edges, the sum's flatness) of the coefficient files already in DIR.");
    app.set_version_flag("--version", "tarn-cli " TARN_VERSION, "Print the version and exit");
    CliOptions options;
    std::string phase = "minimum";
    app.add_option("--project", options.project,
                   "Project directory (default: the current directory)");
    app.add_option("--rate", options.rate, "Sample rate in Hz")
        ->check(CLI::IsMember({44100, 48000}))
        ->capture_default_str();
    std::string order;
    app.add_option("--order", order,
                   "Filter order 1..50 (default: the project's stored order, else 10)");
    app.add_option("--phase", phase, "Filter phase")
        ->check(CLI::IsMember({"minimum", "linear"}))
        ->capture_default_str();
    app.add_option("--precision", options.precision, "64: \".dbl\" files, 32: \".pcm\" files")
        ->check(CLI::IsMember({64, 32}))
        ->capture_default_str();
    // Four single positionals rather than one list: CLI11 splits a list argument of the
    // form "[a,b]" into several, and each argument here is exactly one field's text.
    std::string fields[4];
    for (int i = 0; i < 4; ++i)
        app.add_option("F" + std::to_string(i + 1), fields[i],
                       i == 0 ? "Crossover frequencies F1..F4 in Hz, lowest first; the first "
                                "unusable one (empty, not a number, not positive) ends the "
                                "list. Without any, the project's stored frequencies are used."
                              : "");

    CliParse result;
    try {
        app.parse(argc, argv);
        // An empty value passes CLI11's set check for numbers and then reads as 0, which
        // would silently mean 44100 Hz or 32-bit files.
        if (options.rate != 44100 && options.rate != 48000)
            throw CLI::ValidationError("--rate", "\"\" not in {44100,48000}");
        if (options.precision != 64 && options.precision != 32)
            throw CLI::ValidationError("--precision", "\"\" not in {64,32}");
        // Given but empty is a text that holds no integer, as in an empty spin edit.
        if (app.count("--order") != 0) options.order = order;
        for (int i = 0; i < 4; ++i)
            if (app.count("F" + std::to_string(i + 1)) != 0)
                options.frequencies.push_back(fields[i]);
    } catch (const CLI::CallForVersion& e) {
        result.exitStatus = app.exit(e, out, err);
        return result;
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
