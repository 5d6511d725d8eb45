// One press of "Calc Crossover", end to end against a headless window: files, settings,
// fields, the window's busy and idle states, and the runs that end in an error.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/AtomicFile.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "spectral/FastFourier.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

class Driver : public ::testing::Test {
  protected:
    void SetUp() override {
        window.minimumPhase = false;
        window.cursor = 7; // whatever the application had before the run
        ProjectPath = dir.Prefix();
        DoublePrecision = true;
    }

    // Runs the calculation as the window's handler does; returns the error box texts.
    std::vector<std::string> Press() {
        RunHandler([] { XOButtonClick(); });
        return window.errors;
    }

    std::string Stored(const std::string& key) {
        return IniFile(dir.Prefix() + "TarnProject.ini").ReadString("Crossover", key, "<none>");
    }

    void ExpectIdle() {
        EXPECT_EQ(window.cursor, 7);
        EXPECT_FALSE(window.timerEnabled);
        EXPECT_EQ(window.progress, 0);
        EXPECT_FALSE(CalculationRunning());
        EXPECT_TRUE(SpecRe.empty());
    }

    test::TempDir dir;
    HeadlessWindow window;
    ScopedWindow scoped{window};
};

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

TEST_F(Driver, EmptyFieldsGiveAOneWayUnitImpulse) {
    window.filterOrderText = "7";
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(test::FileNames(dir.Path()), Sorted({"TarnProject.ini", "XOL44.dbl", "XOR44.dbl"}));
    for (const char* name : {"XOL44.dbl", "XOR44.dbl"}) {
        const auto taps = test::ReadDoubles(dir.Path() / name);
        ASSERT_EQ(taps.size(), 65536u);
        EXPECT_EQ(taps[0], 1.0);
        for (std::size_t i = 1; i < taps.size(); ++i)
            ASSERT_EQ(taps[i], 0.0) << i;
    }
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 1-way XO done"});
    EXPECT_EQ(Stored("X-way-system"), "1");
    EXPECT_EQ(Stored("FilterOrder"), "7");
    ExpectIdle();
}

TEST_F(Driver, FirstUnusableFieldDecidesTheWaysAndTheRestIsEmptied) {
    window.SetFields("500", "", "2000", "8000");
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(test::FileNames(dir.Path()),
              Sorted({"TarnProject.ini", "XOLowL44.dbl", "XOLowR44.dbl", "XOHighL44.dbl",
                      "XOHighR44.dbl"}));
    EXPECT_EQ(window.fields[0], "500");
    for (int i = 1; i < 4; ++i)
        EXPECT_EQ(window.fields[i], "");
    // The texts stay stored, to reappear at the next start.
    EXPECT_EQ(Stored("Frequency2"), "");
    EXPECT_EQ(Stored("Frequency3"), "2000");
    EXPECT_EQ(Stored("Frequency4"), "8000");
    EXPECT_EQ(Stored("X-way-system"), "2");
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 2-way XO done"});

    for (const char* unusable : {"0", "-5", "abc", "80 "}) {
        window.messages.clear();
        window.SetFields("500", "1000", unusable, "8000");
        Press();
        EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 3-way XO done"})
            << unusable;
        EXPECT_EQ(window.fields[2], "") << unusable;
        EXPECT_EQ(window.fields[1], "1000");
    }
}

TEST_F(Driver, BandTableForEveryNumberOfWays) {
    const std::map<int, std::vector<std::string>> bands = {
        {2, {"Low", "High"}},
        {3, {"Low", "Mid", "High"}},
        {4, {"Sub", "Low", "Mid", "High"}},
        {5, {"Sub", "Low", "LowMid", "Mid", "High"}}};
    const std::vector<std::string> texts = {"100", "800", "2500", "9000"};
    for (const auto& [ways, words] : bands) {
        window.filesWritten.clear();
        window.messages.clear();
        window.SetFields(texts[0], ways > 2 ? texts[1] : "", ways > 3 ? texts[2] : "",
                         ways > 4 ? texts[3] : "");
        Press();
        std::vector<std::string> expected = {"TarnProject.ini"};
        std::vector<std::string> order;
        for (const auto& word : words) {
            expected.push_back("XO" + word + "L44.dbl");
            expected.push_back("XO" + word + "R44.dbl");
            order.push_back(dir.Prefix() + "XO" + word + "L44.dbl");
            order.push_back(dir.Prefix() + "XO" + word + "R44.dbl");
        }
        // Fewer ways than the run before: the earlier bands are gone.
        EXPECT_EQ(test::FileNames(dir.Path()), Sorted(expected)) << ways;
        EXPECT_EQ(window.filesWritten, order) << ways;
        EXPECT_EQ(window.messages.at(0), "Calculation " + std::to_string(ways) + "-way XO done");
    }
}

