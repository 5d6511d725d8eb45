// tarn-cli export: the configuration of a convolution engine for the set in a project
// directory (project/ProjectExport.h), written beside the set.
#pragma once

#include <ostream>

namespace tarn {

// argv[0] is "export". Options: --engine camilladsp|brutefir|equalizer-apo|convolver
// (required), --project DIR (default: the current directory), --engine-version 3|4
// (CamillaDSP only), --input-channels 2, --device NAME (CamillaDSP and BruteFIR: the input
// device, then the output device). Writes the files, names each on err as "written: NAME"
// and returns 0; returns 1 with the reason on err when nothing could be exported, 2 for
// wrong usage (help goes to out).
int ExportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace tarn
