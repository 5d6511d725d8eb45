#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "crossover/Tarndef.h"
#include "project/DesignTexts.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        savedAppDir_ = AppDir;
        savedProjectPath_ = ProjectPath;
        fs::create_directory(app_);
    }
    void TearDown() override {
        AppDir = savedAppDir_;
        ProjectPath = savedProjectPath_;
    }

    static void Put(const std::string& path, const std::string& bytes) {
        test::WriteText(path, bytes);
    }
    static std::string Get(const std::string& path) { return test::ReadText(path); }
    static void MakeReadOnly(const std::string& path) {
        fs::permissions(path, fs::perms::owner_read | fs::perms::group_read);
    }

    std::string TarnIni() const { return app_ + "Tarn.ini"; }
    std::string DefaultProject() const { return app_ + "MyFirstProject/"; }
    std::string StoredDefault() const {
        return "[Project]\r\nProjectDir=" + DefaultProject() + "\r\n";
    }
    // A project directory holding a TarnProject.ini with the given body of [Crossover].
    std::string MakeProject(const std::string& name, const std::string& crossover) const {
        const std::string dir = root_ + "/" + name + "/";
        fs::create_directories(dir);
        Put(dir + "TarnProject.ini", "[Crossover]\r\n" + crossover);
        return dir;
    }
    // Runs the load as FormCreate does: an error is shown, not thrown on.
    bool Load(HeadlessWindow& window) {
        ScopedWindow scoped(window);
        return RunHandler([&] { StartupLoad(app_); });
    }
    bool Click(HeadlessWindow& window) {
        ScopedWindow scoped(window);
        return RunHandler(ProjectClick);
    }

    test::TempDir scratch_;
    std::string root_ = scratch_.Path().string();
    std::string app_ = root_ + "/app/";
    std::string savedAppDir_;
    std::string savedProjectPath_;
};

TEST_F(SettingsTest, FirstStartCreatesTheDefaultProject) {
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    EXPECT_EQ(AppDir, app_);
    EXPECT_EQ(ProjectPath, DefaultProject());
    EXPECT_TRUE(fs::is_directory(DefaultProject()));
    EXPECT_EQ(Get(TarnIni()), StoredDefault());
    EXPECT_EQ(w.caption, "Tarn - Project: " + DefaultProject());
    for (const auto& f : w.fields)
        EXPECT_EQ(f, "");
    EXPECT_EQ(w.filterOrderText, "10");
    // The project file is first written by a calculation.
    EXPECT_FALSE(fs::exists(DefaultProject() + "TarnProject.ini"));
}

TEST_F(SettingsTest, AnExistingDefaultProjectIsFoundAndLoaded) {
    fs::create_directory(app_ + "MyFirstProject");
    Put(DefaultProject() + "TarnProject.ini", "[Crossover]\nFrequency1=80\nFilterOrder=4\n");
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    EXPECT_EQ(Get(TarnIni()), StoredDefault());
    EXPECT_EQ(w.fields[0], "80");
    EXPECT_EQ(w.filterOrderText, "4");
}

TEST_F(SettingsTest, AnUnusableStoredDirectoryFallsBackAndIsReplaced) {
    Put(root_ + "/afile", "x");
    const std::string cases[] = {
        "[Project]\r\nProjectDir=\r\n",
        "[Project]\r\nOther=1\r\n",
        "[Elsewhere]\r\nProjectDir=" + root_ + "/\r\n",
        "[Project]\r\nProjectDir=" + root_ + "/gone/\r\n",
        "[Project]\r\nProjectDir=" + root_ + "/afile\r\n",
        "[Project]\r\nProjectDir=" + root_ + "/afile/\r\n",
    };
    std::vector<std::string> all(std::begin(cases), std::end(cases));
    // Too long to have been stored by the program: cut to what a buffer holds it would name
    // the scratch directory, which must not receive the files.
    all.push_back("[Project]\r\nProjectDir=" + root_ + "/" + std::string(2100, 'x') + "/\r\n");
    for (const std::string& stored : all) {
        SCOPED_TRACE(stored.substr(0, 80));
        Put(TarnIni(), stored);
        HeadlessWindow w;
        ASSERT_TRUE(Load(w));
        EXPECT_EQ(ProjectPath, DefaultProject());
        EXPECT_EQ(w.caption, "Tarn - Project: " + DefaultProject());
        EXPECT_EQ(IniFile(TarnIni()).ReadString("Project", "ProjectDir", ""), DefaultProject());
    }
    // The stale directory is forgotten, not re-created.
    EXPECT_FALSE(fs::exists(root_ + "/gone"));
    // Only the key's line changes.
    EXPECT_EQ(Get(TarnIni()), "[Project]\r\nProjectDir=" + DefaultProject() + "\r\n");
    Put(TarnIni(), "; mine\n[project]\nprojectdir = \n");
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    EXPECT_EQ(Get(TarnIni()), "; mine\n[project]\nprojectdir=" + DefaultProject() + "\n");
}