TEST_F(Driver, BandsAreTheDesignsOfTheirEdgesAndLeftEqualsRight) {
    window.SetFields("100", "800", "2500", "9000");
    window.filterOrderText = "6";
    Press();
    SamplePeriod = 1.0 / 44100;
    AllocSpectrum(65536);
    auto expectBand = [&](const std::string& word) {
        const auto left = test::ReadBytes(dir.Path() / ("XO" + word + "L44.dbl"));
        EXPECT_EQ(left, test::ReadBytes(dir.Path() / ("XO" + word + "R44.dbl"))) << word;
        const auto taps = test::ReadDoubles(dir.Path() / ("XO" + word + "L44.dbl"));
        for (std::size_t i = 0; i < taps.size(); ++i)
            ASSERT_EQ(taps[i], SpecRe[i]) << word << " " << i;
    };
    DesignLowPass(6, 100);
    expectBand("Sub");
    DesignBandPass(6, 100, 800);
    expectBand("Low");
    DesignBandPass(6, 800, 2500);
    expectBand("LowMid");
    DesignBandPass(6, 2500, 9000);
    expectBand("Mid");
    DesignHighPass(6, 9000);
    expectBand("High");
    FreeSpectrum();
}

TEST_F(Driver, FieldTextsAreStoredAsTypedAndReadAsNumbers) {
    window.SetFields("1,5", "abc", "", "");
    window.filterOrderText = "";
    Press();
    // An empty spin edit reads as 1; the comma is a decimal sign.
    EXPECT_EQ(Stored("FilterOrder"), "1");
    EXPECT_EQ(Stored("Frequency1"), "1,5");
    EXPECT_EQ(Stored("Frequency2"), "abc");
    EXPECT_EQ(window.messages.at(0), "Calculation 2-way XO done");
    AllocSpectrum(65536);
    SamplePeriod = 1.0 / 44100;
    DesignLowPass(1, 1.5);
    const auto taps = test::ReadDoubles(dir.Path() / "XOLowL44.dbl");
    for (std::size_t i = 0; i < taps.size(); i += 101)
        ASSERT_EQ(taps[i], SpecRe[i]) << i;
    FreeSpectrum();
}

TEST_F(Driver, RateAndPrecisionChooseNamesAndFormats) {
    window.radio48 = true;
    DoublePrecision = false;
    window.SetFields("500", "", "", "");
    Press();
    EXPECT_EQ(SamplePeriod, 1.0 / 48000.0);
    EXPECT_EQ(RateTag, "48");
    EXPECT_EQ(test::FileNames(dir.Path()),
              Sorted({"TarnProject.ini", "XOLowL48.pcm", "XOLowR48.pcm", "XOHighL48.pcm",
                      "XOHighR48.pcm"}));
    EXPECT_EQ(fs::file_size(dir.Path() / "XOLowL48.pcm"), 262144u);

    // A 44100 Hz run afterwards removes the 48000 Hz files too.
    window.radio48 = false;
    DoublePrecision = true;
    Press();
    EXPECT_EQ(test::FileNames(dir.Path()),
              Sorted({"TarnProject.ini", "XOLowL44.dbl", "XOLowR44.dbl", "XOHighL44.dbl",
                      "XOHighR44.dbl"}));
}

TEST_F(Driver, TheWindowIsBusyDuringTheRunAndShowsFullProgressWithTheMessage) {
    const test::CalculationThreadsFor oneThread(1); // counts the pumps of every band
    window.SetFields("500", "", "", "");
    std::vector<std::pair<int, bool>> duringRun;
    window.onPump = [&] { duringRun.emplace_back(window.cursor, window.timerEnabled); };
    int progressAtMessage = -1;
    int cursorAtMessage = -1;
    bool runningAtMessage = false;
    window.onMessage = [&](const std::string&) {
        progressAtMessage = window.progress;
        cursorAtMessage = window.cursor;
        runningAtMessage = CalculationRunning();
    };
    window.progress = 40; // a run does not reset the bar when it starts
    Press();
    ASSERT_GE(duringRun.size(), 7u); // once by the driver, three times per inverse transform
    EXPECT_EQ(duringRun.front(), std::make_pair(1, false)); // busy, timer not yet started
    for (std::size_t i = 1; i < duringRun.size(); ++i)
        EXPECT_EQ(duringRun[i], std::make_pair(1, true));
    EXPECT_EQ(progressAtMessage, 100);
    EXPECT_EQ(cursorAtMessage, 7);
    EXPECT_TRUE(runningAtMessage);
    ExpectIdle();
}

