// The project and settings store: where the program's two settings files live, the
// start-up load that settles the project directory, and File -> Project.
#pragma once

#include <string>

namespace tarn {

inline constexpr const char* AppIniName = "Tarn.ini";
inline constexpr const char* ProjectIniName = "TarnProject.ini";
inline constexpr const char* DefaultProjectName = "MyFirstProject";

// Directory of the running executable with a trailing separator (from /proc/self/exe on
// Linux, never from argv[0] or the working directory).
std::string ExecutableDirectory();

// Where "Tarn.ini" and the default project live (AppDir): the executable's directory, as for
// a portable copy or a build tree, when this user can use the settings there (write the
// "Tarn.ini" there and the project it names, or create them); otherwise, as for an installed
// program, $XDG_CONFIG_HOME/tarn/ (else $HOME/.config/tarn/).
// The pure rule, for any inputs (null environment values count as unset):
struct SettingsBeside {
    bool hasIni = false;          // "Tarn.ini" stands beside the executable
    bool iniWritable = false;     // this user may write it
    bool projectWritable = false; // and write into the project it names (or create the default)
    bool dirWritable = false;     // the executable's directory is writable
};
std::string SettingsDirectory(const std::string& exeDir, const SettingsBeside& beside,
                              const char* xdgConfigHome, const char* home);
// The rule applied to this process; creates the chosen directory when it is missing.
std::string SettingsDirectory();

// "Tarn - Project: " + path, exactly as stored.
std::string ProjectCaption(const std::string& projectPath);

// First half of FormCreate: sets AppDir (to appDir, which ends in the separator) and
// ProjectPath, the caption, the four fields and the filter order. A stored project
// directory without its final separator gets one in ProjectPath (not in the file). Throws
// IniWriteError when "Tarn.ini" cannot be written; the rest of the load is then skipped.
void StartupLoad(const std::string& appDir);
inline void StartupLoad() {
    StartupLoad(SettingsDirectory());
}

// File -> Project: the directory chooser, then ProjectPath, "Tarn.ini" and the caption.
// Does nothing while a calculation runs. Throws DirectoryError ("Unable to create
// directory") for a confirmed empty name, and for a path too long to be stored whole,
// before anything changes; IniWriteError when "Tarn.ini" cannot be written, with
// ProjectPath already switched.
void ProjectClick();

} // namespace tarn