TEST_F(SettingsTest, AnExistingStoredDirectoryIsUsedAndNotWritten) {
    const std::string project =
        MakeProject("proj", "Frequency1 = 500\r\nFrequency2=\"1000 Hz\"\r\nfrequency3=abc\r\n"
                            "Frequency4=gr\xF6\xDF"
                            "er\r\nFilterOrder=0x10\r\nX-way-system=3\r\n");
    const std::string stored = "; set by hand\n[PROJECT]\n  projectdir =  " + project + "  \n";
    Put(TarnIni(), stored);
    // Read-only: any attempt to write it would fail the load.
    MakeReadOnly(TarnIni());
    HeadlessWindow w;
    ASSERT_TRUE(Load(w)) << w.errors.front();
    EXPECT_EQ(ProjectPath, project);
    EXPECT_EQ(w.caption, "Tarn - Project: " + project);
    EXPECT_EQ(Get(TarnIni()), stored);
    EXPECT_EQ(w.fields[0], "500");
    EXPECT_EQ(w.fields[1], "1000 Hz");
    EXPECT_EQ(w.fields[2], "abc");
    EXPECT_EQ(w.fields[3], "größer");
    EXPECT_EQ(w.filterOrderText, "16");
    EXPECT_FALSE(fs::exists(app_ + "MyFirstProject"));
}

// A stored path without its final separator would put the project's files beside the
// directory instead of in it, so the running program completes it.
TEST_F(SettingsTest, AStoredDirectoryGetsItsMissingSeparator) {
    const std::string project = MakeProject("proj", "Frequency1=250\r\n");
    Put(root_ + "/projTarnProject.ini", "[Crossover]\r\nFrequency1=wrong\r\n");
    std::string withoutSeparator = project;
    withoutSeparator.pop_back();
    const std::string stored = "[Project]\r\nProjectDir=" + withoutSeparator + "\r\n";
    Put(TarnIni(), stored);
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    EXPECT_EQ(ProjectPath, project);
    EXPECT_EQ(w.caption, "Tarn - Project: " + project);
    EXPECT_EQ(w.fields[0], "250");
    // The file keeps what the user wrote.
    EXPECT_EQ(Get(TarnIni()), stored);

    // A value that ends in the separator is used exactly, a doubled one included.
    Put(TarnIni(), "[Project]\r\nProjectDir=" + project + "/\r\n");
    HeadlessWindow w2;
    ASSERT_TRUE(Load(w2));
    EXPECT_EQ(ProjectPath, project + "/");
    EXPECT_EQ(w2.caption, "Tarn - Project: " + project + "/");
    EXPECT_EQ(w2.fields[0], "250");
}

TEST_F(SettingsTest, FilterOrderReadings) {
    const struct {
        const char* line;
        const char* shown;
    } cases[] = {{"FilterOrder=0x10\r\n", "16"}, {"FilterOrder=$10\r\n", "16"},
                 {"FilterOrder=x10\r\n", "16"},  {"FilterOrder=abc\r\n", "10"},
                 {"FilterOrder=\r\n", "10"},     {"", "10"},
                 {"FilterOrder=99\r\n", "50"},   {"FilterOrder=0\r\n", "1"},
                 {"FilterOrder= -7\r\n", "1"},   {"FilterOrder=50\r\n", "50"},
                 {"FilterOrder=1\r\n", "1"},     {"X-way-system=4\r\n", "10"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string project = MakeProject("orders", c.line);
        Put(TarnIni(), "[Project]\r\nProjectDir=" + project + "\r\n");
        HeadlessWindow w;
        w.filterOrderText = "33";
        ASSERT_TRUE(Load(w));
        EXPECT_EQ(w.filterOrderText, c.shown);
    }
}

TEST_F(SettingsTest, AnUnwritableTarnIniEndsTheLoadWithTheWindowDefaults) {
    // A stale entry forces the write; the file is read-only, which stops root too.
    MakeProject("proj", "Frequency1=500\r\nFilterOrder=20\r\n");
    Put(TarnIni(), "[Project]\r\nProjectDir=" + root_ + "/gone/\r\n");
    MakeReadOnly(TarnIni());
    const std::string before = Get(TarnIni());
    HeadlessWindow w;
    EXPECT_FALSE(Load(w));
    ASSERT_EQ(w.errors.size(), 1u);
    EXPECT_EQ(w.errors[0], "In " + TarnIni() + " kann nicht geschrieben werden.");
    EXPECT_EQ(ProjectPath, DefaultProject());
    EXPECT_EQ(w.caption, "Tarn");
    for (const auto& f : w.fields)
        EXPECT_EQ(f, "");
    EXPECT_EQ(w.filterOrderText, "10");
    EXPECT_EQ(Get(TarnIni()), before);
}

TEST_F(SettingsTest, AMissingAppDirEndsTheLoadToo) {
    app_ = root_ + "/missing/";
    HeadlessWindow w;
    try {
        ScopedWindow scoped(w);
        StartupLoad(app_);
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "In " + TarnIni() + " kann nicht geschrieben werden");
    }
    EXPECT_EQ(AppDir, app_);
    EXPECT_EQ(ProjectPath, DefaultProject());
    EXPECT_EQ(w.caption, "Tarn");
    EXPECT_FALSE(fs::exists(app_));
}

class ProjectClickTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        ASSERT_TRUE(Load(window_));
        window_.fields[0] = "120";
        window_.fields[2] = "x";
        window_.filterOrderText = "7";
    }
    void ExpectUnchanged(const std::string& tarnIni) const {
        EXPECT_EQ(ProjectPath, DefaultProject());
        EXPECT_EQ(window_.caption, "Tarn - Project: " + DefaultProject());
        EXPECT_EQ(Get(TarnIni()), tarnIni);
    }
    HeadlessWindow window_;
};

TEST_F(ProjectClickTest, CancelChangesNothing) {
    ASSERT_TRUE(Click(window_));
    ASSERT_EQ(window_.chooserStarts.size(), 1u);
    EXPECT_EQ(window_.chooserStarts[0], DefaultProject());
    ExpectUnchanged(StoredDefault());
}

TEST_F(ProjectClickTest, ANewNestedDirectoryIsCreatedAndRemembered) {
    const std::string chosen = root_ + "/new/deeper/proj";
    // The new project's own settings wait for the next start.
    fs::create_directories(root_ + "/new/other");
    window_.chooserAnswers.push_back(chosen);
    ASSERT_TRUE(Click(window_));
    EXPECT_TRUE(fs::is_directory(chosen));
    EXPECT_EQ(ProjectPath, chosen + "/");
    EXPECT_EQ(window_.caption, "Tarn - Project: " + chosen + "/");
    EXPECT_EQ(Get(TarnIni()), "[Project]\r\nProjectDir=" + chosen + "/\r\n");
    EXPECT_EQ(window_.fields[0], "120");
    EXPECT_EQ(window_.fields[2], "x");
    EXPECT_EQ(window_.filterOrderText, "7");

    // Remembered across a restart.
    HeadlessWindow restarted;
    ASSERT_TRUE(Load(restarted));
    EXPECT_EQ(ProjectPath, chosen + "/");
    EXPECT_EQ(restarted.caption, "Tarn - Project: " + chosen + "/");
}

TEST_F(ProjectClickTest, TheSeparatorIsAppendedUnconditionally) {
    const std::string existing = MakeProject("proj", "Frequency1=999\r\n");
    window_.chooserAnswers.push_back(existing); // already ends in one, like a drive root
    ASSERT_TRUE(Click(window_));
    EXPECT_EQ(ProjectPath, existing + "/");
    EXPECT_EQ(window_.caption, "Tarn - Project: " + existing + "/");
    // Switching never reads the new project's values.
    EXPECT_EQ(window_.fields[0], "120");
}

TEST_F(ProjectClickTest, APathTooLongToBeStoredWholeIsRefused) {
    const std::string chosen = root_ + "/" + std::string(200, 'd') + "/" + std::string(2000, 'p');
    window_.chooserAnswers.push_back(chosen);
    EXPECT_FALSE(Click(window_));
    EXPECT_EQ(window_.errors,
              std::vector<std::string>{"The project path is longer than the 2047 characters the "
                                       "settings can hold."});
    EXPECT_FALSE(fs::exists(root_ + "/" + std::string(200, 'd')));
    ExpectUnchanged(StoredDefault());
}

TEST_F(SettingsTest, ATarnIniThatIsNotTextIsReportedAndKept) {
    const std::string utf16("\xFF\xFE[\0P\0]\0", 8);
    Put(TarnIni(), utf16);
    HeadlessWindow w;
    EXPECT_FALSE(Load(w));
    EXPECT_EQ(w.errors,
              std::vector<std::string>{"Cannot read " + TarnIni() + ": it is not a text file."});
    EXPECT_EQ(ProjectPath, DefaultProject()); // never the working directory
    EXPECT_EQ(Get(TarnIni()), utf16);
}

