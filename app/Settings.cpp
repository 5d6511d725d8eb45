#include "app/Settings.h"

namespace tarn {

std::string ExecutableDirectory() { return {}; }
std::string ProjectCaption(const std::string& projectPath) { return "Tarn - Project: " + projectPath; }
void StartupLoad(const std::string&) {}
void ProjectClick() {}

} // namespace tarn
