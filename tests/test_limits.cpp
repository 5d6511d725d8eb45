// Inputs of any size and shape: ten-megabyte frequency texts and settings values go through
// the parser, the driver and the settings store in time linear in their length (here: well
// within the test's timeout), and no field text, settings value, project path or
// directory name makes the program write anywhere but into the project directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "project/IniFile.h"
#include "project/Settings.h"
#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

#ifndef TARN_CLI_PATH
#error "TARN_CLI_PATH must name the tarn-cli executable"
#endif

namespace tarn {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t TenMegabytes = 10 * 1024 * 1024;

// ---------------------------------------------------------------------------------------
// Ten-megabyte texts

TEST(HugeTexts, FrequencyTextsOfTenMegabytes) {
    const std::string digits(TenMegabytes, '7');
    const std::string zeros(TenMegabytes, '0');
    EXPECT_EQ(ParseFrequency(std::string(TenMegabytes, ' ') + "500"), 500.0f);
    EXPECT_EQ(ParseFrequency(zeros + "500"), 500.0f);
    EXPECT_EQ(ParseFrequency("2000," + zeros), 2000.0f);
    EXPECT_THROW(ParseFrequency(digits), FloatOverflowError);
    EXPECT_THROW(ParseFrequency("1e" + digits), FloatOverflowError);
    EXPECT_EQ(ParseFrequency("1e-" + digits), -1.0f);
    EXPECT_EQ(ParseFrequency("0," + zeros + "3e" + std::to_string(TenMegabytes + 2)), 30.0f);
    EXPECT_EQ(ParseFrequency(std::string(TenMegabytes, ',')), -1.0f);
    EXPECT_EQ(ParseFrequency(std::string(TenMegabytes, '.')), -1.0f);
    EXPECT_EQ(ParseFrequency(std::string(TenMegabytes, '\0')), -1.0f);
    EXPECT_EQ(ParseFrequency(digits + "x"), -1.0f);
}

TEST(HugeTexts, TenMegabyteFieldsThroughTheDriverAndBack) {
    test::TempDir dir;
    ProjectPath = dir.Prefix();
    HeadlessWindow window;
    ScopedWindow scoped(window);
    window.minimumPhase = false;
    const std::string zeros(TenMegabytes, '0');
    window.fields[0] = zeros + "500";                  // 500
    window.fields[1] = "2000." + zeros;                // 2000
    window.fields[2] = std::string(TenMegabytes, 'x'); // unusable: three ways
    window.fields[3] = "8000\r\n[Crossover]\r\nFilterOrder=49" + std::string(TenMegabytes, '\n');
    window.filterOrderText = "4";
    ASSERT_TRUE(RunHandler([] { XOButtonClick(); })) << window.errors.back();
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 3-way XO done"});
    EXPECT_EQ(test::FileNames(dir.Path()).size(), 7u);

    // Stored whole, each on its one line; read back cut to 2047 characters. The line breaks
    // of the fourth text became blanks, so it could not add a key of its own.
    const IniFile ini(dir.Prefix() + "TarnProject.ini");
    EXPECT_EQ(ini.ReadString("Crossover", "Frequency1", ""), zeros.substr(0, 2047));
    EXPECT_EQ(ini.ReadString("Crossover", "Frequency3", ""), std::string(2047, 'x'));
    EXPECT_EQ(ini.ReadString("Crossover", "Frequency4", "").substr(0, 6), "8000  ");
    EXPECT_EQ(ini.ReadString("Crossover", "FilterOrder", ""), "4");
    EXPECT_EQ(ini.ReadString("Crossover", "X-way-system", ""), "3");
    EXPECT_GT(fs::file_size(dir.Path() / "TarnProject.ini"), 4 * TenMegabytes);

    // The next start shows the cut texts; nothing is lost beyond them.
    test::TempDir app;
    WindowOperations* previous = SetWindow(&window);
    IniFile(app.Prefix() + "Tarn.ini").WriteString("Project", "ProjectDir", dir.Prefix());
    HeadlessWindow restarted;
    SetWindow(&restarted);
    ASSERT_TRUE(RunHandler([&] { StartupLoad(app.Prefix()); }));
    SetWindow(previous);
    EXPECT_EQ(restarted.fields[0], zeros.substr(0, 2047));
    EXPECT_EQ(restarted.fields[1], "2000." + zeros.substr(0, 2042));
    EXPECT_EQ(restarted.filterOrderText, "4");
}

TEST(HugeTexts, TenMegabyteSettingsValuesOfEveryShape) {
    test::TempDir dir;
    IniFile ini(dir.Prefix() + "big.ini");
    std::string euros;
    for (std::size_t i = 0; i < TenMegabytes / 3; ++i)
        euros += "\xE2\x82\xAC"; // U+20AC, one byte in Windows-1252
    const std::vector<std::pair<std::string, std::string>> values = {
        {"breaks", std::string(TenMegabytes / 2, '\r') + std::string(TenMegabytes / 2, '\n')},
        {"euros", euros},
        {"invalid", std::string(TenMegabytes, '\xFF')},
        {"equals", std::string(TenMegabytes, '=')},
        {"brackets", "[" + std::string(TenMegabytes, ']')},
    };
    for (const auto& [key, value] : values)
        ini.WriteString("Big", key, value);
    ini.WriteString("Big", "after", "1");
    EXPECT_EQ(ini.ReadString("Big", "breaks", "?"), ""); // blanks only, trimmed away
    EXPECT_EQ(Utf8ToCp1252(ini.ReadString("Big", "euros", "")), std::string(2047, '\x80'));
    EXPECT_EQ(ini.ReadString("Big", "invalid", ""), std::string(2047, '?'));
    EXPECT_EQ(ini.ReadString("Big", "equals", ""), std::string(2047, '='));
    EXPECT_EQ(ini.ReadString("Big", "brackets", ""), "[" + std::string(2046, ']'));
    EXPECT_EQ(ini.ReadString("Big", "after", ""), "1");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"big.ini"});

    // A file of ten megabytes of line ends and blank lines, written into and read.
    test::WriteText(dir.Path() / "ends.ini", "[S]" + std::string(TenMegabytes / 2, '\r') +
                                                 std::string(TenMegabytes / 2, ' '));
    IniFile ends(dir.Prefix() + "ends.ini");
    ends.WriteString("S", "k", "v");
    EXPECT_EQ(ends.ReadString("S", "k", ""), "v");
}