TEST_F(Driver, ASecondPressDuringARunDoesNothing) {
    window.SetFields("500", "", "", "");
    int nested = 0;
    bool nestedResult = true;
    window.onPump = [&] {
        if (nested++ == 2) {
            window.fields[0] = "";
            nestedResult = XOButtonClick();
            window.fields[0] = "500";
        }
    };
    Press();
    EXPECT_FALSE(nestedResult);
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 2-way XO done"});
    EXPECT_FALSE(fs::exists(dir.Path() / "XOL44.dbl"));
    EXPECT_TRUE(fs::exists(dir.Path() / "XOHighR44.dbl"));
}

TEST_F(Driver, OverflowingTextEndsTheRunBeforeAnythingIsStored) {
    test::WriteText(dir.Path() / "XOLowL44.dbl", "stale");
    window.SetFields("500", "1e39", "", "");
    EXPECT_EQ(Press(), std::vector<std::string>{"Floating point overflow."});
    EXPECT_FALSE(fs::exists(dir.Path() / "TarnProject.ini"));
    EXPECT_EQ(test::ReadText(dir.Path() / "XOLowL44.dbl"), "stale"); // nothing was touched
    EXPECT_EQ(window.fields[1], "1e39");
    EXPECT_TRUE(window.messages.empty());
    ExpectIdle();
}

TEST_F(Driver, MissingProjectDirectoryFailsAtTheFirstSettingsWrite) {
    ProjectPath = dir.Prefix() + "gone" + PathSeparator;
    window.SetFields("500", "", "", "");
    EXPECT_EQ(Press(), std::vector<std::string>{"In " + ProjectPath +
                                                "TarnProject.ini kann nicht geschrieben werden."});
    EXPECT_EQ(window.fields[1], "");
    EXPECT_EQ(window.fields[0], "500");
    EXPECT_FALSE(fs::exists(dir.Path() / "gone"));
    ExpectIdle();
}

TEST_F(Driver, ReadOnlyCoefficientFileEndsTheRunWithoutPartialFiles) {
    window.SetFields("500", "2000", "", "");
    const auto blocked = dir.Path() / "XOMidR44.dbl";
    test::WriteText(blocked, "keep");
    fs::permissions(blocked, fs::perms::owner_read);
    EXPECT_EQ(Press(), std::vector<std::string>{"File access denied."});
    ExpectIdle();
    // The run ends before its commit: nothing else appears, no field is emptied.
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"XOMidR44.dbl"});
    EXPECT_TRUE(test::ReadText(blocked) == "keep"); // never print a coefficient file
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(window.filesWritten.empty());

    // The next run starts afresh.
    fs::permissions(blocked, fs::perms::owner_all);
    window.errors.clear();
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 3-way XO done"});
    EXPECT_EQ(fs::file_size(blocked), 524288u);
}

// ---------------------------------------------------------------------------------------
// Bands computed on several threads

// What one run leaves: every file of its project, and everything the window was told.
struct Outcome {
    std::map<std::string, std::vector<unsigned char>> files;
    std::vector<std::string> messages, warnings, errors;
    bool operator==(const Outcome&) const = default;
};

class Threads : public Driver {
  protected:
    // A run of the design `setUp` gives the window, on `threads` threads, in a fresh project.
    Outcome RunOn(int threads, const std::function<void(HeadlessWindow&)>& setUp) {
        const test::CalculationThreadsFor use(threads);
        test::TempDir project;
        ProjectPath = project.Prefix();
        HeadlessWindow w;
        setUp(w);
        {
            ScopedWindow scopedWindow(w);
            RunHandler([] { XOButtonClick(); });
        }
        return {test::Contents(project.Path()), w.messages, w.warnings, w.errors};
    }
};