TEST_F(ProjectClickTest, AnEmptyConfirmedNameFails) {
    window_.chooserAnswers.push_back(std::string());
    EXPECT_FALSE(Click(window_));
    ASSERT_EQ(window_.errors.size(), 1u);
    EXPECT_EQ(window_.errors[0], "Unable to create directory.");
    ExpectUnchanged(StoredDefault());
}

TEST_F(ProjectClickTest, AnUnwritableTarnIniSwitchesButDoesNotRemember) {
    MakeReadOnly(TarnIni());
    const std::string chosen = root_ + "/other";
    window_.chooserAnswers.push_back(chosen);
    EXPECT_FALSE(Click(window_));
    ASSERT_EQ(window_.errors.size(), 1u);
    EXPECT_EQ(window_.errors[0], "In " + TarnIni() + " kann nicht geschrieben werden.");
    EXPECT_EQ(ProjectPath, chosen + "/");
    EXPECT_EQ(window_.caption, "Tarn - Project: " + DefaultProject());
    EXPECT_EQ(Get(TarnIni()), StoredDefault());
}

// The application as a user meets it: first start in a fresh directory, a calculation,
// a restart, a switch of projects and another restart.
TEST_F(SettingsTest, CalculationsAndProjectsSurviveARestart) {
    HeadlessWindow first;
    ASSERT_TRUE(Load(first));
    ASSERT_TRUE(fs::is_directory(DefaultProject()));
    ASSERT_EQ(Get(TarnIni()), StoredDefault());
    first.minimumPhase = false;
    first.SetFields("80", "", "2000", "1,5");
    first.filterOrderText = "12";
    {
        ScopedWindow scoped(first);
        ASSERT_TRUE(RunHandler([] { XOButtonClick(); }));
    }
    ASSERT_EQ(first.messages, std::vector<std::string>{"Calculation 2-way XO done"});
    EXPECT_TRUE(fs::exists(DefaultProject() + "XOLowL44.dbl"));
    EXPECT_EQ(first.fields[2], "");

    // The texts come back as they were typed, the ones the run emptied included.
    HeadlessWindow second;
    ASSERT_TRUE(Load(second));
    EXPECT_EQ(ProjectPath, DefaultProject());
    EXPECT_EQ(second.fields[0], "80");
    EXPECT_EQ(second.fields[1], "");
    EXPECT_EQ(second.fields[2], "2000");
    EXPECT_EQ(second.fields[3], "1,5");
    EXPECT_EQ(second.filterOrderText, "12");

    // Switch, calculate there, restart: the new project and its values are back.
    const std::string other = root_ + "/other";
    second.chooserAnswers.push_back(other);
    second.minimumPhase = false;
    second.fields[1] = "500";
    second.fields[3] = "9000";
    second.filterOrderText = "3";
    ASSERT_TRUE(Click(second));
    {
        ScopedWindow scoped(second);
        ASSERT_TRUE(RunHandler([] { XOButtonClick(); }));
    }
    EXPECT_TRUE(fs::exists(other + "/XOMidL44.dbl"));

    HeadlessWindow third;
    ASSERT_TRUE(Load(third));
    EXPECT_EQ(ProjectPath, other + "/");
    EXPECT_EQ(third.caption, "Tarn - Project: " + other + "/");
    EXPECT_EQ(third.fields[0], "80");
    EXPECT_EQ(third.fields[1], "500");
    EXPECT_EQ(third.fields[2], "2000");
    EXPECT_EQ(third.filterOrderText, "3");
    // The first project keeps its own values.
    EXPECT_EQ(
        IniFile(DefaultProject() + "TarnProject.ini").ReadInteger("Crossover", "FilterOrder", 0),
        12);
}

// A calculation writes into ProjectPath until its end; File -> Project chosen while it
// pumps messages must not move it.
TEST_F(SettingsTest, NoProjectSwitchDuringACalculation) {
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    w.minimumPhase = false;
    w.fields[0] = "500";
    w.chooserAnswers.push_back(root_ + "/elsewhere");
    int clicks = 0;
    w.onPump = [&] {
        if (clicks++ == 0) {
            ProjectClick();
            EXPECT_FALSE(OpenProjectClick());
            OpenProject(root_ + "/");
        }
    };
    {
        ScopedWindow scoped(w);
        ASSERT_TRUE(RunHandler([] { XOButtonClick(); }));
    }
    ASSERT_GT(clicks, 0);
    EXPECT_TRUE(w.chooserStarts.empty());
    EXPECT_EQ(ProjectPath, DefaultProject());
    EXPECT_EQ(Get(TarnIni()), StoredDefault());
    EXPECT_FALSE(fs::exists(root_ + "/elsewhere"));
    EXPECT_TRUE(fs::exists(DefaultProject() + "XOHighR44.dbl"));
}

