// tarn-cli as a user runs it: a separate process, its exit status, its output and its files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "project/IniFile.h"
#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

#ifndef TARN_CLI_PATH
#error "TARN_CLI_PATH must name the tarn-cli executable"
#endif

namespace tarn {
namespace {

namespace fs = std::filesystem;

using Result = test::ProcessResult;

class Cli : public ::testing::Test {
  protected:
    // Runs tarn-cli in the scratch directory with the given blank-separated arguments.
    Result Run(const std::string& arguments) {
        return test::RunWords(TARN_CLI_PATH, arguments, dir.Path());
    }

    std::string Stored(const std::string& key) {
        return IniFile(dir.Prefix() + "TarnProject.ini").ReadString("Crossover", key, "<none>");
    }

    test::TempDir dir;
};

TEST_F(Cli, FiveWayLinearDesignWritesTenFilesAndTheSettings) {
    const Result r = Run("--rate 48000 --phase linear 80 500 3000 8000");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Calculation 5-way XO done\n");
    EXPECT_EQ(r.err,
              "written: XOSubL48.dbl, XOSubR48.dbl\nwritten: XOLowL48.dbl, XOLowR48.dbl\n"
              "written: XOLowMidL48.dbl, XOLowMidR48.dbl\nwritten: XOMidL48.dbl, XOMidR48.dbl\n"
              "written: XOHighL48.dbl, XOHighR48.dbl\n");
    const auto names = test::FileNames(dir.Path());
    EXPECT_EQ(names.size(), 11u);
    for (const auto& name : names)
        if (name != "TarnProject.ini") {
            EXPECT_EQ(fs::file_size(dir.Path() / name), 524288u) << name;
        }
    EXPECT_EQ(Stored("Frequency4"), "8000");
    EXPECT_EQ(Stored("FilterOrder"), "10");
    EXPECT_EQ(Stored("X-way-system"), "5");
}

TEST_F(Cli, WithoutFrequenciesTheStoredDesignIsRecomputed) {
    test::WriteText(dir.Path() / "TarnProject.ini",
                    "[Crossover]\r\nFrequency1=1,5e2\r\nFrequency2=\r\nFrequency3=900\r\n"
                    "FilterOrder=77\r\n");
    const Result r = Run("--phase linear --precision 32");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Calculation 2-way XO done\n");
    EXPECT_EQ(Stored("Frequency1"), "1,5e2");
    EXPECT_EQ(Stored("Frequency3"), "900"); // kept, as the window keeps what it showed
    EXPECT_EQ(Stored("FilterOrder"), "50"); // shown limited to the spin edit's range
    EXPECT_EQ(fs::file_size(dir.Path() / "XOHighR44.pcm"), 262144u);
}

TEST_F(Cli, WithoutAnySettingsItIsAOneWayRun) {
    const Result r = Run("--phase linear");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Calculation 1-way XO done\n");
    EXPECT_EQ(test::ReadDoubles(dir.Path() / "XOL44.dbl")[0], 1.0);
}

TEST_F(Cli, OrderTextsReadAsTheSpinEditReadsThem) {
    Run("--phase linear --order abc 500");
    EXPECT_EQ(Stored("FilterOrder"), "1");
    Run("--phase linear --order 0x20 500");
    EXPECT_EQ(Stored("FilterOrder"), "32");
    Run("--phase linear --order -4 500");
    EXPECT_EQ(Stored("FilterOrder"), "1");
}

TEST_F(Cli, ErrorsEndTheRunWithStatusOneAndTheErrorBoxText) {
    Result r = Run("--phase linear 500 1e39");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Floating point overflow.\n");
    EXPECT_EQ(r.out, "");

    r = Run("--project gone --phase linear 500");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "In " + dir.Prefix() + "gone/TarnProject.ini kann nicht geschrieben werden.\n");
    EXPECT_FALSE(fs::exists(dir.Path() / "gone"));

