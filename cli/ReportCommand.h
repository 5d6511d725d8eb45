// tarn-cli report: the coefficient files of a project directory judged and measured.
#pragma once

#include <ostream>

namespace tarn {

// argv[0] is "report"; the only option is --project DIR (default: the current directory).
// Judges every coefficient set in the directory and prints the report of the most recent one
// to out, returning 0; returns 1 with the reasons on err, one a line, when the directory holds
// no set or a set that is not complete and consistent (or the report cannot be written), 2
// for wrong usage.
int ReportCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

} // namespace tarn
