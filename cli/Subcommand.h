// What the subcommands of tarn-cli (report, export) share in reading their arguments.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

namespace tarn {

// Prints a usage error as CLI11 does; the status of wrong usage.
inline int UsageError(std::ostream& err, const std::string& message) {
    err << message << "\n"
        << "Run with --help for more information.\n";
    return 2;
}

// Reads argv into app. Nothing when the subcommand should go on; otherwise the status to
// end with: 0 after --help (the text on out), 2 for wrong usage (the message on err).
inline std::optional<int> ParseSubcommand(CLI::App& app, int argc, const char* const* argv,
                                          std::ostream& out, std::ostream& err) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        return UsageError(err, e.what());
    }
    return std::nullopt;
}

} // namespace tarn
