#include "cli/ReportCommand.h"

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "analysis/CoefficientSet.h"
#include "analysis/Response.h"

namespace tarn {

int ReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Prints, for the coefficient files in the project directory, each band's peak "
                 "and its -3 dB and -6 dB frequencies, and how far the sum of the bands strays "
                 "from flat between 20 Hz and 20 kHz. With several sets of files (rate tag, "
                 "precision) in the directory, the most recently written one is reported.",
                 "tarn-cli report"};
    std::string project = ".";
    app.add_option("--project", project, "Project directory (default: the current directory)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::ParseError& e) {
        err << e.what() << "\n"
            << "Run with --help for more information.\n";
        return 2;
    }

    std::filesystem::path dir = std::filesystem::absolute(project).lexically_normal();
    if (!dir.has_filename()) dir = dir.parent_path(); // "speaker/" and "." name no file
    std::error_code ec;
    if (!std::filesystem::is_directory(dir, ec)) {
        err << dir.string() << " is not a directory.\n";
        return 1;
    }
    const std::vector<CoefficientSet> sets = FindCoefficientSets(dir);
    if (sets.empty()) {
        err << "No coefficient files (XO...L44/L48 .dbl/.pcm) in " << dir.string() << ".\n";
        return 1;
    }
    try {
        const ResponseAnalysis analysis = AnalyseSet(sets.front());
        out << ReportText(sets.front(), sets, analysis);
    } catch (const CoefficientFileError& e) {
        err << e.what() << ".\n";
        return 1;
    }
    // A report that did not reach its reader (a full disk, a closed pipe) is not a success.
    out.flush();
    if (!out) {
        err << "Cannot write the report to standard output.\n";
        return 1;
    }
    return 0;
}

} // namespace tarn