// ---------------------------------------------------------------------------------------
// Where files go

class Containment : public ::testing::Test {
  protected:
    void SetUp() override {
        // root/app: beside the executable; root/outer/project: the project; around them a
        // sibling project with files of the same names, and settings files as decoys.
        app = root.Path() / "app";
        outer = root.Path() / "outer";
        project = outer / "project";
        sibling = outer / "sibling";
        for (const auto& d : {app, project, sibling})
            fs::create_directories(d);
        test::WriteText(sibling / "XOLowL44.dbl", "sibling's own");
        test::WriteText(sibling / "TarnProject.ini", "[Crossover]\r\nFrequency1=1\r\n");
        test::WriteText(outer / "TarnProject.ini", "[Crossover]\r\nFrequency1=2\r\n");
        savedAppDir = AppDir;
        window.minimumPhase = false;
    }
    void TearDown() override { AppDir = savedAppDir; }

    // Everything under root except the given directories.
    test::TreePicture Around(const std::vector<fs::path>& except) const {
        test::TreePicture picture = test::PictureOf(root.Path());
        std::erase_if(picture, [&](const auto& entry) {
            for (const auto& e : except) {
                const std::string rel = fs::relative(e, root.Path()).string();
                if (entry.first == rel || entry.first.starts_with(rel + "/")) return true;
            }
            return false;
        });
        return picture;
    }

    bool Press() {
        window.messages.clear();
        return RunHandler([] { XOButtonClick(); });
    }

    test::TempDir root;
    fs::path app, outer, project, sibling;
    std::string savedAppDir;
    HeadlessWindow window;
    ScopedWindow scoped{window};
};

TEST_F(Containment, FieldTextsArePlainTexts) {
    ProjectPath = project.string() + "/";
    const auto before = Around({project});
    const std::vector<std::vector<std::string>> inputs = {
        {"../sibling/XOLowL44.dbl", "/etc/passwd", "..\\..\\x", "500"},
        {"500", "\r\n[Crossover]\r\nFrequency1=../../x\r\n", "2000", ""},
        {"500", std::string("a\0/../b", 7), "%s%n", ""},
        {"500", "1000", "", std::string(TenMegabytes, '/')},
    };
    for (const auto& fields : inputs) {
        for (int i = 0; i < 4; ++i)
            window.fields[i] = fields[i];
        window.filterOrderText = "../../7";
        EXPECT_TRUE(Press()) << window.errors.back();
    }
    EXPECT_EQ(Around({project}), before);
    for (const auto& name : test::FileNames(project))
        EXPECT_TRUE(name == "TarnProject.ini" || test::IsCoefficientName(name)) << name;
}

