// "Export for engine": the configuration of a convolution engine for the set a project's
// last run wrote, written into the project directory. tarn-cli export and the window's
// File -> Export for engine... both call ExportProject; the texts come from
// export/EngineExport.h, this adds the project: its stored design, its files, its lock.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "crossover/Tarndef.h"
#include "export/EngineExport.h"

namespace tarn {

// Why nothing was exported: no stored design, files of the design missing, a set the
// engine cannot load, a file that could not be written. The message says which.
class ExportError : public TarnError {
  public:
    using TarnError::TarnError;
};

struct ProjectExportOptions {
    engines::Engine engine = engines::Engine::CamillaDsp;
    int camillaDspVersion = 4; // 4 or 3
    // CamillaDSP and BruteFIR: the device the stereo music comes from, and the multichannel
    // device to the amplifiers; empty: a marked placeholder in the configuration.
    std::string captureDevice;
    std::string playbackDevice;
    // How long a calculation running on the project is waited for.
    std::chrono::milliseconds busyWait{5000};
};

// Writes the engine's files for the set of the project directory dir (a relative name from
// the working directory) and returns their names, in the order written; for Convolver the
// last one is the zip of the configurations with their WAV files, for Roon. Holds the
// project's lock throughout. Every file is written in full beside its target before the
// first is renamed into place, so a failed write changes nothing. Throws ExportError
// (nothing written) when no design is stored, a file of its set is missing or the engine
// cannot load the set (a raw set for Equalizer APO), ProjectBusyError when a calculation
// holds the project longer than options.busyWait.
std::vector<std::string> ExportProject(const std::filesystem::path& dir,
                                       const ProjectExportOptions& options);

} // namespace tarn
