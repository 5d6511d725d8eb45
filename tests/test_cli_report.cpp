// tarn-cli report as a user runs it: a separate process reading the files an earlier
// tarn-cli run wrote, its output and its exit status.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

#ifndef TARN_CLI_PATH
#error "TARN_CLI_PATH must name the tarn-cli executable"
#endif

namespace tarn {
namespace {

namespace fs = std::filesystem;

using Result = test::ProcessResult;

class Report : public ::testing::Test {
  protected:
    // Runs tarn-cli in the scratch directory with the given blank-separated arguments.
    Result Run(const std::string& arguments) {
        return test::RunWords(TARN_CLI_PATH, arguments, dir.Path());
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        for (std::size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos;
             at = end + 1)
            lines.push_back(text.substr(at, end - at));
        return lines;
    }

    test::TempDir dir;
};

TEST_F(Report, PrintsTheTableOfTheWrittenBands) {
    ASSERT_EQ(Run("--rate 48000 --phase linear 500 4000").status, 0);
    const Result r = Run("report");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 8u) << r.out;
    EXPECT_EQ(lines[0], "XO*L48.dbl in " + dir.Path().string() +
                            ": 48000 Hz, 64-bit .dbl, 65536 taps, 3 bands");
    EXPECT_EQ(lines[1], "");
    EXPECT_EQ(lines[2].rfind("File", 0), 0u);
    EXPECT_NE(lines[2].find("-3 dB low Hz"), std::string::npos);
    EXPECT_EQ(lines[3].rfind("XOLowL48.dbl ", 0), 0u);
    EXPECT_EQ(lines[4].rfind("XOMidL48.dbl ", 0), 0u);
    EXPECT_EQ(lines[5].rfind("XOHighL48.dbl ", 0), 0u);
    EXPECT_EQ(lines[6].rfind("Sum ", 0), 0u);
    for (int i = 3; i <= 6; ++i)
        EXPECT_NE(lines[i].find(" 32768   682.667"), std::string::npos) << lines[i];
    // The low band is 3.01 dB down at its corner, so 3 dB down just below it; the
    // linear-phase sum is flat.
    EXPECT_NE(lines[3].find(" 499.9 "), std::string::npos) << lines[3];
    EXPECT_NE(lines[6].find(" 0.0000 "), std::string::npos) << lines[6];
    EXPECT_EQ(lines[7], "");
}

TEST_F(Report, ProjectOptionAndTheNewestOfSeveralSets) {
    fs::create_directory(dir.Path() / "speaker");
    ASSERT_EQ(Run("--project speaker --phase linear 1000").status, 0);
    // A one-way set of another rate and precision beside them, written later (the driver
    // would have removed it; a user may copy it in).
    for (const char* side : {"L", "R"})
        fs::copy_file(dir.Path() / "speaker/XOLowL44.dbl",
                      dir.Path() / (std::string("XO") + side + "48.dbl"));
    ASSERT_EQ(Run("--project speaker --precision 32 --phase linear 1000").status, 0);
    fs::remove(dir.Path() / "speaker/TarnProject.ini"); // it says 2 ways
    for (const char* side : {"L", "R"}) {
        const std::string name = std::string("XO") + side + "48.dbl";
        fs::copy_file(dir.Path() / name, dir.Path() / "speaker" / name);
        fs::last_write_time(dir.Path() / "speaker" / name,
                            fs::file_time_type::clock::now() + std::chrono::minutes(1));
    }

    const Result r = Run("report --project speaker");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 3u) << r.out;
    EXPECT_EQ(lines[0], "XO*L48.dbl in " + (dir.Path() / "speaker").string() +
                            ": 48000 Hz, 64-bit .dbl, 65536 taps, 1 band");
    EXPECT_EQ(lines[1], "Also found: XO*L44.pcm");
    EXPECT_EQ(lines[3].rfind("File", 0), 0u);
    EXPECT_EQ(lines[4].rfind("XOL48.dbl ", 0), 0u);
    EXPECT_EQ(lines[5].rfind("Sum ", 0), 0u);
}

TEST_F(Report, NoSetOrAMalformedFileIsStatusOne) {
    Result r = Run("report");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "No coefficient files (XO<band><L|R><rate tag>.dbl, .pcm or .wav) in " +
                         dir.Path().string() + ".\n");

    r = Run("report --project missing");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, (dir.Path() / "missing").string() + " is not a directory.\n");

    ASSERT_EQ(Run("--phase linear 1000").status, 0);
    test::WriteText(dir.Path() / "XOHighL44.dbl", "short");
    r = Run("report");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "XOHighL44.dbl is not a coefficient file: 5 bytes, not a whole number of 64-bit "
              "values.\n");
}

TEST_F(Report, WrongUsageIsStatusTwoAndHelpIsZero) {
    Result r = Run("report --rate 48000");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--rate"), std::string::npos) << r.err;
    r = Run("report --help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--project"), std::string::npos) << r.out;
}

} // namespace
} // namespace tarn