TEST_F(SettingsTest, StartUpShowsTheWholeStoredDesign) {
    fs::create_directory(app_ + "MyFirstProject");
    Put(DefaultProject() + "TarnProject.ini",
        "[Crossover]\nFrequency1=80\nFilterOrder=4\nSampleRate=96000\nMinimumPhase=0\n"
        "Precision=32\nFormat=wav\nAlignment=Linkwitz-Riley\nTaps=8192\n"
        "[Bands]\nHighLevel=-6\nLowInvert=1\n");
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    EXPECT_EQ(w.fields[0], "80");
    EXPECT_EQ(w.filterOrderText, "4");
    EXPECT_EQ(w.rate, 96000);
    EXPECT_FALSE(w.minimumPhase);
    EXPECT_FALSE(DoublePrecision);
    EXPECT_EQ(w.format, FileFormat::Wav);
    EXPECT_EQ(w.alignment, Alignment::LinkwitzRiley);
    EXPECT_EQ(w.taps, 8192);
    EXPECT_EQ(w.TrimChoice("High").levelDb, -6.0);
    EXPECT_TRUE(w.TrimChoice("Low").invert);
    EXPECT_TRUE(w.TrimChoice("Mid").IsNeutral());
    DoublePrecision = true;
}

class OpenProjectTest : public SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        ASSERT_TRUE(Load(window_));
        window_.SetFields("120", "", "x", "");
        window_.filterOrderText = "7";
        window_.taps = 1024;
    }
    bool Open(const std::string& dir) {
        ScopedWindow scoped(window_);
        return RunHandler([&] { OpenProject(dir); });
    }
    bool OpenClick() {
        ScopedWindow scoped(window_);
        return RunHandler([] { OpenProjectClick(); });
    }
    HeadlessWindow window_;
};

TEST_F(OpenProjectTest, ShowsTheStoredDesignAndIsRemembered) {
    const std::string dir = MakeProject("proj", "Frequency1=999\r\nFilterOrder=4\r\nTaps=2048\r\n");
    // The chooser names a directory without its final separator.
    window_.chooserAnswers.push_back(dir.substr(0, dir.size() - 1));
    ASSERT_TRUE(OpenClick());
    EXPECT_EQ(window_.chooserStarts, std::vector<std::string>{DefaultProject()});
    EXPECT_EQ(ProjectPath, dir);
    EXPECT_EQ(window_.caption, "Tarn - Project: " + dir);
    // Every field is the project's, also those it leaves empty.
    EXPECT_EQ(window_.fields[0], "999");
    EXPECT_EQ(window_.fields[2], "");
    EXPECT_EQ(window_.filterOrderText, "4");
    EXPECT_EQ(window_.taps, 2048);
    EXPECT_EQ(IniFile(TarnIni()).ReadString("Project", "ProjectDir", ""), dir);
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{dir, DefaultProject()}));

    // Back by the recent list: the first project's (default) design, and the list turns.
    ASSERT_TRUE(Open(DefaultProject()));
    EXPECT_EQ(window_.fields[0], "");
    EXPECT_EQ(window_.taps, 65536);
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{DefaultProject(), dir}));

    HeadlessWindow restarted;
    ASSERT_TRUE(Load(restarted));
    EXPECT_EQ(ProjectPath, DefaultProject());
}

TEST_F(OpenProjectTest, ANewDirectoryOpensWithTheDefaultDesign) {
    const std::string chosen = root_ + "/new/proj";
    window_.chooserAnswers.push_back(chosen);
    ASSERT_TRUE(OpenClick());
    EXPECT_TRUE(fs::is_directory(chosen));
    EXPECT_EQ(ProjectPath, chosen + "/");
    EXPECT_EQ(window_.fields[0], "");
    EXPECT_EQ(window_.filterOrderText, "10");
    EXPECT_EQ(window_.taps, 65536);
}

