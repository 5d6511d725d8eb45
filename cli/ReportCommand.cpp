#include "cli/ReportCommand.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "analysis/CoefficientSet.h"
#include "analysis/Response.h"
#include "analysis/SetReport.h"
#include "cli/Subcommand.h"
#include "crossover/TarnRoutinen.h"
#include "project/DesignTexts.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"

namespace tarn {

namespace {

namespace fs = std::filesystem;

// What the project's settings file says about the sets beside it.
struct Stored {
    StoredDesign design;
    ProjectSettings settings;
    std::optional<int> ways;       // "X-way-system", where the file has it
    std::optional<int> fieldsWays; // the ways the stored frequency fields make, where stored
};

// Reads "TarnProject.ini" in dir, when there is one; what is wrong with it goes to problems.
Stored ReadStored(const fs::path& dir, std::vector<std::string>& problems) {
    Stored stored;
    const fs::path ini = dir / ProjectIniName;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(ini, ec))) return stored;
    if (std::string problem = NotARegularFile(ini); !problem.empty()) {
        problems.push_back(std::move(problem));
        return stored;
    }
    try {
        const IniFile file(ini.string());
        stored.settings = ProjectSettings::Load(file);
        stored.design.alignment = AlignmentName(stored.settings.alignment);

        if (const auto text = file.ReadUncut("Crossover", "X-way-system")) {
            const std::optional<int> ways = IntegerFromText(*text);
            if (ways && *ways >= 1 && *ways <= 5)
                stored.ways = ways;
            else
                problems.push_back(std::string(ProjectIniName) + " says X-way-system=" + *text +
                                   ", which is no number of ways (1 to 5)");
        }

        bool anyField = false;
        for (int i = 1; i <= 4; ++i)
            anyField = anyField || file.ReadUncut("Crossover", "Frequency" + std::to_string(i));
        if (anyField) {
            // The frequencies as a run reads the fields: the usable ones before the first
            // that is not, each as the float the bands were designed at.
            const int ways = WaysOfFields(stored.settings.frequencies);
            stored.fieldsWays = ways;
            std::vector<double> hz;
            for (int i = 0; i + 1 < ways; ++i)
                hz.push_back(ParseFrequency(stored.settings.frequencies[i]));
            stored.design.crossoverHz = std::move(hz);
        }
    } catch (const TarnError& e) {
        problems.push_back(e.what());
    }
    return stored;
}

// The stored design against a set of files: the same number of ways.
void CompareWays(const CoefficientSet& set, const Stored& stored,
                 std::vector<std::string>& problems) {
    const int ways = WaysOfSet(set);
    if (ways == 0) return; // ReadSet has said so
    const std::string name = set.Pattern() + " is a " + std::to_string(ways) + "-way set, but ";
    if (stored.ways && *stored.ways != ways)
        problems.push_back(name + ProjectIniName +
                           " says X-way-system=" + std::to_string(*stored.ways));
    else if (stored.fieldsWays && *stored.fieldsWays != ways)
        problems.push_back(name + "the frequencies in " + ProjectIniName + " make a " +
                           std::to_string(*stored.fieldsWays) + "-way crossover");
}

} // namespace

int ReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Judges and measures the coefficient files in the project directory. A set "
                 "(the files of one rate tag and one format) must be complete and consistent: "
                 "regular files, a left and a right file for each band of one number of ways "
                 "(that of TarnProject.ini, where it says), one tap count and one precision, "
                 "WAV headers of the tag's rate; else the report names each problem and exits "
                 "with status 1. For the most recently written set it prints each band's peak "
                 "and its -3 dB and -6 dB frequencies, the alignment, the tap count and the "
                 "latency, each band's level at each crossover frequency, each band's level, "
                 "delay and polarity, and how far the sum of the bands strays from flat "
                 "between 20 Hz and 20 kHz, as written and with the bands' trims taken out. "
                 "Other sets in the directory are named.",
                 "tarn-cli report"};
    std::string project = ".";
    app.add_option("--project", project, "Project directory (default: the current directory)");
    if (const auto status = ParseSubcommand(app, argc, argv, out, err)) return *status;

    fs::path dir = fs::absolute(project).lexically_normal();
    if (!dir.has_filename()) dir = dir.parent_path(); // "speaker/" and "." name no file
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        err << dir.string() << " is not a directory.\n";
        return 1;
    }
    std::vector<CoefficientSet> sets = FindCoefficientSets(dir);
    if (sets.empty()) {
        err << "No coefficient files (XO<band><L|R><rate tag>.dbl, .pcm or .wav) in "
            << dir.string() << ".\n";
        return 1;
    }

    // Every set is judged, not only the one reported: an engine may be given any of them.
    std::vector<std::string> problems;
    const Stored stored = ReadStored(dir, problems);
    std::vector<std::vector<double>> taps;
    for (CoefficientSet& set : sets) {
        try {
            std::vector<std::vector<double>> read = ReadSet(set);
            if (&set == &sets.front()) taps = std::move(read);
        } catch (const CoefficientSetError& e) {
            problems.insert(problems.end(), e.Problems().begin(), e.Problems().end());
        }
        CompareWays(set, stored, problems);
    }
    if (!problems.empty()) {
        for (const std::string& problem : problems)
            err << problem << ".\n";
        return 1;
    }

    const CoefficientSet& shown = sets.front();
    StoredDesign design = stored.design;
    design.trims = stored.settings.TrimsOf(shown.bands);
    const ResponseAnalysis analysis = AnalyseSet(shown, std::move(taps));
    out << ReportText(shown, sets, analysis) << "\n" << DesignText(analysis, design);
    // A report that did not reach its reader (a full disk, a closed pipe) is not a success.
    out.flush();
    if (!out) {
        err << "Cannot write the report to standard output.\n";
        return 1;
    }
    return 0;
}

} // namespace tarn
