// tarn-cli report as a user runs it: a separate process reading the files an earlier
// tarn-cli run wrote, its output and its exit status.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "crossover/BandTrim.h"
#include "crossover/Shorten.h"
#include "crossover/WavFile.h"
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

// ---------------------------------------------------------------------------------------
// Sets built from the files of a run: other formats, lengths and trims, and broken ones

std::string Bytes(const std::vector<double>& taps) {
    return std::string(reinterpret_cast<const char*>(taps.data()), taps.size() * sizeof(double));
}

void WriteWav(const fs::path& file, const std::vector<double>& taps, int rate,
              bool doublePrecision) {
    const std::vector<unsigned char> bytes =
        EncodeWav(taps.data(), taps.size(), rate, doublePrecision);
    test::WriteText(file, std::string(bytes.begin(), bytes.end()));
}

// The taps of a raw file of either precision.
std::vector<double> RawTaps(const fs::path& file) {
    if (file.extension() == ".dbl") return test::ReadDoubles(file);
    const std::vector<float> values = test::ReadFloats(file);
    return {values.begin(), values.end()};
}

// Every raw file of dir as a WAV of the same taps (rate in the header, the precision of
// the raw file), in place of the raw one.
void RawToWav(const fs::path& dir, int rate) {
    for (const std::string& name : test::FileNames(dir)) {
        const fs::path file = dir / name;
        if (file.extension() != ".dbl" && file.extension() != ".pcm") continue;
        fs::path wav = file;
        wav.replace_extension(".wav");
        WriteWav(wav, RawTaps(file), rate, file.extension() == ".dbl");
        fs::remove(file);
    }
}

// The line of text that starts with prefix, or "" when none does.
std::string LineStarting(const std::string& text, const std::string& prefix) {
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind(prefix, 0) == 0) return line;
    return "";
}

// The blank-separated words of a line.
std::vector<std::string> Words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// The dB figure of a "... largest deviation from flat X dB ..." line.
double DeviationDb(const std::string& line) {
    const std::string key = "largest deviation from flat ";
    const std::size_t at = line.find(key);
    return at == std::string::npos ? std::nan("") : std::stod(line.substr(at + key.size()));
}

// A report that ends by itself: SIGALRM ends one that waits on a FIFO.
Result ReportOn(const fs::path& dir) {
    return test::RunProcess({TARN_CLI_PATH, "report"}, dir, {}, [] { ::alarm(30); });
}