TEST_F(OpenProjectTest, CancelAndFailuresLeaveTheWindowAsItWas) {
    const std::string tarnIni = Get(TarnIni());
    auto expectUnchanged = [&] {
        EXPECT_EQ(ProjectPath, DefaultProject());
        EXPECT_EQ(window_.caption, "Tarn - Project: " + DefaultProject());
        EXPECT_EQ(window_.fields[0], "120");
        EXPECT_EQ(window_.filterOrderText, "7");
        EXPECT_EQ(window_.taps, 1024);
        EXPECT_EQ(Get(TarnIni()), tarnIni);
    };
    ASSERT_TRUE(OpenClick()); // cancelled
    expectUnchanged();

    window_.chooserAnswers.push_back(std::string());
    EXPECT_FALSE(OpenClick());
    expectUnchanged();

    // A recent project that has gone since.
    EXPECT_FALSE(Open(root_ + "/gone/"));
    ASSERT_EQ(window_.errors.size(), 2u);
    EXPECT_EQ(window_.errors[0], "Unable to create directory.");
    EXPECT_EQ(window_.errors[1], "The project directory " + root_ + "/gone/ does not exist.");
    expectUnchanged();
}

TEST_F(OpenProjectTest, AnUnwritableTarnIniStillOpensTheProject) {
    const std::string dir = MakeProject("proj", "Frequency1=999\r\n");
    MakeReadOnly(TarnIni());
    EXPECT_FALSE(Open(dir));
    ASSERT_EQ(window_.errors.size(), 1u);
    EXPECT_EQ(window_.errors[0], "In " + TarnIni() + " kann nicht geschrieben werden.");
    EXPECT_EQ(ProjectPath, dir);
    EXPECT_EQ(window_.caption, "Tarn - Project: " + dir);
    EXPECT_EQ(window_.fields[0], "999");
    EXPECT_EQ(Get(TarnIni()), StoredDefault());
}

TEST_F(SettingsTest, RecentProjectsAreFiveDistinctDirectoriesMostRecentFirst) {
    HeadlessWindow w;
    ASSERT_TRUE(Load(w));
    EXPECT_TRUE(RecentProjects().empty());
    const auto p = [this](int i) { return root_ + "/p" + std::to_string(i) + "/"; };
    RememberProjects(p(1), DefaultProject());
    RememberProjects(p(2), p(1));
    // Named without the separator, a directory is still the same project.
    RememberProjects(root_ + "/p1", p(2));
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{p(1), p(2), DefaultProject()}));
    for (int i = 3; i <= 6; ++i)
        RememberProjects(p(i), p(i - 1));
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{p(6), p(5), p(4), p(3), p(2)}));
    // A project that has gone leaves the list; one not in it changes nothing.
    ForgetProject(root_ + "/p4");
    ForgetProject(root_ + "/p9/");
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{p(6), p(5), p(3), p(2)}));
    EXPECT_EQ(IniFile(TarnIni()).ReadString("Recent", "Project5", "?"), "");
    // The original key is left as it was.
    EXPECT_EQ(IniFile(TarnIni()).ReadString("Project", "ProjectDir", ""), DefaultProject());

    // A hand-edited list: blanks and repeats are skipped, and the keys beyond a shorter list
    // are emptied.
    Put(TarnIni(), "[Project]\nProjectDir=" + DefaultProject() +
                       "\n[Recent]\nProject1=\nProject2=/a\nProject3=/a/\nProject5=/b/\n");
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{"/a/", "/b/"}));
    RememberProjects("/a/", "");
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{"/a/", "/b/"}));
    EXPECT_EQ(IniFile(TarnIni()).ReadString("Recent", "Project3", "?"), "");
    EXPECT_EQ(IniFile(TarnIni()).ReadString("Recent", "Project4", "?"), "?");
}