TEST_F(Containment, ProjectPathsWithDotsAndOddNames) {
    const auto before = Around({project});
    // A path through the sibling and back is still the project.
    ProjectPath = (sibling / ".." / "project").string() + "/";
    window.fields[0] = "500";
    EXPECT_TRUE(Press());
    EXPECT_TRUE(fs::exists(project / "XOHighR44.dbl"));
    EXPECT_EQ(Around({project}), before);

    // Directory names that look like settings syntax, paths or options.
    for (const std::string name :
         {"with space", "semi;colon=eq[brackets]", "new\nline", "...", "-dash", "%n%s"}) {
        SCOPED_TRACE(name);
        const fs::path odd = outer / name;
        fs::create_directory(odd);
        const auto around = Around({odd});
        ProjectPath = odd.string() + "/";
        window.fields[0] = "500";
        EXPECT_TRUE(Press()) << window.errors.back();
        EXPECT_EQ(test::FileNames(odd).size(), 5u);
        EXPECT_EQ(Around({odd}), around);
    }
}

TEST_F(Containment, StoredProjectDirectoriesOfEveryForm) {
    // Tarn.ini's value is used as stored; every form of it still names the project.
    const std::vector<std::string> stored = {
        project.string() + "/",
        (sibling / ".." / "project").string() + "/",
        project.string(),        // no final separator: "outer/projectTarnProject.ini" would
        project.string() + "//", // be outside, so the program completes it
        (outer / "." / "project" / ".").string() + "/",
    };
    for (const auto& value : stored) {
        SCOPED_TRACE(value);
        fs::remove_all(project);
        fs::create_directory(project);
        test::WriteText(project / "TarnProject.ini",
                        "[Crossover]\r\nFrequency1=500\r\nFrequency2=../../outer\r\n");
        const auto before = Around({project, app});
        IniFile(app.string() + "/Tarn.ini").WriteString("Project", "ProjectDir", value);
        ASSERT_TRUE(RunHandler([&] { StartupLoad(app.string() + "/"); }));
        EXPECT_TRUE(Press()) << window.errors.back();
        EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 2-way XO done"});
        EXPECT_EQ(test::FileNames(project).size(), 5u);
        EXPECT_EQ(test::FileNames(app), std::vector<std::string>{"Tarn.ini"});
        EXPECT_EQ(Around({project, app}), before);
    }
}

TEST_F(Containment, SymbolicLinksUnderCoefficientNamesAreReplacedNotFollowed) {
    ProjectPath = project.string() + "/";
    fs::create_symlink(sibling / "XOLowL44.dbl", project / "XOLowL44.dbl");
    fs::create_symlink(sibling / "missing.dbl", project / "XOLowR44.dbl");
    const auto before = Around({project});
    window.fields[0] = "500";
    EXPECT_TRUE(Press()) << window.errors.back();
    EXPECT_EQ(Around({project}), before);
    EXPECT_EQ(test::ReadText(sibling / "XOLowL44.dbl"), "sibling's own");
    EXPECT_FALSE(fs::exists(sibling / "missing.dbl"));
    for (const char* name : {"XOLowL44.dbl", "XOLowR44.dbl"}) {
        EXPECT_FALSE(fs::is_symlink(project / name)) << name;
        EXPECT_EQ(fs::file_size(project / name), 524288u) << name;
    }

    // A link to a directory stands in the way like the directory itself.
    fs::remove(project / "XOHighL44.dbl");
    fs::create_symlink(sibling, project / "XOHighL44.dbl");
    EXPECT_FALSE(Press());
    EXPECT_EQ(window.errors.back(), "File access denied.");
    EXPECT_TRUE(fs::is_symlink(project / "XOHighL44.dbl"));
    EXPECT_EQ(Around({project}), before);
}

TEST_F(Containment, TarnCliArgumentsStayInTheProject) {
    const auto before = Around({project});
    const std::vector<std::vector<std::string>> runs = {
        {"--project", "../outer/sibling/../project", "../sibling", "/tmp", ""},
        {"--project=../outer/project", "--order", "../../3", "--", "--project=../outer/sibling",
         "500"},
        {"--project", "../outer/project/", "--precision", "32", "[../x,500]"},
    };
    for (const auto& arguments : runs) {
        std::vector<std::string> argv = {TARN_CLI_PATH, "--phase", "linear"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        const auto r = test::RunProcess(argv, app);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_EQ(Around({project}), before);
    EXPECT_TRUE(test::FileNames(app).empty());
    for (const auto& name : test::FileNames(project))
        EXPECT_TRUE(name == "TarnProject.ini" || test::IsCoefficientName(name)) << name;
}

} // namespace
} // namespace tarn