TEST_F(Report, ASetThatIsNotCompleteAndConsistentIsNamedAndStatusOne) {
    // A two-way set at 44.1 kHz, then spoilt one way in each case.
    ASSERT_EQ(Run("--phase linear 1000").status, 0);
    const auto remove = [](const fs::path& file) { fs::remove(file); };
    const auto shorten = [](const fs::path& file) {
        test::WriteText(file, Bytes(ShortenBand(test::ReadDoubles(file), BandPhase::Linear, 8192)));
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        std::string problem; // a line of standard error starts with it
    };
    const std::vector<Case> cases = {
        {"a FIFO",
         [&](const fs::path& d) {
             remove(d / "XOHighR44.dbl");
             ::mkfifo((d / "XOHighR44.dbl").c_str(), 0600);
         },
         "XOHighR44.dbl is a FIFO, not a regular file."},
        {"a directory",
         [&](const fs::path& d) {
             remove(d / "XOHighR44.dbl");
             fs::create_directory(d / "XOHighR44.dbl");
         },
         "XOHighR44.dbl is a directory, not a regular file."},
        {"a device",
         [&](const fs::path& d) {
             remove(d / "XOLowL44.dbl");
             fs::create_symlink("/dev/null", d / "XOLowL44.dbl");
         },
         "XOLowL44.dbl is a device, not a regular file."},
        {"a dangling link",
         [&](const fs::path& d) {
             remove(d / "XOHighR44.dbl");
             fs::create_symlink("gone.dbl", d / "XOHighR44.dbl");
         },
         "XOHighR44.dbl is a dangling symbolic link."},
        {"a missing right file", [&](const fs::path& d) { remove(d / "XOHighR44.dbl"); },
         "XOHighR44.dbl is missing: every band has a left and a right file."},
        {"the bands of two numbers of ways",
         [](const fs::path& d) {
             fs::copy_file(d / "XOLowL44.dbl", d / "XOL44.dbl");
             fs::copy_file(d / "XOLowR44.dbl", d / "XOR44.dbl");
         },
         "The bands of XO*L44.dbl (Full, Low, High) are not those of one crossover (1-way: "
         "Full; 2-way: Low, High; 3-way: Low, Mid, High; 4-way: Sub, Low, Mid, High; 5-way: "
         "Sub, Low, LowMid, Mid, High)."},
        {"two tap counts",
         [&](const fs::path& d) {
             shorten(d / "XOHighL44.dbl");
             shorten(d / "XOHighR44.dbl");
         },
         "The files of XO*L44.dbl differ in length (8192 taps: XOHighL44.dbl, XOHighR44.dbl; "
         "65536 taps: XOLowL44.dbl, XOLowR44.dbl)."},
        {"a WAV of another rate",
         [](const fs::path& d) {
             RawToWav(d, 44100);
             WriteWav(d / "XOHighL44.wav", std::vector<double>(65536, 0.0), 48000, true);
         },
         "XOHighL44.wav is a 48000 Hz WAV, where its name says 44100 Hz."},
        {"WAVs of two precisions",
         [](const fs::path& d) {
             RawToWav(d, 44100);
             WriteWav(d / "XOHighR44.wav", std::vector<double>(65536, 0.0), 44100, false);
         },
         "The files of XO*L44.wav differ in precision (32-bit: XOHighR44.wav; 64-bit: "
         "XOLowL44.wav, XOLowR44.wav, XOHighL44.wav)."},
        {"a raw file under a WAV name",
         [](const fs::path& d) {
             fs::copy_file(d / "XOHighL44.dbl", d / "XOHighL44.wav.raw");
             RawToWav(d, 44100);
             fs::rename(d / "XOHighL44.wav.raw", d / "XOHighL44.wav");
         },
         "XOHighL44.wav is not a coefficient file: "},
        {"another number of ways stored",
         [](const fs::path& d) {
             std::string ini = test::ReadText(d / "TarnProject.ini");
             ini.replace(ini.find("X-way-system=2"), 14, "X-way-system=3");
             test::WriteText(d / "TarnProject.ini", ini);
         },
         "XO*L44.dbl is a 2-way set, but TarnProject.ini says X-way-system=3."},
        {"a settings file that is a FIFO",
         [&](const fs::path& d) {
             remove(d / "TarnProject.ini");
             ::mkfifo((d / "TarnProject.ini").c_str(), 0600);
         },
         "TarnProject.ini is a FIFO, not a regular file."},
        {"a set of another rate with a missing file",
         [](const fs::path& d) { fs::copy_file(d / "XOLowL44.dbl", d / "XOLowL96.dbl"); },
         "XOLowR96.dbl is missing: every band has a left and a right file."},
    };
    for (const Case& c : cases) {
        test::TempDir spoilt;
        for (const std::string& name : test::FileNames(dir.Path()))
            fs::copy_file(dir.Path() / name, spoilt.Path() / name);
        c.spoil(spoilt.Path());
        const Result r = ReportOn(spoilt.Path());
        EXPECT_EQ(r.signal, 0) << c.what;
        EXPECT_EQ(r.status, 1) << c.what;
        EXPECT_EQ(r.out, "") << c.what;
        EXPECT_NE(LineStarting(r.err, c.problem), "") << c.what << ":\n" << r.err;
    }

    // A file the user may not read, where the user is not root (who may).
    if (::geteuid() != 0) {
        ::chmod((dir.Path() / "XOHighL44.dbl").c_str(), 0);
        const Result r = ReportOn(dir.Path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "Cannot read " + (dir.Path() / "XOHighL44.dbl").string() +
                             ": Permission denied.\n");
    }
}