// What the window says about the fields and the latency as the user types.
TEST(DesignTextsTest, EachUsableFieldNamesTheBandsItSeparates) {
    struct Case {
        std::array<std::string, 4> fields;
        int ways;
        std::array<std::string, 4> boundaries;
    };
    const Case cases[] = {
        {{"", "", "", ""}, 1, {"", "", "", ""}},
        {{"500", "", "", ""}, 2, {"Low | High", "", "", ""}},
        {{"500", "4000", "", ""}, 3, {"Low | Mid", "Mid | High", "", ""}},
        {{"80", "500", "3000", ""}, 4, {"Sub | Low", "Low | Mid", "Mid | High", ""}},
        {{"80", "500", "3000", "8000"},
         5,
         {"Sub | Low", "Low | LowMid", "LowMid | Mid", "Mid | High"}},
        // The first unusable field ends the list, as in a run.
        {{"80", "abc", "3000", ""}, 2, {"Low | High", "", "", ""}},
        {{"-5", "500", "", ""}, 1, {"", "", "", ""}},
        // A number too large for a run ends it with an error; here it takes no part.
        {{"80", "1e39", "", ""}, 2, {"Low | High", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fields[0] + "," + c.fields[1] + "," + c.fields[2] + "," + c.fields[3]);
        const int ways = WaysOfFields(c.fields);
        EXPECT_EQ(ways, c.ways);
        for (int field = 1; field <= 4; ++field)
            EXPECT_EQ(FieldBoundary(ways, field), c.boundaries[static_cast<std::size_t>(field - 1)])
                << field;
    }
}

TEST(DesignTextsTest, LatencyIsHalfTheTapsForLinearPhaseAndNoneForMinimumPhase) {
    struct Case {
        bool minimumPhase;
        int taps;
        int rate;
        const char* text;
    };
    const Case cases[] = {
        {true, 65536, 44100, "0 ms"},
        {true, 8192, AllRates, "0 ms"},
        {false, 65536, 44100, "743.0 ms"},
        {false, 65536, 48000, "682.7 ms"},
        {false, 8192, 48000, "85.3 ms"},
        {false, 6144, 192000, "16.0 ms"},
        // An odd count peaks at the tap below its middle.
        {false, 257, 48000, "2.7 ms"},
        {false, 65536, AllRates, "170.7 to 743.0 ms"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LatencyText(c.minimumPhase, c.taps, c.rate), c.text)
            << c.minimumPhase << " " << c.taps << " " << c.rate;
    EXPECT_EQ(RunSummary(10, "/p/", "0 ms"), "10 files written to /p/, latency 0 ms");
    EXPECT_EQ(RunSummary(1, "/p/", "0 ms"), "1 file written to /p/, latency 0 ms");
}

TEST(ProjectSettingsTest, StoresEveryKeyInItsOrderAndReadsBackTheDesign) {
    test::TempDir dir;
    IniFile file(dir.Prefix() + "TarnProject.ini");
    ProjectSettings design;
    design.frequencies = {"80", "", "1,5e3", "x"};
    design.filterOrder = 7;
    design.ways = 2;
    test::WriteText(dir.Path() / "TarnProject.ini", design.StoredText(file));
    EXPECT_EQ(test::ReadText(dir.Path() / "TarnProject.ini"),
              "[Crossover]\r\nFrequency1=80\r\nFrequency2=\r\nFrequency3=1,5e3\r\n"
              "Frequency4=x\r\nFilterOrder=7\r\nX-way-system=2\r\n");
    const ProjectSettings loaded = ProjectSettings::Load(file);
    EXPECT_EQ(loaded.frequencies, design.frequencies);
    EXPECT_EQ(loaded.filterOrder, 7);
    EXPECT_EQ(loaded.ways, ProjectSettings{}.ways); // written for the user only

    // Missing and unreadable keys keep their defaults.
    test::WriteText(dir.Path() / "TarnProject.ini", "[Crossover]\nFrequency2=500\nFilterOrder=y\n");
    const ProjectSettings partial = ProjectSettings::Load(file);
    EXPECT_EQ(partial.frequencies, (std::array<std::string, 4>{"", "500", "", ""}));
    EXPECT_EQ(partial.filterOrder, 10);
}

TEST(ProjectSettingsTest, NewKeysAppearOnlyOnceTheyLeaveTheirDefaults) {
    test::TempDir dir;
    IniFile file(dir.Prefix() + "TarnProject.ini");
    const std::string partsOnly = "[Crossover]\r\nFrequency1=80\r\nFrequency2=\r\nFrequency3=\r\n"
                                  "Frequency4=\r\nFilterOrder=10\r\nX-way-system=2\r\n";
    ProjectSettings design;
    design.frequencies = {"80", "", "", ""};
    design.ways = 2;
    test::WriteText(dir.Path() / "TarnProject.ini", design.StoredText(file));
    EXPECT_EQ(test::ReadText(dir.Path() / "TarnProject.ini"), partsOnly);

    // Every new key away from its default, then read back.
    design.sampleRate = AllRates;
    design.minimumPhase = false;
    design.precision = 32;
    design.format = FileFormat::Wav;
    design.alignment = Alignment::LinkwitzRiley;
    design.taps = 6144;
    design.trims["High"] = {-6.5, 0.125, true};
    design.trims["Full"] = {0.0, 0.0, true};
    test::WriteText(dir.Path() / "TarnProject.ini", design.StoredText(file));
    const std::string all = test::ReadText(dir.Path() / "TarnProject.ini");
    EXPECT_EQ(all, partsOnly +
                       "SampleRate=all\r\nMinimumPhase=0\r\nPrecision=32\r\nFormat=wav\r\n"
                       "Alignment=Linkwitz-Riley\r\nTaps=6144\r\n[Bands]\r\nFullInvert=1\r\n"
                       "HighLevel=-6.5\r\nHighDelay=0.125\r\nHighInvert=1\r\n");
    const ProjectSettings loaded = ProjectSettings::Load(file);
    EXPECT_EQ(loaded.sampleRate, AllRates);
    EXPECT_FALSE(loaded.minimumPhase);
    EXPECT_EQ(loaded.precision, 32);
    EXPECT_EQ(loaded.format, FileFormat::Wav);
    EXPECT_EQ(loaded.alignment, Alignment::LinkwitzRiley);
    EXPECT_EQ(loaded.taps, 6144);
    EXPECT_EQ(loaded.TrimOf("High").levelDb, -6.5);
    EXPECT_EQ(loaded.TrimOf("High").delayMs, 0.125);
    EXPECT_TRUE(loaded.TrimOf("High").invert);
    EXPECT_TRUE(loaded.TrimOf("").invert);
    EXPECT_TRUE(loaded.TrimOf("Mid").IsNeutral());

    // Back at the defaults, keys the file holds are rewritten rather than left stale.
    ProjectSettings plain;
    plain.frequencies = design.frequencies;
    plain.ways = 2;
    test::WriteText(dir.Path() / "TarnProject.ini", plain.StoredText(file));
    const ProjectSettings reloaded = ProjectSettings::Load(file);
    EXPECT_EQ(reloaded.sampleRate, 44100);
    EXPECT_EQ(reloaded.alignment, Alignment::Tarn);
    EXPECT_TRUE(reloaded.TrimOf("High").IsNeutral());
    EXPECT_NE(test::ReadText(dir.Path() / "TarnProject.ini").find("SampleRate=44100"),
              std::string::npos);

    // Values that do not read keep their defaults.
    test::WriteText(dir.Path() / "TarnProject.ini",
                    "[Crossover]\nSampleRate=22050\nFormat=flac\nAlignment=Bessel\n"
                    "[Bands]\nSubLevel=loud\nSubDelay=1e400\n");
    const ProjectSettings odd = ProjectSettings::Load(file);
    EXPECT_EQ(odd.sampleRate, 44100);
    EXPECT_EQ(odd.format, FileFormat::Raw);
    EXPECT_EQ(odd.alignment, Alignment::Tarn);
    EXPECT_TRUE(odd.TrimOf("Sub").IsNeutral());
}

TEST(ExecutableDirectoryTest, IsTheDirectoryOfThisExecutable) {
    const std::string dir = ExecutableDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), PathSeparator);
    EXPECT_TRUE(fs::path(dir).is_absolute());
    EXPECT_TRUE(fs::is_regular_file(dir + "test_settings"));
    // Not the working directory.
    const fs::path cwd = fs::current_path();
    fs::current_path(fs::temp_directory_path());
    EXPECT_EQ(ExecutableDirectory(), dir);
    fs::current_path(cwd);
}