    test::WriteText(dir.Path() / "XOHighL44.dbl", "mine");
    fs::permissions(dir.Path() / "XOHighL44.dbl", fs::perms::owner_read);
    r = Run("--phase linear 500");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "File access denied.\n");
    EXPECT_TRUE(test::ReadText(dir.Path() / "XOHighL44.dbl") == "mine");
    EXPECT_EQ(test::FileNames(dir.Path()), std::vector<std::string>{"XOHighL44.dbl"});
}

TEST_F(Cli, StoredSettingsThatAreNotTextAreAnErrorNotAnAbort) {
    const std::string utf16("\xFF\xFE[\0C\0]\0", 8);
    test::WriteText(dir.Path() / "TarnProject.ini", utf16);
    const Result r = Run("--phase linear");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Cannot read " + dir.Prefix() + "TarnProject.ini: it is not a text file.\n");
    EXPECT_EQ(test::ReadText(dir.Path() / "TarnProject.ini"), utf16);
}

TEST_F(Cli, NoFailureAbortsTheProcess) {
    ASSERT_EQ(Run("--phase linear 80 500 3000 8000").status, 0);
    const fs::path gone = dir.Path() / "gone";
    fs::create_directory(gone);
    const auto removeWorkingDirectory = [&] { fs::remove(gone); };
    const auto closedStdout = [] {
        const int full = ::open("/dev/full", O_WRONLY);
        ::dup2(full, 1);
    };
    const auto closedStderrPipe = [] {
        int ends[2];
        if (::pipe(ends) != 0) return;
        ::close(ends[0]); // nobody reads: the first progress line raises SIGPIPE
        ::dup2(ends[1], 2);
    };
    const auto littleMemory = [] {
        const rlimit limit{20 << 20, 20 << 20};
        ::setrlimit(RLIMIT_AS, &limit);
    };
    struct Case {
        const char* what;
        std::vector<std::string> args;
        fs::path cwd;
        std::function<void()> inChild;
        int status;
    };
    std::vector<Case> cases = {
        {"empty project name", {"--project", "", "500"}, dir.Path(), {}, 1},
        {"empty project name, report", {"report", "--project", ""}, dir.Path(), {}, 1},
        {"deleted working directory", {"500"}, gone, removeWorkingDirectory, 1},
        {"deleted working directory, report", {"report"}, gone, removeWorkingDirectory, 1},
        {"report to a full disk", {"report"}, dir.Path(), closedStdout, 1},
        {"progress into a closed pipe",
         {"--phase", "linear", "80", "500"},
         dir.Path(),
         closedStderrPipe,
         0},
    };
#ifndef TARN_ADDRESS_SANITIZER
    cases.push_back({"report without memory", {"report"}, dir.Path(), littleMemory, 1});
#endif
    for (const Case& c : cases) {
        std::vector<std::string> argv{TARN_CLI_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        if (c.cwd == gone) fs::create_directory(gone);
        const Result r = test::RunProcess(argv, c.cwd, {}, c.inChild);
        EXPECT_EQ(r.signal, 0) << c.what;
        EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
        if (c.status != 0) {
            EXPECT_NE(r.err, "") << c.what;
        }
    }
    // The run whose progress went nowhere still wrote its whole set.
    EXPECT_EQ(fs::file_size(dir.Path() / "XOHighR44.dbl"), 524288u);
    EXPECT_FALSE(fs::exists(dir.Path() / "XOSubL44.dbl"));
}

TEST_F(Cli, WrongUsageIsStatusTwo) {
    for (const char* arguments :
         {"--rate 22050", "--phase mixed", "--precision 16", "1 2 3 4 5", "--unknown"}) {
        const Result r = Run(arguments);
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_NE(r.err, "") << arguments;
        EXPECT_TRUE(test::FileNames(dir.Path()).empty()) << arguments;
    }
}

} // namespace
} // namespace tarn
