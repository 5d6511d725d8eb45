// The project and settings store: where the program's two settings files live, the
// start-up load that settles the project directory, File -> Project, File -> Open Project
// and the list of recent projects.
#pragma once

#include <string>
#include <vector>

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
// ProjectPath, the caption, the four fields, the filter order and the rest of the stored
// design (through ShowDesign). A stored project
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

// File -> Open Project: the directory chooser (as for File -> Project), then OpenProject.
// Does nothing while a calculation runs or when the chooser is cancelled; a directory the
// user confirmed creating opens as a project with the default design. Returns true when a
// project was opened. Throws as OpenProject, and DirectoryError ("Unable to create
// directory") for a confirmed empty name.
bool OpenProjectClick();

// Makes dir the project and shows the design stored in it, unlike File -> Project, which
// keeps the window's values: ProjectPath, the caption, the four fields, the filter order
// and the rest through ShowDesign; then "Tarn.ini" remembers it (ProjectDir and the recent
// list). Does nothing while a calculation runs. Throws DirectoryError when dir is not a
// directory (nothing changes), IniWriteError when "Tarn.ini" cannot be written (the project
// is open by then).
void OpenProject(const std::string& dir);

// The projects used before, most recent first, at most RecentProjectCount, from section
// "Recent" of "Tarn.ini" (keys "Project1".."Project5"), each ending in the separator.
inline constexpr int RecentProjectCount = 5;
std::vector<std::string> RecentProjects();
// Puts current at the head of the list and previous (the project left, when it is another
// one) right behind it; an entry is listed once. Throws IniWriteError.
void RememberProjects(const std::string& current, const std::string& previous);
// Takes dir off the list (a project directory that has gone). Throws IniWriteError.
void ForgetProject(const std::string& dir);

} // namespace tarn
