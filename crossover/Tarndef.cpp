#include "crossover/Tarndef.h"

namespace tarn {

std::string InOutMessage(int code) {
    switch (code) {
    case 2:
        return "File not found";
    case 3:
        return "Invalid filename";
    case 4:
        return "Too many open files";
    case 5:
        return "File access denied";
    case 101:
        return "Disk full";
    default:
        return "I/O error " + std::to_string(code);
    }
}

InOutError::InOutError(int code) : TarnError(InOutMessage(code)), code_(code) {}

ProjectBusyError::ProjectBusyError(const std::string& projectPath)
    : TarnError("Project " +
                (projectPath.size() > 1 && projectPath.back() == PathSeparator
                     ? projectPath.substr(0, projectPath.size() - 1)
                     : projectPath) +
                " is busy (another calculation is running).") {}

IniReadError::IniReadError(const std::string& fileName)
    : IniReadError(fileName, "it is not a text file") {}

IniReadError::IniReadError(const std::string& fileName, const std::string& why)
    : TarnError("Cannot read " + fileName + ": " + why) {}

IniWriteError::IniWriteError(const std::string& fileName)
    : TarnError("In " + fileName + " kann nicht geschrieben werden") {}

} // namespace tarn