TEST_F(Report, AWavSetReportsWhatTheRawSetOfTheSameTapsReports) {
    for (const char* precision : {"64", "32"}) {
        test::TempDir raw, wav;
        ASSERT_EQ(test::RunWords(TARN_CLI_PATH,
                                 std::string("--precision ") + precision + " --rate 48000 500 3000",
                                 raw.Path())
                      .status,
                  0);
        for (const std::string& name : test::FileNames(raw.Path()))
            fs::copy_file(raw.Path() / name, wav.Path() / name);
        RawToWav(wav.Path(), 48000);
        const Result fromRaw = ReportOn(raw.Path());
        const Result fromWav = ReportOn(wav.Path());
        ASSERT_EQ(fromRaw.status, 0) << fromRaw.err;
        ASSERT_EQ(fromWav.status, 0) << fromWav.err;
        std::vector<std::string> rawLines = Lines(fromRaw.out), wavLines = Lines(fromWav.out);
        const std::string extension = precision == std::string("64") ? ".dbl" : ".pcm";
        EXPECT_EQ(wavLines[0], "XO*L48.wav in " + wav.Path().string() + ": 48000 Hz, " + precision +
                                   "-bit float .wav, 65536 taps, 3 bands");
        EXPECT_EQ(rawLines[0], "XO*L48" + extension + " in " + raw.Path().string() +
                                   ": 48000 Hz, " + precision + "-bit " + extension +
                                   ", 65536 taps, 3 bands");
        // Every figure the same; only the file names differ, by their extension.
        ASSERT_EQ(wavLines.size(), rawLines.size());
        for (std::size_t i = 1; i < wavLines.size(); ++i) {
            for (std::size_t at; (at = wavLines[i].find(".wav")) != std::string::npos;)
                wavLines[i].replace(at, 4, extension);
            EXPECT_EQ(wavLines[i], rawLines[i]) << precision;
        }
    }
}

TEST_F(Report, AShorterSetReadsWithItsLatency) {
    ASSERT_EQ(Run("--phase linear --rate 48000 500 3000").status, 0);
    for (const std::string& name : test::FileNames(dir.Path()))
        if (name.ends_with(".dbl"))
            test::WriteText(
                dir.Path() / name,
                Bytes(ShortenBand(test::ReadDoubles(dir.Path() / name), BandPhase::Linear, 8192)));
    const Result r = Run("report");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    EXPECT_EQ(lines[0], "XO*L48.dbl in " + dir.Path().string() +
                            ": 48000 Hz, 64-bit .dbl, 8192 taps, 3 bands");
    EXPECT_NE(LineStarting(r.out, "XOLowL48.dbl ").find(" 4096    85.333 "), std::string::npos)
        << r.out;
    EXPECT_NE(
        LineStarting(r.out, "Latency: 85.333 ms (linear phase: the peak at tap 4096 of 8192)"), "")
        << r.out;
}

TEST_F(Report, TheDesignBesideTheTable) {
    ASSERT_EQ(Run("--phase linear 1000").status, 0);
    Result r = Run("report");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LineStarting(r.out, "Alignment: "), "Alignment: Tarn");
    EXPECT_EQ(LineStarting(r.out, "Latency: "),
              "Latency: 743.039 ms (linear phase: the peak at tap 32768 of 65536)");
    // The low-pass of the Tarn shapes is 3.01 dB down at its frequency, the high-pass, its
    // complement, 10.67 dB.
    EXPECT_EQ(LineStarting(r.out, "  1000 Hz: "), "  1000 Hz: Low -3.01 dB, High -10.67 dB");
    EXPECT_EQ(Words(LineStarting(r.out, "High ")),
              (std::vector<std::string>{"High", "0.00", "0.000", "0.0", "normal", "743.039"}));
    // Without trims the two sums are one.
    EXPECT_NE(LineStarting(r.out, "Sum: largest deviation from flat 0.0000 dB"), "") << r.out;
    EXPECT_EQ(LineStarting(r.out, "Sum as written"), "");

    test::WriteText(dir.Path() / "TarnProject.ini", test::ReadText(dir.Path() / "TarnProject.ini") +
                                                        "Alignment=Linkwitz-Riley\r\n");
    r = Run("report");
    EXPECT_EQ(LineStarting(r.out, "Alignment: "), "Alignment: Linkwitz-Riley");

    fs::remove(dir.Path() / "TarnProject.ini");
    r = Run("report");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(LineStarting(r.out, "Alignment: "), "Alignment: Tarn");
    EXPECT_EQ(LineStarting(r.out, "Crossovers"),
              "Crossovers: their frequencies are not stored with the set");
}

