#include "project/Settings.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "core/AtomicFile.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/WindowOperations.h"

namespace tarn {

namespace {

namespace fs = std::filesystem;

constexpr const char* AppSection = "Project";
constexpr const char* ProjectDirKey = "ProjectDir";

// True only for an existing directory: a file or a missing path is none.
bool IsDirectory(const std::string& path) {
    std::error_code ec;
    return fs::is_directory(fs::path(path), ec);
}

constexpr const char* RecentSection = "Recent";
// What a project path longer than a stored value may be is refused with.
const char* const PathTooLong =
    "The project path is longer than the 2047 characters the settings can hold";

void StoreProjectPath() {
    // A cut path could name a parent directory, which would then receive the files.
    if (!FitsIniValue(ProjectPath)) throw DirectoryError(PathTooLong);
    IniFile(AppDir + AppIniName).WriteString(AppSection, ProjectDirKey, ProjectPath);
}

std::string RecentKey(int index) {
    return "Project" + std::to_string(index + 1);
}

// A directory as ProjectPath holds it: ending in the separator.
std::string WithSeparator(std::string dir) {
    if (dir.empty() || dir.back() != PathSeparator) dir += PathSeparator;
    return dir;
}

// The recent list, the first RecentProjectCount of list, in one write of "Tarn.ini".
void StoreRecentProjects(const std::vector<std::string>& list) {
    IniFile file(AppDir + AppIniName);
    std::vector<IniWrite> writes;
    for (int i = 0; i < RecentProjectCount; ++i) {
        const auto index = static_cast<std::size_t>(i);
        // Keys beyond the list are emptied only where the file holds them.
        if (index < list.size())
            writes.push_back({RecentSection, RecentKey(i), list[index]});
        else if (file.ReadString(RecentSection, RecentKey(i), "\x01") != "\x01")
            writes.push_back({RecentSection, RecentKey(i), ""});
    }
    if (!writes.empty()) file.WriteStrings(writes);
}

// Everything the project file stores, into the window.
void ShowStoredDesign() {
    const ProjectSettings design = ProjectSettings::Load(IniFile(ProjectPath + ProjectIniName));
    for (int field = 1; field <= 4; ++field)
        Window().SetFieldText(field, design.frequencies[field - 1]);
    // The window limits the value to the spin edit's range.
    Window().SetFilterOrderValue(design.filterOrder);
    Window().ShowDesign(design);
}

// A file or directory this user may write into (a directory: create files in it). The
// read-only attribute counts too, as the writers respect it even for root.
bool Writable(const std::string& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    return !ec && ::access(path.c_str(), W_OK) == 0 &&
           (fs::is_directory(status) || !IsReadOnly(status));
}

} // namespace

std::string ExecutableDirectory() {
    std::string path;
#ifdef _WIN32
    char buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n > 0 && n < sizeof buffer) path.assign(buffer, n);
#else
    // The link names the executable itself, wherever it was started from and by
    // whatever name; the size is grown until the whole target fits.
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) break;
        if (static_cast<std::size_t>(n) < buffer.size()) {
            path.assign(buffer.data(), static_cast<std::size_t>(n));
            break;
        }
        buffer.resize(buffer.size() * 2);
    }
#endif
    const std::size_t cut = path.find_last_of(PathSeparator);
    if (cut == std::string::npos) return {};
    return path.substr(0, cut + 1);
}

std::string SettingsDirectory(const std::string& exeDir, const SettingsBeside& beside,
                              const char* xdgConfigHome, const char* home) {
    const bool usable =
        beside.hasIni ? beside.iniWritable && beside.projectWritable : beside.dirWritable;
    if (usable || exeDir.empty()) return exeDir;
    std::string base;
    if (xdgConfigHome && *xdgConfigHome == PathSeparator)
        base = xdgConfigHome;
    else if (home && *home)
        base = std::string(home) + PathSeparator + ".config";
    else
        return exeDir; // nowhere better: the write error will say where it failed
    if (base.back() != PathSeparator) base += PathSeparator;
    return base + "tarn" + PathSeparator;
}

