#include "cli/ExportCommand.h"

#include <optional>
#include <string>
#include <vector>

#include "cli/Subcommand.h"
#include "project/ProjectExport.h"
#include <CLI/CLI.hpp>

namespace tarn {

int ExportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CLI::App app{"Writes, into the project directory, the configuration of a convolution "
                 "engine that loads the coefficient files of the last calculation: the stereo "
                 "input split to two outputs per band, lowest band first, left before right.",
                 "tarn-cli export"};
    std::string engineName;
    std::string project = ".";
    int version = 4;
    int inputChannels = 2;
    std::vector<std::string> devices;
    app.add_option("--engine", engineName, "camilladsp, brutefir, equalizer-apo or convolver")
        ->required();
    app.add_option("--project", project, "Project directory (default: the current directory)");
    CLI::Option* versionOption =
        app.add_option("--engine-version", version,
                       "CamillaDSP's major version: 4 (F64_LE, the default) or 3 (FLOAT64LE)");
    app.add_option("--input-channels", inputChannels,
                   "Channels of the input; 2 (stereo) is the one offered");
    CLI::Option* deviceOption = app.add_option(
        "--device", devices,
        "CamillaDSP and BruteFIR: the input device, then the output device (those not given "
        "stay marked placeholders in the configuration)");

    auto usage = [&](const std::string& message) { return UsageError(err, message); };
    if (const auto status = ParseSubcommand(app, argc, argv, out, err)) return *status;
    const std::optional<engines::Engine> engine = engines::ParseEngine(engineName);
    if (!engine)
        return usage("--engine: \"" + engineName +
                     "\" is none of camilladsp, brutefir, equalizer-apo, convolver");
    const bool camilla = *engine == engines::Engine::CamillaDsp;
    if (versionOption->count() && !camilla)
        return usage("--engine-version: only CamillaDSP's configuration has versions");
    if (version != 3 && version != 4) return usage("--engine-version: 3 or 4");
    if (inputChannels != 2) return usage("--input-channels: only 2 (stereo) is offered");
    if (deviceOption->count() && !camilla && *engine != engines::Engine::BruteFir)
        return usage("--device: " + engines::EngineName(*engine) + " names no devices");
    if (devices.size() > 2) return usage("--device: an input and an output device at most");

    ProjectExportOptions options;
    options.engine = *engine;
    options.camillaDspVersion = version;
    if (devices.size() > 0) options.captureDevice = devices[0];
    if (devices.size() > 1) options.playbackDevice = devices[1];
    try {
        for (const std::string& name : ExportProject(project, options))
            err << "written: " << name << "\n";
    } catch (const TarnError& e) {
        err << e.what() << "\n";
        return 1;
    }
    return 0;
}

} // namespace tarn