TEST_F(Report, TheSumAsWrittenAndTheCrossoversOwnSum) {
    // The high band 6 dB down, inverted and half a millisecond late (24 samples at 48 kHz),
    // made from a plain set as a run with those trims makes it.
    const BandTrim trim{-6.0, 0.5, true};
    for (const char* phase : {"linear", "minimum"}) {
        test::TempDir project;
        ASSERT_EQ(test::RunWords(TARN_CLI_PATH,
                                 std::string("--rate 48000 --phase ") + phase + " 1000",
                                 project.Path())
                      .status,
                  0);
        const Result plain = ReportOn(project.Path());
        ASSERT_EQ(plain.status, 0) << plain.err;
        for (const char* side : {"L", "R"}) {
            const fs::path file = project.Path() / (std::string("XOHigh") + side + "48.dbl");
            std::vector<double> taps = test::ReadDoubles(file);
            ShiftAndScale(taps, trim, SplitDelay(trim.delayMs, 48000), "High");
            test::WriteText(file, Bytes(taps));
        }
        test::WriteText(project.Path() / "TarnProject.ini",
                        test::ReadText(project.Path() / "TarnProject.ini") +
                            "[Bands]\r\nHighLevel=-6\r\nHighDelay=0.5\r\nHighInvert=1\r\n");
        const Result trimmed = ReportOn(project.Path());
        ASSERT_EQ(trimmed.status, 0) << trimmed.err;

        const double plainDb = DeviationDb(LineStarting(plain.out, "Sum: "));
        const double writtenDb = DeviationDb(LineStarting(trimmed.out, "Sum as written: "));
        const double ownDb = DeviationDb(LineStarting(
            trimmed.out, "Sum of the crossover, levels, delays and polarities taken out: "));
        EXPECT_NEAR(ownDb, plainDb, 0.0005) << phase << "\n" << trimmed.out;
        EXPECT_GT(std::abs(writtenDb - plainDb), 1.0) << phase << "\n" << trimmed.out;
        // Each band's own level at the crossover is that of the plain set.
        EXPECT_EQ(LineStarting(trimmed.out, "  1000 Hz: "), LineStarting(plain.out, "  1000 Hz: "))
            << phase;
        const std::string latency = phase == std::string("linear") ? "683.167" : "0.500";
        EXPECT_EQ(
            Words(LineStarting(trimmed.out, "High ")),
            (std::vector<std::string>{"High", "-6.00", "0.500", "171.5", "inverted", latency}));
        EXPECT_NE(LineStarting(trimmed.out, "Latency: ").find(", plus each band's delay"),
                  std::string::npos)
            << trimmed.out;
    }
}

TEST_F(Report, EveryRateOfALinkwitzRileyRunInWavWithTrims) {
    ASSERT_EQ(Run("--rate all --format wav --alignment lr --order 4 --phase linear "
                  "--level High=-6 --delay High=0.5 --invert Mid 80 500 3000 8000")
                  .status,
              0);
    const Result r = Run("report");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> lines = Lines(r.out);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NE(lines[0].find(" Hz, 64-bit float .wav, 65536 taps, 5 bands"), std::string::npos)
        << lines[0];
    // The five other rates are named.
    EXPECT_EQ(Words(lines[1]).size(), 7u) << lines[1];
    EXPECT_EQ(LineStarting(r.out, "Alignment: "), "Alignment: Linkwitz-Riley");
    for (const char* crossover :
         {"  80 Hz: Sub", "  500 Hz: Low", "  3000 Hz: LowMid", "  8000 Hz: Mid"}) {
        const std::vector<std::string> words = Words(LineStarting(r.out, crossover));
        ASSERT_EQ(words.size(), 8u) << crossover << "\n" << r.out;
        EXPECT_EQ(words[3], "-6.02") << crossover;
        EXPECT_EQ(words[6], "-6.02") << crossover;
    }
    EXPECT_EQ(Words(LineStarting(r.out, "Mid ")).at(4), "inverted");
    EXPECT_EQ(Words(LineStarting(r.out, "High ")).at(1), "-6.00");
    EXPECT_LT(std::abs(DeviationDb(LineStarting(
                  r.out, "Sum of the crossover, levels, delays and polarities taken out: "))),
              0.01)
        << r.out;
    EXPECT_GT(std::abs(DeviationDb(LineStarting(r.out, "Sum as written: "))), 1.0) << r.out;
}

} // namespace
} // namespace tarn
