// Injected file-system faults, end to end through the driver and tarn-cli: the project
// directory going away, blocked targets, a full disk, a read-only file system, too many
// open files, failing write/close/fsync/rename, and unwritable settings files. Whatever
// happens before a run's commit, the user sees the error's message, the window is idle
// again, and the project holds its earlier design byte for byte with no temporary file.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/AtomicFile.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "project/IniFile.h"
#include "project/Settings.h"
#include "spectral/FastFourier.h"
#include "tests/FaultShim.h"
#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

#ifndef TARN_CLI_PATH
#error "TARN_CLI_PATH must name the tarn-cli executable"
#endif
#ifndef TARN_FAULT_SHIM_PATH
#error "TARN_FAULT_SHIM_PATH must name the fault shim library"
#endif

namespace tarn {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::vector<unsigned char>>;

// Mounts are made in a mount namespace of this process's own, so a test that dies never
// leaves one behind. Needs root with CAP_SYS_ADMIN; elsewhere those tests skip.
bool PrivateMounts() {
    static const bool ok = ::unshare(CLONE_NEWNS) == 0 &&
                           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return ok;
}

// A size-limited tmpfs on an existing directory, for the lifetime of the object.
class Tmpfs {
  public:
    Tmpfs(const fs::path& where, const std::string& options) : where_(where) {
        mounted_ = PrivateMounts() &&
                   ::mount("tarn-test", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~Tmpfs() {
        if (mounted_) ::umount2(where_.c_str(), MNT_DETACH);
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool Mounted() const { return mounted_; }
    bool MakeReadOnly() const {
        return ::mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    bool MakeWritable() const {
        return ::mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT, nullptr) == 0;
    }

  private:
    fs::path where_;
    bool mounted_ = false;
};

#define REQUIRE_MOUNT(tmpfs)                                                                       \
    if (!(tmpfs).Mounted()) GTEST_SKIP() << "cannot mount a tmpfs here (needs CAP_SYS_ADMIN)"

// Puts a resource limit back when the test ends, however it ends.
class LimitGuard {
  public:
    explicit LimitGuard(int resource) : resource_(resource) { ::getrlimit(resource, &saved_); }
    ~LimitGuard() { ::setrlimit(resource_, &saved_); }
    LimitGuard(const LimitGuard&) = delete;
    LimitGuard& operator=(const LimitGuard&) = delete;
    void Lower(rlim_t value) {
        rlimit r = saved_;
        r.rlim_cur = value;
        ::setrlimit(resource_, &r);
    }

  private:
    int resource_;
    rlimit saved_{};
};

// A headless window that tells when a run stops its timer, which a run does on its way
// out of an error, before the error box is shown.
class FaultWindow : public HeadlessWindow {
  public:
    std::function<void()> onTimerStopped;
    void SetTimerEnabled(bool enabled) override {
        HeadlessWindow::SetTimerEnabled(enabled);
        if (!enabled && onTimerStopped) onTimerStopped();
    }
};

std::string ProjectIniError(const std::string& projectPath) {
    return "In " + projectPath + "TarnProject.ini kann nicht geschrieben werden.";
}

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        project = root.Path() / "project";
        fs::create_directory(project);
        ProjectPath = project.string() + PathSeparator;
        DoublePrecision = true;
        window.minimumPhase = false;
        window.cursor = 7; // whatever the application showed before the run
        window.SetFields("500", "2000", "", "");
    }
    void TearDown() override { tarn_fault_disarm(); }

    // One press of "Calc Crossover" as the window makes it; the error box texts.
    std::vector<std::string> Press() {
        window.errors.clear();
        window.messages.clear();
        window.filesWritten.clear();
        RunHandler([] { XOButtonClick(); });
        return window.errors;
    }

    // The coefficient files a clean run with the window's present inputs writes.
    Files CleanRun() {
        test::TempDir other;
        HeadlessWindow clean;
        for (int i = 0; i < 4; ++i)
            clean.fields[i] = window.fields[i];
        clean.filterOrderText = window.filterOrderText;
        clean.radio48 = window.radio48;
        clean.minimumPhase = window.minimumPhase;
        const std::string saved = ProjectPath;
        ProjectPath = other.Prefix();
        {
            ScopedWindow cleanWindow(clean);
            XOButtonClick();
        }
        ProjectPath = saved;
        Files files = test::Contents(other.Path());
        files.erase("TarnProject.ini");
        return files;
    }

    void ExpectIdle() {
        EXPECT_EQ(window.cursor, 7);
        EXPECT_FALSE(window.timerEnabled);
        EXPECT_EQ(window.progress, 0);
        EXPECT_FALSE(CalculationRunning());
        EXPECT_TRUE(SpecRe.empty());
        EXPECT_TRUE(window.messages.empty());
    }

    // Nothing but the project directory changed under the scratch root.
    static test::TreePicture Outside(test::TreePicture picture) {
        std::erase_if(picture,
                      [](const auto& entry) { return entry.first.starts_with("project"); });
        return picture;
    }

    // The coefficient files the running calculation has written so far, not yet under
    // their names.
    std::size_t Staged() const {
        std::size_t n = 0;
        std::error_code ec;
        for (fs::directory_iterator it(project, ec), end; !ec && it != end; it.increment(ec)) {
            const auto target = TemporaryTarget(it->path().filename().string());
            n += target && test::IsCoefficientName(*target);
        }
        return n;
    }

    // Runs action at the first pump after `files` coefficient files have been written
    // (the design of the next band pumps before its file is written).
    void AtPumpAfterFiles(std::size_t files, std::function<void()> action) {
        window.onPump = [this, files, action, done = false]() mutable {
            if (!done && Staged() >= files) {
                done = true;
                action();
            }
        };
    }

    // Puts an earlier design into the project (a three-way set and its settings) and
    // returns every file of the project, for the comparison after a failed run.
    Files OldDesign() {
        HeadlessWindow earlier;
        earlier.SetFields("800", "3000", "", "");
        earlier.minimumPhase = false;
        {
            ScopedWindow earlierWindow(earlier);
            XOButtonClick();
        }
        return test::Contents(project);
    }

    test::CalculationThreadsFor oneThread{1};
    test::TempDir root;
    fs::path project;
    FaultWindow window;
    ScopedWindow scoped{window};
};

// ---------------------------------------------------------------------------------------
// The project directory goes away

TEST_F(Faults, ProjectDirectoryRemovedBeforeOrDuringTheRun) {
    window.minimumPhase = true;
    struct Case {
        const char* when;
        std::size_t afterFiles; // remove at the first pump after this many files
        bool beforeRun;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"before the run", 0, true, ProjectIniError(ProjectPath)},
        {"at the run's first pump", 0, false, ProjectIniError(ProjectPath)},
        {"after the first band", 2, false, "Invalid filename."},
        {"during the last band's design", 6, false, "Invalid filename."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        fs::create_directory(project);
        window.SetFields("300", "1200", "5000", "x");
        const auto outside = Outside(test::PictureOf(root.Path()));
        window.onPump = nullptr;
        if (c.beforeRun)
            fs::remove_all(project);
        else
            AtPumpAfterFiles(c.afterFiles, [&] { fs::remove_all(project); });
        EXPECT_EQ(Press(), std::vector<std::string>{c.message});
        ExpectIdle();
        EXPECT_FALSE(fs::exists(project)); // never created again
        EXPECT_EQ(Outside(test::PictureOf(root.Path())), outside);
        EXPECT_TRUE(window.filesWritten.empty());
        // The unusable fourth field is emptied only when the run commits.
        EXPECT_EQ(window.fields[3], "x");
    }
}

TEST_F(Faults, ProjectDirectoryReplacedDuringTheRun) {
    window.SetFields("300", "1200", "5000", "");
    // Removed and made afresh (by another program) after the first band: the run belongs to
    // the directory it opened and ends, leaving the new one to the other program.
    AtPumpAfterFiles(2, [&] {
        fs::remove_all(project);
        fs::create_directory(project);
        test::WriteText(project / "theirs", "x");
    });
    EXPECT_EQ(Press(), std::vector<std::string>{"Invalid filename."});
    ExpectIdle();
    EXPECT_EQ(test::Contents(project), (Files{{"theirs", {'x'}}}));
}

// ---------------------------------------------------------------------------------------
// Something in the way of a coefficient file

TEST_F(Faults, BlockedTargetsEndTheRunAndStayUntouched) {
    struct Case {
        const char* name; // the blocked coefficient file
        bool directory;   // a directory stands there, else a read-only file
        bool rate48;      // 48000 Hz, 32-bit files
    };
    const std::vector<Case> cases = {
        {"XOLowL44.dbl", false, false},
        {"XOHighR44.dbl", false, false},
        {"XOLowL48.pcm", true, true},
        {"XOMidR48.pcm", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(project);
        fs::create_directory(project);
        window.SetFields("500", "2000", "", "");
        window.radio48 = c.rate48;
        DoublePrecision = !c.rate48;
        const Files expected = CleanRun();
        const fs::path blocked = project / c.name;
        if (c.directory) {
            fs::create_directory(blocked);
            test::WriteText(blocked / "inside", "keep");
        } else {
            test::WriteText(blocked, "protected");
            fs::permissions(blocked, fs::perms::owner_read | fs::perms::group_read);
        }
        Files kept;
        kept[c.name] = c.directory ? std::vector<unsigned char>{} : test::ReadBytes(blocked);

        const Files before = test::Contents(project);
        EXPECT_EQ(Press(), std::vector<std::string>{"File access denied."});
        ExpectIdle();
        EXPECT_TRUE(window.filesWritten.empty());
        EXPECT_EQ(test::BrokenFiles(project, expected, kept), std::vector<std::string>{});
        EXPECT_EQ(test::Contents(project), before);
        if (c.directory)
            EXPECT_EQ(test::ReadText(blocked / "inside"), "keep");
        else
            EXPECT_TRUE(test::ReadBytes(blocked) == kept[c.name]);
        fs::permissions(blocked, fs::perms::owner_all, fs::perm_options::add);
    }
    DoublePrecision = true;
}

// ---------------------------------------------------------------------------------------
// A full disk

TEST_F(Faults, FileSizeLimitMidRunIsADiskFull) {
    // A file-size limit that a ".dbl" exceeds and a ".pcm" does not: the write stores only
    // part of the record, as on a full disk. This runs wherever the tests run.
    LimitGuard limit(RLIMIT_FSIZE);
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    const Files old = OldDesign();
    AtPumpAfterFiles(2, [&] { limit.Lower(300000); });
    EXPECT_EQ(Press(), std::vector<std::string>{"Disk full."});
    ExpectIdle();
    EXPECT_EQ(test::Contents(project), old);

    // Under the same limit, 32-bit files fit.
    window.onPump = nullptr;
    DoublePrecision = false;
    window.SetFields("500", "2000", "", "");
    const Files singles = CleanRun();
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(window.filesWritten.size(), 6u);
    EXPECT_EQ(test::BrokenFiles(project, singles), std::vector<std::string>{});
    DoublePrecision = true;
    std::signal(SIGXFSZ, previousHandler);
}

TEST_F(Faults, SmallFileSystemFillsUpMidRun) {
    Tmpfs disk(project, "size=1100k,mode=0755");
    REQUIRE_MOUNT(disk);
    // Room for the settings and the first band's two 512 KiB files, not for a third.
    const std::string settings = "[Crossover]\r\nFrequency1=700\r\nX-way-system=2\r\n";
    test::WriteText(project / "TarnProject.ini", settings);
    window.SetFields("500", "2000", "abc", "");
    EXPECT_EQ(Press(), std::vector<std::string>{"Disk full."});
    ExpectIdle();
    EXPECT_EQ(test::Contents(project),
              (Files{{"TarnProject.ini", {settings.begin(), settings.end()}}}));
    EXPECT_EQ(window.fields[2], "abc"); // fields are emptied only by a commit

    // Full to the last byte before the next run: the settings cannot be written, and the
    // settings file stays as it was.
    {
        const int fd = ::open((project / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        std::vector<char> block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
    }
    EXPECT_EQ(Press(), std::vector<std::string>{ProjectIniError(ProjectPath)});
    ExpectIdle();
    EXPECT_EQ(test::ReadText(project / "TarnProject.ini"), settings);
    EXPECT_EQ(window.fields[2], "abc");
    EXPECT_EQ(test::FileNames(project), (std::vector<std::string>{"TarnProject.ini", "filler"}));
}

TEST_F(Faults, NoFreeInodesMidRun) {
    Tmpfs disk(project, "size=16m,nr_inodes=64,mode=0755");
    REQUIRE_MOUNT(disk);
    const Files old = OldDesign();
    // Once the settings are stored, the file system runs out of inodes: the temporary file
    // of the next coefficient file cannot be created.
    AtPumpAfterFiles(2, [&] {
        for (int i = 0; i < 100; ++i) {
            const fs::path filler = project / std::to_string(i);
            const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT, 0644);
            if (fd < 0) break;
            ::close(fd);
        }
    });
    EXPECT_EQ(Press(), std::vector<std::string>{"Disk full."});
    ExpectIdle();
    Files now = test::Contents(project);
    std::erase_if(now, [](const auto& file) {
        return file.first.front() != '.' && file.first.front() <= '9';
    });
    EXPECT_EQ(now, old);
}

TEST_F(Faults, FileSystemTurnsReadOnly) {
    Tmpfs disk(project, "size=16m,mode=0755");
    REQUIRE_MOUNT(disk);
    const Files old = OldDesign();
    AtPumpAfterFiles(4, [&] { ASSERT_TRUE(disk.MakeReadOnly()); });
    EXPECT_EQ(Press(), std::vector<std::string>{"File access denied."});
    ExpectIdle();
    // The design is the old one; the files written before the file system turned can no
    // longer be removed, and the next run that can does so.
    Files now = test::Contents(project);
    EXPECT_EQ(std::erase_if(now, [](const auto& file) { return file.first.front() == '.'; }), 5u);
    EXPECT_EQ(now, old);

    // Read-only from the start: the settings are the first write.
    window.onPump = nullptr;
    EXPECT_EQ(Press(), std::vector<std::string>{ProjectIniError(ProjectPath)});
    ExpectIdle();

    ASSERT_TRUE(disk.MakeWritable());
    EXPECT_EQ(Press(), std::vector<std::string>{});
    EXPECT_EQ(test::BrokenFiles(project, CleanRun()), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------------------
// Too many open files

TEST_F(Faults, TooManyOpenFilesMidRun) {
    const Files old = OldDesign();
    LimitGuard limit(RLIMIT_NOFILE);
    std::vector<int> held;
    AtPumpAfterFiles(2, [&] {
        // The undefined-behaviour sanitizer checks the type of an object it has not seen
        // through a pipe, which needs descriptors: the error's type is shown to it first.
        try {
            throw AtomicFileError(FileStep::Create, EMFILE);
        } catch (const AtomicFileError& e) {
            (void)e.Error();
        }
        limit.Lower(static_cast<rlim_t>(test::OpenDescriptors() + 8));
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            held.push_back(fd);
    });
    // The other files close before the error box shows, which needs a descriptor or two
    // itself (and so do the sanitizers' checks in the error handling).
    std::size_t heldAtError = 0;
    window.onTimerStopped = [&] {
        heldAtError = held.size();
        for (const int fd : held)
            ::close(fd);
        held.clear();
    };
    EXPECT_EQ(Press(), std::vector<std::string>{"Too many open files."});
    EXPECT_GT(heldAtError, 0u);
    ExpectIdle();
    EXPECT_EQ(test::Contents(project), old);
}

// ---------------------------------------------------------------------------------------
// Failing calls of the coefficient writer

TEST_F(Faults, FailingCallsOfTheCoefficientWriterLeaveTheOldDesign) {
    window.minimumPhase = true;
    const Files old = OldDesign();
    struct Case {
        const char* what;
        int call;
        int error;
        long shortBytes;
        int hits; // the calls that fail (-1: all of them)
        std::string message;
    };
    const std::vector<Case> cases = {
        {"short write, then no space", TarnFaultWrite, ENOSPC, 1000, -1, "Disk full."},
        {"write: no space", TarnFaultWrite, ENOSPC, -1, 1, "Disk full."},
        {"write: quota", TarnFaultWrite, EDQUOT, -1, 1, "Disk full."},
        {"write: device error", TarnFaultWrite, EIO, -1, 1, "I/O error 29."},
        {"write: unreachable (101 on Linux)", TarnFaultWrite, ENETUNREACH, -1, 1,
         "I/O error 1101."},
        {"sync: device error", TarnFaultFsync, EIO, -1, 1, "I/O error 29."},
        {"sync: no space (deferred)", TarnFaultFsync, ENOSPC, -1, 1, "Disk full."},
        {"close: device error", TarnFaultClose, EIO, -1, 1, "I/O error 29."},
        {"close: no space (deferred)", TarnFaultClose, ENOSPC, -1, 1, "Disk full."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window.SetFields("500", "2000", "", "");
        tarn_fault_arm(c.call, "XOMidR44", c.error, c.shortBytes, 0, c.hits);
        EXPECT_EQ(Press(), std::vector<std::string>{c.message});
        EXPECT_EQ(tarn_fault_hits(), c.shortBytes >= 0 ? 2 : 1);
        tarn_fault_disarm();
        ExpectIdle();
        EXPECT_TRUE(window.filesWritten.empty());
        EXPECT_EQ(window.fields[1], "2000");
        EXPECT_EQ(test::Contents(project), old);
    }
}

TEST_F(Faults, ARenameFailingInsideTheCommitIsFinishedByTheNextRun) {
    OldDesign();
    tarn_fault_arm(TarnFaultRename, "XOMidR44", EIO, -1, 0, 1);
    EXPECT_EQ(Press(), std::vector<std::string>{"I/O error 29."});
    tarn_fault_disarm();
    ExpectIdle();
    // The settings and the files before it are in place; the journal stands for the rest.
    EXPECT_TRUE(fs::exists(project / "XOMidL44.dbl"));
    EXPECT_TRUE(window.filesWritten.empty());
    EXPECT_TRUE(fs::exists(project / ".tarn-commit"));

    window.SetFields("600", "", "", "");
    EXPECT_EQ(Press(), std::vector<std::string>{});
    EXPECT_EQ(test::BrokenFiles(project, CleanRun()), std::vector<std::string>{});
    EXPECT_EQ(test::FileNames(project).size(), 5u);
}

TEST_F(Faults, PartialAndInterruptedWritesAreCarriedOn) {
    const Files expected = CleanRun();
    struct Case {
        const char* what;
        int error;
        long shortBytes;
    };
    const std::vector<Case> cases = {
        {"a short write", 0, 1000},
        {"an interrupted write", EINTR, -1},
        {"an interrupted sync", EINTR, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        window.SetFields("500", "2000", "", "");
        const bool sync = std::string(c.what).ends_with("sync");
        tarn_fault_arm(sync ? TarnFaultFsync : TarnFaultWrite, "XOMidR44", c.error, c.shortBytes, 0,
                       1);
        EXPECT_EQ(Press(), std::vector<std::string>{});
        EXPECT_EQ(tarn_fault_hits(), 1);
        tarn_fault_disarm();
        EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 3-way XO done"});
        EXPECT_EQ(test::BrokenFiles(project, expected), std::vector<std::string>{});
        EXPECT_EQ(test::FileNames(project).size(), 7u);
    }
}

// ---------------------------------------------------------------------------------------
// Unwritable settings files

TEST_F(Faults, UnwritableProjectSettingsChangeNothing) {
    const fs::path ini = project / "TarnProject.ini";
    const std::string old = "[Crossover]\r\nFrequency1=80\r\nFilterOrder=4\r\nX-way-system=2\r\n";
    struct Case {
        const char* what;
        std::function<void()> arrange;
    };
    const std::vector<Case> cases = {
        {"read-only file",
         [&] { fs::permissions(ini, fs::perms::owner_read | fs::perms::group_read); }},
        {"fsync fails", [] { tarn_fault_arm(TarnFaultFsync, "TarnProject.ini", EIO, -1, 0, 1); }},
        {"write fails",
         [] { tarn_fault_arm(TarnFaultWrite, "TarnProject.ini", ENOSPC, -1, 0, 1); }},
        {"close fails", [] { tarn_fault_arm(TarnFaultClose, "TarnProject.ini", EIO, -1, 0, 1); }},
        {"rename fails", [] { tarn_fault_arm(TarnFaultRename, "TarnProject.ini", EIO, -1, 0, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::WriteText(ini, old);
        window.SetFields("500", "2000", "x", "");
        c.arrange();
        EXPECT_EQ(Press(), std::vector<std::string>{ProjectIniError(ProjectPath)});
        tarn_fault_disarm();
        ExpectIdle();
        EXPECT_EQ(test::ReadText(ini), old);
        EXPECT_EQ(window.fields[2], "x");
        EXPECT_EQ(test::FileNames(project), std::vector<std::string>{"TarnProject.ini"});
        fs::permissions(ini, fs::perms::owner_read | fs::perms::owner_write);
    }

    // A directory in its place.
    fs::remove(ini);
    fs::create_directory(ini);
    EXPECT_EQ(Press(), std::vector<std::string>{ProjectIniError(ProjectPath)});
    ExpectIdle();
    EXPECT_TRUE(fs::is_directory(ini));
    fs::remove(ini);

    // The keys of a run go in one write: a failure stores none of them, never a mixture of
    // the new texts and the old number of ways.
    test::WriteText(ini, old);
    tarn_fault_arm(TarnFaultRename, "TarnProject.ini", EIO, -1, 0, 1);
    window.SetFields("123", "456", "", "");
    EXPECT_EQ(Press(), std::vector<std::string>{ProjectIniError(ProjectPath)});
    EXPECT_EQ(tarn_fault_hits(), 1);
    ExpectIdle();
    EXPECT_EQ(test::ReadText(ini), old);
    EXPECT_EQ(test::FileNames(project), std::vector<std::string>{"TarnProject.ini"});
}

class AppSettingsFaults : public Faults {
  protected:
    void SetUp() override {
        Faults::SetUp();
        savedAppDir = AppDir;
        app = root.Path() / "app";
        fs::create_directory(app);
    }
    void TearDown() override {
        AppDir = savedAppDir;
        Faults::TearDown();
    }
    std::string TarnIni() const { return (app / "Tarn.ini").string(); }
    std::string TarnIniError() const {
        return "In " + TarnIni() + " kann nicht geschrieben werden.";
    }
    std::vector<std::string> Load() {
        window.errors.clear();
        RunHandler([&] { StartupLoad(app.string() + PathSeparator); });
        return window.errors;
    }

    fs::path app;
    std::string savedAppDir;
};

TEST_F(AppSettingsFaults, FailedStartUpWriteKeepsTheOldFileAndTheDefaults) {
    const std::string old = "[Project]\r\nProjectDir=" + (root.Path() / "gone").string() + "/\r\n";
    for (const int call : {TarnFaultWrite, TarnFaultFsync, TarnFaultClose, TarnFaultRename}) {
        SCOPED_TRACE(call);
        test::WriteText(TarnIni(), old);
        window.caption = "Tarn";
        tarn_fault_arm(call, "Tarn.ini", call == TarnFaultWrite ? ENOSPC : EIO, -1, 0, 1);
        EXPECT_EQ(Load(), std::vector<std::string>{TarnIniError()});
        EXPECT_EQ(tarn_fault_hits(), 1);
        tarn_fault_disarm();
        EXPECT_EQ(test::ReadText(TarnIni()), old);
        EXPECT_EQ(window.caption, "Tarn");
        EXPECT_EQ(ProjectPath, app.string() + "/MyFirstProject/");
        EXPECT_EQ(test::FileNames(app), std::vector<std::string>{"Tarn.ini"});
    }
    // The default project is there all the same, and a calculation works in it.
    window.SetFields("500", "", "", "");
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 2-way XO done"});
}

TEST_F(AppSettingsFaults, FullDiskAtStartUp) {
    Tmpfs disk(app, "size=64k,mode=0755");
    REQUIRE_MOUNT(disk);
    const int fd = ::open((app / "filler").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    std::vector<char> block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
    EXPECT_EQ(Load(), std::vector<std::string>{TarnIniError()});
    EXPECT_EQ(window.caption, "Tarn");
    EXPECT_EQ(window.fields[0], "500"); // the load ended before filling the fields
    EXPECT_EQ(test::FileNames(app), std::vector<std::string>{"filler"});
    // The default project directory fits (it needs no data blocks); its first run does not.
    ASSERT_TRUE(fs::is_directory(app / "MyFirstProject"));
    EXPECT_EQ(Press(), std::vector<std::string>{ProjectIniError(ProjectPath)});
    ExpectIdle();
}

TEST_F(AppSettingsFaults, FailedProjectSwitchIsNotRemembered) {
    EXPECT_TRUE(Load().empty());
    const std::string stored = test::ReadText(TarnIni());
    const std::string caption = window.caption;
    const fs::path chosen = root.Path() / "chosen";
    window.chooserAnswers.push_back(chosen.string());
    tarn_fault_arm(TarnFaultFsync, "Tarn.ini", EIO, -1, 0, 1);
    window.errors.clear();
    RunHandler(ProjectClick);
    EXPECT_EQ(window.errors, std::vector<std::string>{TarnIniError()});
    tarn_fault_disarm();
    EXPECT_EQ(ProjectPath, chosen.string() + "/");
    EXPECT_EQ(window.caption, caption);
    EXPECT_EQ(test::ReadText(TarnIni()), stored);
    EXPECT_EQ(test::FileNames(app), std::vector<std::string>{"Tarn.ini"});
}

// ---------------------------------------------------------------------------------------
// tarn-cli

class CliFaults : public ::testing::Test {
  protected:
    test::ProcessResult Run(const std::vector<std::string>& arguments,
                            const std::vector<std::string>& environment = {},
                            const std::function<void()>& inChild = {}) {
        std::vector<std::string> argv = {TARN_CLI_PATH, "--phase", "linear"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return test::RunProcess(argv, dir.Path(), environment, inChild);
    }
    Files Expected(const std::vector<std::string>& arguments) {
        test::TempDir clean;
        std::vector<std::string> argv = {TARN_CLI_PATH, "--phase", "linear"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(test::RunProcess(argv, clean.Path()).status, 0);
        Files files = test::Contents(clean.Path());
        files.erase("TarnProject.ini");
        return files;
    }
    test::TempDir dir;
};

TEST_F(CliFaults, FailingCloseIsReportedWithStatusOne) {
    ASSERT_EQ(Run({"800"}).status, 0);
    const Files old = test::Contents(dir.Path());
    const auto r = Run({"500", "2000"}, {"LD_PRELOAD=" TARN_FAULT_SHIM_PATH,
                                         "TARN_FAULT=close:XOMidR44:" + std::to_string(EIO)});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "I/O error 29.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::Contents(dir.Path()), old);
}

TEST_F(CliFaults, FileSizeLimitIsADiskFull) {
    // As under "ulimit -f 292": the first coefficient write stores only part of its record.
    const auto r = Run({"500", "2000"}, {}, [] {
        rlimit limit{300000, 300000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Disk full.\n");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{});
}

TEST_F(CliFaults, KilledMidWriteLeavesTheOldDesignAndTheNextRunCleansUp) {
    ASSERT_EQ(Run({"800"}).status, 0);
    const Files old = test::Contents(dir.Path());
    const Files expected = Expected({"500", "2000"});
    const auto r =
        Run({"500", "2000"}, {"LD_PRELOAD=" TARN_FAULT_SHIM_PATH,
                              "TARN_FAULT=crash:XOMidL44:" + std::to_string(SIGKILL) + ":100000"});
    EXPECT_EQ(r.signal, SIGKILL);
    // The old design is there byte for byte, beside what the killed run had written.
    Files now = test::Contents(dir.Path());
    std::size_t temporary = 0;
    for (auto it = now.begin(); it != now.end();)
        if (TemporaryTarget(it->first)) {
            ++temporary;
            it = now.erase(it);
        } else {
            ++it;
        }
    EXPECT_EQ(temporary, 4u); // the settings, the Low band and part of XOMidL44
    EXPECT_EQ(now, old);

    const auto again = Run({"500", "2000"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(test::BrokenFiles(dir.Path(), expected), std::vector<std::string>{});
    EXPECT_EQ(test::FileNames(dir.Path()).size(), 7u);
}

// ---------------------------------------------------------------------------------------
// Runs of tarn-cli killed, stopped, or side by side on one project

class CliRuns : public CliFaults {
  protected:
    // Every file a clean run of these arguments leaves in a project, settings included.
    Files Design(const std::vector<std::string>& arguments) {
        test::TempDir clean;
        std::vector<std::string> argv = {TARN_CLI_PATH, "--phase", "linear"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        EXPECT_EQ(test::RunProcess(argv, clean.Path()).status, 0);
        return test::Contents(clean.Path());
    }
    void Put(const Files& files) {
        for (const auto& entry : fs::directory_iterator(dir.Path()))
            fs::remove_all(entry.path());
        for (const auto& [name, bytes] : files)
            test::WriteText(dir.Path() / name, std::string(bytes.begin(), bytes.end()));
    }
    std::vector<std::string> Argv(const std::vector<std::string>& arguments) const {
        std::vector<std::string> argv = {TARN_CLI_PATH, "--phase", "linear"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return argv;
    }
    // What the next run does first, under the project's lock: finish a commit a killed run
    // left, remove the temporary files of dead runs.
    void Recover() {
        ProjectPath = dir.Prefix();
        Directory project(dir.Path());
        ASSERT_EQ(project.TryLock(), Directory::Lock::Held);
        RecoverFileSet(
            project,
            [](std::string_view name) {
                return name == "TarnProject.ini" || test::IsCoefficientName(std::string(name));
            },
            [](const std::vector<std::string>& names) { DeleteOutputs(names); });
    }

    const std::vector<std::string> oldArguments = {"800", "3000"};
    const std::vector<std::string> newArguments = {"80", "500", "3000", "8000"};
};

TEST_F(CliRuns, KilledAtEveryStepOfTheCommitTheNextRunFindsOneDesign) {
    const Files old = Design(oldArguments), fresh = Design(newArguments);
    // The renames of a five-way commit: the journal, the settings, ten coefficient files.
    for (int rename = 0; rename < 12; ++rename) {
        SCOPED_TRACE(rename);
        Put(old);
        const auto r =
            Run(newArguments, {"LD_PRELOAD=" TARN_FAULT_SHIM_PATH,
                               "TARN_FAULT=crashrename:.tarn-:" + std::to_string(SIGKILL) +
                                   ":0:" + std::to_string(rename)});
        EXPECT_EQ(r.signal, SIGKILL);
        Recover();
        EXPECT_TRUE(test::Contents(dir.Path()) == (rename == 0 ? old : fresh));
    }
}

TEST_F(CliRuns, KilledAtRandomMomentsTheProjectHoldsTheOldOrTheNewDesign) {
    const Files old = Design(oldArguments), fresh = Design(newArguments);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(test::RunProcess(Argv(newArguments), dir.Path()).status, 0);
    const auto runTime = std::chrono::steady_clock::now() - start;
    const unsigned seed = std::random_device{}();
    RecordProperty("seed", static_cast<int>(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<long> moment(
        0, std::chrono::duration_cast<std::chrono::microseconds>(runTime).count() * 5 / 4);
    int olds = 0, news = 0;
    for (int i = 0; i < 20; ++i) {
        Put(old);
        const long after = moment(random);
        SCOPED_TRACE("seed " + std::to_string(seed) + ", killed after " + std::to_string(after) +
                     " us");
        test::Child child(Argv(newArguments), dir.Path());
        std::this_thread::sleep_for(std::chrono::microseconds(after));
        child.Signal(SIGKILL);
        child.Wait();
        // Before its commit began the old design is there byte for byte; a journal is
        // finished by the next run's recovery.
        if (!fs::exists(dir.Path() / ".tarn-commit")) {
            Files now = test::Contents(dir.Path());
            std::erase_if(now, [](const auto& f) { return TemporaryTarget(f.first).has_value(); });
            EXPECT_TRUE(now == old || now == fresh);
        }
        Recover();
        const Files now = test::Contents(dir.Path());
        EXPECT_TRUE(now == old || now == fresh);
        olds += now == old;
        news += now == fresh;
    }
    RecordProperty("old", olds);
    RecordProperty("new", news);
}

TEST_F(CliRuns, StoppedWhileWaitingForTheProjectItChangesNothing) {
    Put(Design(oldArguments));
    const Files old = test::Contents(dir.Path());
    Directory other(dir.Path());
    ASSERT_EQ(other.TryLock(), Directory::Lock::Held);
    test::Child child(Argv(newArguments), dir.Path());
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    child.Signal(SIGTERM);
    const auto r = child.Wait();
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_EQ(r.err, "Calculation interrupted.\n");
    EXPECT_EQ(test::Contents(dir.Path()), old);
}

TEST_F(CliRuns, ABusyProjectIsWaitedForAFewSecondsThenGivenUp) {
    Directory other(dir.Path());
    ASSERT_EQ(other.TryLock(), Directory::Lock::Held);
    const auto start = std::chrono::steady_clock::now();
    const auto r = Run(newArguments);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "Project " + dir.Path().string() + " is busy (another calculation is running).\n");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{});
}

TEST_F(CliRuns, TwoRunsOnOneProjectLeaveOneWholeDesign) {
    const Files old = Design(oldArguments), fresh = Design(newArguments);
    for (const bool same : {true, false})
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(same ? "same design" : "different designs");
            Put({});
            test::Child first(Argv(newArguments), dir.Path());
            test::Child second(Argv(same ? newArguments : oldArguments), dir.Path());
            const auto a = first.Wait(), b = second.Wait();
            for (const auto& r : {a, b})
                EXPECT_TRUE(r.status == 0 || r.err.ends_with("is busy (another calculation is "
                                                             "running).\n"))
                    << r.status << " " << r.err;
            const Files now = test::Contents(dir.Path());
            EXPECT_TRUE(now == fresh || (!same && now == old));
        }
}

TEST_F(CliRuns, FilesThatCannotBeCreatedBesideTheirOwnAreWrittenInPlace) {
    // As in a shared folder of another user whose files are writable: no temporary file can
    // be created, so the run writes over the files themselves.
    Put(Design(oldArguments));
    std::map<std::string, ino_t> inodes;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        struct stat st {};
        ::stat(entry.path().c_str(), &st);
        inodes[entry.path().filename().string()] = st.st_ino;
    }
    const std::vector<std::string> environment = {
        "LD_PRELOAD=" TARN_FAULT_SHIM_PATH, "TARN_FAULT=create:.tarn-:" + std::to_string(EACCES)};
    const auto r = Run({"500", "2000"}, environment);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::Contents(dir.Path()), Design({"500", "2000"}));
    for (const auto& [name, inode] : inodes) {
        struct stat st {};
        ::stat((dir.Path() / name).c_str(), &st);
        EXPECT_EQ(st.st_ino, inode) << name;
    }
    // A band whose file is not there yet cannot be written: nothing is.
    const Files before = test::Contents(dir.Path());
    const auto more = Run({"80", "500", "2000"}, environment);
    EXPECT_EQ(more.status, 1);
    EXPECT_EQ(more.err, "File access denied.\n");
    EXPECT_EQ(test::Contents(dir.Path()), before);
}

} // namespace
} // namespace tarn