TEST_F(Threads, FilesAndWarningsDoNotDependOnTheNumberOfThreads) {
    struct Case {
        const char* what;
        std::function<void(HeadlessWindow&)> setUp;
    };
    const std::vector<Case> cases = {
        {"five-way minimum phase",
         [](HeadlessWindow& w) {
             w.SetFields("80", "500", "3000", "8000");
             w.radio48 = true;
         }},
        {"every rate, WAV, linear, trimmed",
         [](HeadlessWindow& w) {
             w.SetFields("80", "500", "3000", "8000");
             w.minimumPhase = false;
             w.rate = AllRates;
             w.format = FileFormat::Wav;
             w.trims["High"] = {-6.0, 0.1, false};
             w.trims["Mid"] = {0.0, 0.0, true};
         }},
        {"Linkwitz-Riley, too few taps for it",
         [](HeadlessWindow& w) {
             w.SetFields("60", "700", "4000", "");
             w.rate = 96000;
             w.alignment = Alignment::LinkwitzRiley;
             w.filterOrderText = "8";
             w.taps = 4096;
         }},
        {"shortened minimum phase that warns",
         [](HeadlessWindow& w) {
             w.SetFields("80", "500", "3000", "");
             w.taps = 2048;
             w.trims["Sub"] = {3.0, 0.0, false};
         }},
        {"a delay the taps cannot hold",
         [](HeadlessWindow& w) {
             w.SetFields("80", "500", "3000", "8000");
             w.minimumPhase = false;
             w.taps = 1024;
             w.trims["Mid"] = {0.0, 19.0, false};
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome one = RunOn(1, c.setUp);
        EXPECT_FALSE(one.messages.empty() && one.errors.empty());
        for (const int threads : {2, 4}) {
            const Outcome more = RunOn(threads, c.setUp);
            EXPECT_TRUE(more == one) << threads << " threads";
        }
    }
}

TEST_F(Threads, OnlyTheWindowsThreadPumpsAndTheRunKeepsItsPhase) {
    const auto design = [](HeadlessWindow& w) {
        w.SetFields("200", "1000", "5000", "");
        w.minimumPhase = true;
    };
    const Outcome expected = RunOn(1, design);

    const std::thread::id windowThread = std::this_thread::get_id();
    bool pumpedElsewhere = false;
    long pumps = 0;
    const Outcome outcome = RunOn(2, [&](HeadlessWindow& w) {
        design(w);
        // Unticked once the run has read it (at its first pump): every band is still minimum
        // phase, as the run chose and stored.
        w.onPump = [&w, &pumps, &pumpedElsewhere, windowThread] {
            if (++pumps > 1) w.minimumPhase = false;
            if (std::this_thread::get_id() != windowThread) pumpedElsewhere = true;
        };
    });
    EXPECT_GT(pumps, 2);
    EXPECT_FALSE(pumpedElsewhere);
    EXPECT_TRUE(outcome == expected);
}

// ---------------------------------------------------------------------------------------
// A run is all or nothing

class AllOrNothing : public Driver {
  protected:
    // A three-way design in the project: every file of it, for the comparison after a run
    // that must not change it.
    std::map<std::string, std::vector<unsigned char>> OldDesign() {
        window.SetFields("800", "3000", "", "");
        EXPECT_TRUE(Press().empty());
        window.errors.clear();
        window.messages.clear();
        window.filesWritten.clear();
        return test::Contents(dir.Path());
    }
    void ExpectUnchanged(const std::map<std::string, std::vector<unsigned char>>& old) {
        EXPECT_EQ(test::Contents(dir.Path()), old);
        EXPECT_TRUE(window.filesWritten.empty());
        EXPECT_TRUE(window.messages.empty());
        ExpectIdle();
    }
};

TEST_F(AllOrNothing, FrequenciesMustRiseAndStayBelowHalfTheSampleRate) {
    const auto old = OldDesign();
    struct Case {
        std::vector<std::string> fields;
        bool rate48;
        std::string error; // empty: the run goes ahead
    };
    const std::vector<Case> cases = {
        {{"3000", "500", "80", ""},
         false,
         "Frequency 2 (500 Hz) must be above frequency 1 (3000 Hz)."},
        {{"500", "500", "", ""}, false, "Frequency 2 (500 Hz) must be above frequency 1 (500 Hz)."},
        {{"80", "500", "3000", "30000"},
         false,
         "Frequency 4 (30000 Hz) must be below half the sample rate (22050 Hz)."},
        {{"1e9", "", "", ""},
         false,
         "Frequency 1 (1e+09 Hz) must be below half the sample rate (22050 Hz)."},
        {{"100,5", "24000", "", ""},
         true,
         "Frequency 2 (24000 Hz) must be below half the sample rate (24000 Hz)."},
        {{"80", "2,5e3", "2000", ""},
         false,
         "Frequency 3 (2000 Hz) must be above frequency 2 (2500 Hz)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        window.SetFields(c.fields[0], c.fields[1], c.fields[2], c.fields[3]);
        window.radio48 = c.rate48;
        EXPECT_EQ(Press(), std::vector<std::string>{c.error});
        window.errors.clear();
        EXPECT_EQ(window.fields[3], c.fields[3]); // the fields keep their texts
        ExpectUnchanged(old);
    }
    // Fields past the first unusable one take no part, and the top of the range is usable.
    window.radio48 = false;
    window.SetFields("22049", "", "100", "");
    EXPECT_TRUE(Press().empty());
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 2-way XO done"});
}

TEST_F(AllOrNothing, ABusyProjectIsLeftAloneOrWaitedFor) {
    const auto old = OldDesign();
    auto other = std::make_unique<Directory>(dir.Path()); // another process's run
    ASSERT_EQ(other->TryLock(), Directory::Lock::Held);
    window.SetFields("500", "", "", "");
    const std::string busy =
        "Project " + dir.Path().string() + " is busy (another calculation is running).";
    EXPECT_EQ(Press(), std::vector<std::string>{busy});
    window.errors.clear();
    EXPECT_EQ(window.fields[0], "500");
    ExpectUnchanged(old);

    // Waited for, a run that ends in time is no obstacle.
    window.busyWait = std::chrono::seconds(10);
    std::thread ends([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        other.reset();
    });
    EXPECT_TRUE(Press().empty());
    ends.join();
    EXPECT_EQ(window.messages, std::vector<std::string>{"Calculation 2-way XO done"});
}

TEST_F(AllOrNothing, AStoppedRunChangesNothing) {
    const auto old = OldDesign();
    window.SetFields("100", "800", "2500", "9000");
    int pumps = 0;
    window.onPump = [&] { window.interrupted = ++pumps > 2; };
    EXPECT_EQ(Press(), std::vector<std::string>{"Calculation interrupted."});
    window.errors.clear();
    EXPECT_EQ(window.fields[3], "9000");
    ExpectUnchanged(old);
}

TEST_F(AllOrNothing, TemporaryFilesOfDeadRunsGoButNoOthers) {
    const std::vector<std::string> dead = {".tarn-XOLowL44.dbl-0123456789ab.tmp",
                                           ".tarn-TarnProject.ini-0123456789ab.tmp",
                                           ".tarn-.tarn-commit-0123456789ab.tmp"};
    const std::vector<std::string> others = {".tarn-notes.txt-0123456789ab.tmp",
                                             ".tarn-Tarn.ini-0123456789ab.tmp", "XOLowL44.tmp"};
    for (const auto& name : dead)
        test::WriteText(dir.Path() / name, "x");
    for (const auto& name : others)
        test::WriteText(dir.Path() / name, "x");
    window.SetFields("500", "", "", "");
    EXPECT_TRUE(Press().empty());
    for (const auto& name : dead)
        EXPECT_FALSE(fs::exists(dir.Path() / name)) << name;
    for (const auto& name : others)
        EXPECT_TRUE(fs::exists(dir.Path() / name)) << name;
}

TEST_F(AllOrNothing, ALinkedSettingsFileIsReplacedNotFollowed) {
    test::TempDir elsewhere;
    test::WriteText(elsewhere.Path() / "shared.ini", "[Crossover]\r\nFrequency1=70\r\n");
    fs::create_symlink(elsewhere.Path() / "shared.ini", dir.Path() / "TarnProject.ini");
    window.SetFields("500", "", "", "");
    EXPECT_TRUE(Press().empty());
    EXPECT_FALSE(fs::is_symlink(dir.Path() / "TarnProject.ini"));
    EXPECT_EQ(Stored("Frequency1"), "500");
    EXPECT_EQ(test::ReadText(elsewhere.Path() / "shared.ini"), "[Crossover]\r\nFrequency1=70\r\n");
}

TEST(DriverRules, NumberOfWays) {
    EXPECT_EQ(NumberOfWays(-1, -1, -1, -1), 1);
    EXPECT_EQ(NumberOfWays(500, -1, 2000, 8000), 2);
    EXPECT_EQ(NumberOfWays(500, 2000, -1, -1), 3);
    EXPECT_EQ(NumberOfWays(500, 2000, 3000, -1), 4);
    EXPECT_EQ(NumberOfWays(8000, 3000, 500, 80), 5);
    EXPECT_EQ(NumberOfWays(-1, 2000, 3000, 4000), 1);
}

TEST(DriverRules, ErrorBoxAddsAFullStopAfterLettersOnly) {
    EXPECT_EQ(ErrorBoxText("Disk full"), "Disk full.");
    EXPECT_EQ(ErrorBoxText("Done."), "Done.");
    EXPECT_EQ(ErrorBoxText("I/O error 32"), "I/O error 32.");
    EXPECT_EQ(ErrorBoxText("Wait!"), "Wait!");
    EXPECT_EQ(ErrorBoxText("really -"), "really -");
    EXPECT_EQ(ErrorBoxText(""), "");
}

} // namespace
} // namespace tarn