std::string SettingsDirectory() {
    const std::string exeDir = ExecutableDirectory();
    // Settings beside the program serve whoever can write them and the project they name
    // (or create them there); a "Tarn.ini" that another user left there (root, say, beside
    // an installed program) must not fail every calculation of this one.
    SettingsBeside beside;
    std::error_code ec;
    const std::string ini = exeDir + AppIniName;
    beside.dirWritable = !exeDir.empty() && Writable(exeDir);
    beside.hasIni = !exeDir.empty() && fs::exists(fs::path(ini), ec);
    if (beside.hasIni) {
        beside.iniWritable = Writable(ini);
        try {
            std::string project = exeDir + DefaultProjectName;
            const auto stored = IniFile(ini).ReadUncut(AppSection, ProjectDirKey);
            if (stored && !stored->empty() && IsDirectory(*stored)) project = *stored;
            beside.projectWritable = IsDirectory(project) ? Writable(project) : beside.dirWritable;
        } catch (const TarnError&) {
            beside.iniWritable = false; // not a settings file this user can go on with
        }
    }
    const std::string dir =
        SettingsDirectory(exeDir, beside, std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
    if (dir != exeDir) fs::create_directories(fs::path(dir), ec);
    return dir;
}

std::string ProjectCaption(const std::string& projectPath) {
    return "Tarn - Project: " + projectPath;
}

void StartupLoad(const std::string& appDir) {
    AppDir = appDir;
    // Until the stored directory is read (a "Tarn.ini" that is not text fails here), the
    // default one stands, never the working directory.
    ProjectPath = AppDir + DefaultProjectName + PathSeparator;
    const auto stored = IniFile(AppDir + AppIniName).ReadUncut(AppSection, ProjectDirKey);
    ProjectPath = stored && FitsIniValue(*stored) ? *stored : std::string();
    if (ProjectPath.empty() || !IsDirectory(ProjectPath)) {
        // A stored directory that has gone is forgotten, not re-created. Creating the
        // default one may fail (it may exist already); the first calculation reports it.
        std::error_code ignored;
        fs::create_directory(fs::path(AppDir + DefaultProjectName), ignored);
        ProjectPath = AppDir + DefaultProjectName + PathSeparator;
        StoreProjectPath();
    } else if (ProjectPath.back() != PathSeparator) {
        // A hand-edited value without its final separator would make the project's file
        // names run on from its last component (a stored /data/proj would give
        // /data/projTarnProject.ini, outside the project). The file keeps what the user
        // wrote; only the running program completes it.
        ProjectPath += PathSeparator;
    }
    Window().SetCaption(ProjectCaption(ProjectPath));
    ShowStoredDesign();
}

void ProjectClick() {
    // The running calculation writes into ProjectPath; switching under it would split one
    // design over two directories.
    if (CalculationRunning()) return;
    const auto chosen = Window().ChooseDirectory(ProjectPath);
    if (!chosen) return;
    if (chosen->empty()) throw DirectoryError("Unable to create directory");
    if (!FitsIniValue(*chosen + PathSeparator)) throw DirectoryError(PathTooLong);
    // Not reported here: a directory that could not be created fails the first
    // calculation with the file system's own error.
    std::error_code ignored;
    fs::create_directories(fs::path(*chosen), ignored);
    ProjectPath = *chosen + PathSeparator;
    StoreProjectPath();
    Window().SetCaption(ProjectCaption(ProjectPath));
}

bool OpenProjectClick() {
    if (CalculationRunning()) return false;
    const auto chosen = Window().ChooseDirectory(ProjectPath);
    if (!chosen) return false;
    if (chosen->empty()) throw DirectoryError("Unable to create directory");
    // A directory that cannot be created is reported by OpenProject as not found.
    std::error_code ignored;
    fs::create_directories(fs::path(*chosen), ignored);
    OpenProject(*chosen);
    return true;
}

void OpenProject(const std::string& dir) {
    if (CalculationRunning()) return;
    if (!IsDirectory(dir)) throw DirectoryError("The project directory " + dir + " does not exist");
    const std::string previous = ProjectPath;
    ProjectPath = WithSeparator(dir);
    Window().SetCaption(ProjectCaption(ProjectPath));
    ShowStoredDesign();
    // Shown first and remembered after: a settings file that cannot be written is reported
    // with the project already open, as the window shows it.
    StoreProjectPath();
    RememberProjects(ProjectPath, previous);
}

std::vector<std::string> RecentProjects() {
    const IniFile file(AppDir + AppIniName);
    std::vector<std::string> list;
    for (int i = 0; i < RecentProjectCount; ++i) {
        const std::string entry = file.ReadString(RecentSection, RecentKey(i), "");
        if (entry.empty()) continue;
        const std::string dir = WithSeparator(entry);
        if (std::find(list.begin(), list.end(), dir) == list.end()) list.push_back(dir);
    }
    return list;
}

void RememberProjects(const std::string& current, const std::string& previous) {
    std::vector<std::string> list{WithSeparator(current)};
    const auto add = [&list](const std::string& dir) {
        if (!dir.empty() && std::find(list.begin(), list.end(), WithSeparator(dir)) == list.end())
            list.push_back(WithSeparator(dir));
    };
    add(previous);
    for (const std::string& dir : RecentProjects())
        add(dir);
    StoreRecentProjects(list);
}

void ForgetProject(const std::string& dir) {
    std::vector<std::string> list = RecentProjects();
    const auto gone = std::find(list.begin(), list.end(), WithSeparator(dir));
    if (gone == list.end()) return;
    list.erase(gone);
    StoreRecentProjects(list);
}

} // namespace tarn