TEST(SettingsDirectoryTest, BesideTheExecutableWhenThisUserCanUseTheSettingsThere) {
    const char* none = nullptr;
    struct Case {
        const char* what;
        SettingsBeside beside; // has Tarn.ini, it writable, its project writable, dir writable
        const char* exeDir;
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"a build tree or a portable copy",
         {false, false, false, true},
         "/opt/tarn/",
         "/cfg",
         "/home/u",
         "/opt/tarn/"},
        {"a read-only copy given its settings",
         {true, true, true, false},
         "/opt/tarn/",
         "/cfg",
         "/home/u",
         "/opt/tarn/"},
        {"another user's Tarn.ini",
         {true, false, true, true},
         "/opt/tarn/",
         "/cfg",
         "/home/u",
         "/cfg/tarn/"},
        {"a project this user cannot write",
         {true, true, false, true},
         "/opt/tarn/",
         none,
         "/home/u",
         "/home/u/.config/tarn/"},
        {"an installed program",
         {false, false, false, false},
         "/usr/bin/",
         "/cfg/",
         "/home/u",
         "/cfg/tarn/"},
        {"a relative XDG_CONFIG_HOME is ignored",
         {false, false, false, false},
         "/usr/bin/",
         "cfg",
         "/home/u",
         "/home/u/.config/tarn/"},
        {"nowhere better", {false, false, false, false}, "/usr/bin/", "", none, "/usr/bin/"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SettingsDirectory(c.exeDir, c.beside, c.xdg, c.home), c.expected) << c.what;
}

} // namespace
} // namespace tarn
