// tarn-cli report: the response table of the coefficient files in a project directory.
#pragma once

#include <ostream>

namespace tarn {

// argv[0] is "report"; the only option is --project DIR (default: the current directory).
// Prints the table of the most recent coefficient set to out and returns 0; returns 1 with
// the reason on err when the directory holds no set or a malformed file, 2 for wrong usage.
int ReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace tarn
