// tarn-cli export as a user runs it: a separate process that reads a project's stored
// design and its files and writes an engine's configuration beside them. What it writes must
// be the generators' text for the set the test knows it made, and the Roon zip must hold
// the rate-matched files as libzip reads them back.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "crossover/WavFile.h"
#include "export/EngineExport.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"
#include "tests/HardenSupport.h"
#include "tests/TestSupport.h"

#ifndef TARN_CLI_PATH
#error "TARN_CLI_PATH must name the tarn-cli executable"
#endif

namespace tarn {
namespace {

namespace fs = std::filesystem;
using namespace engines;

const std::vector<int> EveryRate = {44100, 48000, 88200, 96000, 176400, 192000};
const std::vector<std::string> ThreeWay = {"Low", "Mid", "High"};

class Export : public ::testing::Test {
  protected:
    test::ProcessResult Run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), TARN_CLI_PATH);
        return test::RunProcess(arguments, dir.Path());
    }

    // The settings file of a three-way design at 500 and 3000 Hz with this rate and format,
    // and its every file as the run names it: WAV files as the run encodes them (a short
    // impulse response will do), raw files of any content.
    void WriteSet(int rate, FileFormat format, int precision) {
        ProjectSettings design;
        design.frequencies = {"500", "3000", "", ""};
        design.filterOrder = 8;
        design.ways = 3;
        design.sampleRate = rate;
        design.format = format;
        design.precision = precision;
        design.alignment = Alignment::LinkwitzRiley;
        design.minimumPhase = false;
        design.taps = 8192;
        const std::string ini = (dir.Path() / ProjectIniName).string();
        test::WriteText(ini, design.StoredText(IniFile(ini)));
        const ExportInput in = Expected(rate, format, precision);
        const double taps[] = {0.5, -0.25, 0.125, 0.0625};
        for (int r : in.set.rates)
            for (const std::string& band : in.set.bands)
                for (Side side : {Side::Left, Side::Right}) {
                    std::ofstream file(dir.Path() / in.set.fileName(band, side, r, in.set.format),
                                       std::ios::binary);
                    const auto bytes = EncodeWav(taps, 4, r, precision == 64);
                    file.write(reinterpret_cast<const char*>(bytes.data()),
                               static_cast<std::streamsize>(bytes.size()));
                }
    }

    // The generators' input for the set WriteSet makes, built from what the test knows.
    ExportInput Expected(int rate, FileFormat format, int precision) const {
        ExportInput in;
        in.design.frequencies = {"500", "3000"};
        in.design.order = 8;
        in.design.alignment = "Linkwitz-Riley";
        in.design.minimumPhase = false;
        in.design.taps = 8192;
        in.set.projectDirectory = dir.Path().string();
        in.set.rates = rate == AllRates ? EveryRate : std::vector<int>{rate};
        in.set.bands = ThreeWay;
        const bool wide = precision == 64;
        in.set.format = format == FileFormat::Wav
                            ? (wide ? SetFormat::WavFloat64 : SetFormat::WavFloat32)
                            : (wide ? SetFormat::RawDouble : SetFormat::RawFloat);
        return in;
    }

    // tarn-cli export of the engine with the arguments writes exactly the generators' files
    // for in, each named on standard error, and a second export writes the same bytes again.
    void ExpectExport(Engine engine, const ExportInput& in, std::vector<std::string> arguments) {
        const ExportResult expected = engines::Export(engine, in);
        ASSERT_TRUE(expected.Ok()) << expected.error;

        arguments.insert(arguments.begin(), {"export", "--engine", EngineName(engine)});
        const test::ProcessResult r = Run(arguments);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string written;
        for (const GeneratedFile& file : expected.files) {
            EXPECT_EQ(test::ReadText(dir.Path() / file.name), file.content) << file.name;
            written += "written: " + file.name + "\n";
        }
        if (!expected.zipName.empty()) written += "written: " + expected.zipName + "\n";
        EXPECT_EQ(r.err, written);
        EXPECT_EQ(r.out, "");

        // The zip's entries carry the time they were packed.
        auto withoutZip = [&] {
            auto contents = test::Contents(dir.Path());
            contents.erase(expected.zipName);
            return contents;
        };
        const auto before = withoutZip();
        ASSERT_EQ(Run(arguments).status, 0);
        EXPECT_EQ(withoutZip(), before);
    }

    test::TempDir dir;
};

std::string ZipEntryText(zip_t* archive, zip_int64_t index) {
    zip_stat_t stat;
    zip_stat_init(&stat);
    EXPECT_EQ(zip_stat_index(archive, static_cast<zip_uint64_t>(index), 0, &stat), 0);
    std::string text(static_cast<std::size_t>(stat.size), '\0');
    zip_file_t* file = zip_fopen_index(archive, static_cast<zip_uint64_t>(index), 0);
    EXPECT_NE(file, nullptr);
    if (!file) return {};
    EXPECT_EQ(zip_fread(file, text.data(), text.size()), static_cast<zip_int64_t>(text.size()));
    zip_fclose(file);
    return text;
}

// Every engine, each with the kind of set and options a user would give it.
TEST_F(Export, EachEngineWritesTheGeneratorsFilesForTheStoredSet) {
    struct Case {
        Engine engine;
        int rate;
        FileFormat format;
        int precision;
        std::vector<std::string> arguments;
        std::string capture, playback; // the devices the arguments give
        int version = 4;
    };
    const Case cases[] = {
        {Engine::CamillaDsp,
         48000,
         FileFormat::Raw,
         64,
         {"--engine-version", "3", "--device", "hw:Loopback,1", "--device", "hw:DAC 8"},
         "hw:Loopback,1",
         "hw:DAC 8",
         3},
        {Engine::CamillaDsp, AllRates, FileFormat::Wav, 32, {}, "", ""},
        {Engine::BruteFir,
         44100,
         FileFormat::Raw,
         32,
         {"--device", "hw:Loopback,1"},
         "hw:Loopback,1",
         ""},
        {Engine::BruteFir, 96000, FileFormat::Wav, 64, {}, "", ""},
        {Engine::EqualizerApo, AllRates, FileFormat::Wav, 32, {"--input-channels", "2"}, "", ""},
        {Engine::Convolver, AllRates, FileFormat::Wav, 64, {}, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(EngineName(c.engine) + " at " + std::to_string(c.rate));
        for (const fs::directory_entry& entry : fs::directory_iterator(dir.Path()))
            fs::remove(entry.path());
        WriteSet(c.rate, c.format, c.precision);
        ExportInput in = Expected(c.rate, c.format, c.precision);
        in.options.camillaDspVersion = c.version;
        in.options.captureDevice = in.options.bruteFirInput.name = c.capture;
        in.options.playbackDevice = in.options.bruteFirOutput.name = c.playback;
        if (c.format == FileFormat::Wav) {
            const double tap = 1.0;
            const auto bytes =
                EncodeWav(&tap, 1, c.rate == AllRates ? 44100 : c.rate, c.precision == 64);
            in.options.wavDataOffset = WavDataOffset(std::string(bytes.begin(), bytes.end()));
        }
        ExpectExport(c.engine, in, c.arguments);
    }
}

// A real run of every rate in WAV, then every engine: the stored design reaches the
// configurations as the run wrote it, and BruteFIR skips the header the run's files have.
TEST_F(Export, EveryEngineLoadsWhatARunOfEveryRateWrote) {
    ASSERT_EQ(Run({"--rate", "all", "--format", "wav", "--precision", "32", "--taps", "8192",
                   "--phase", "linear", "--alignment", "lr", "--order", "8", "500", "3000"})
                  .status,
              0);
    ExportInput in = Expected(AllRates, FileFormat::Wav, 32);
    const std::string header = test::ReadText(dir.Path() / "XOHighR192.wav").substr(0, 4096);
    in.options.wavDataOffset = WavDataOffset(header);
    ASSERT_TRUE(in.options.wavDataOffset);
    for (Engine engine :
         {Engine::CamillaDsp, Engine::BruteFir, Engine::EqualizerApo, Engine::Convolver}) {
        SCOPED_TRACE(EngineName(engine));
        ExpectExport(engine, in, {});
    }
}

// Roon takes one zip: every configuration with the WAV files of its own rate and the note.
TEST_F(Export, TheConvolverZipHoldsTheRateMatchedSets) {
    WriteSet(AllRates, FileFormat::Wav, 32);
    ASSERT_EQ(Run({"export", "--engine", "convolver"}).status, 0);
    const ExportResult expected =
        engines::Export(Engine::Convolver, Expected(AllRates, FileFormat::Wav, 32));
    ASSERT_TRUE(expected.Ok()) << expected.error;

    int error = 0;
    zip_t* archive =
        zip_open((dir.Path() / expected.zipName).c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ASSERT_NE(archive, nullptr) << "libzip error " << error;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    ASSERT_EQ(count, static_cast<zip_int64_t>(expected.zipEntries.size()));
    // 6 configurations, 6 x 6 WAV files, the note.
    EXPECT_EQ(count, 6 + 36 + 1);
    for (zip_int64_t i = 0; i < count; ++i) {
        const ZipEntry& entry = expected.zipEntries[static_cast<std::size_t>(i)];
        EXPECT_EQ(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0), entry.nameInZip);
        EXPECT_EQ(ZipEntryText(archive, i), test::ReadText(dir.Path() / entry.file))
            << entry.nameInZip;
    }
    zip_close(archive);
}

// Equalizer APO and Convolver read WAV files only: a raw set is refused with the reason
// and nothing in the directory changes.
TEST_F(Export, RawSetsAreRefusedByTheWavOnlyEnginesWithoutWriting) {
    WriteSet(48000, FileFormat::Raw, 64);
    const auto before = test::Contents(dir.Path());
    for (Engine engine : {Engine::EqualizerApo, Engine::Convolver}) {
        const ExportResult refused = engines::Export(engine, Expected(48000, FileFormat::Raw, 64));
        ASSERT_FALSE(refused.Ok());
        const test::ProcessResult r = Run({"export", "--engine", EngineName(engine)});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, refused.error + "\n");
        EXPECT_EQ(test::Contents(dir.Path()), before) << EngineName(engine);
    }
}

// Without a stored design, or with a file of its set gone, nothing is exported; the message
// names what is missing and what the directory holds instead.
TEST_F(Export, AMissingSetExitsOneAndWritesNothing) {
    fs::create_directory(dir.Path() / "empty");
    const test::ProcessResult none =
        Run({"export", "--engine", "camilladsp", "--project", "empty"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("No design is stored in " + (dir.Path() / "empty").string()),
              std::string::npos)
        << none.err;
    EXPECT_TRUE(test::FileNames(dir.Path() / "empty").empty());

    // The run wrote 44.1 kHz files; the settings now claim 96 kHz, one of whose files is gone.
    ASSERT_EQ(Run({"--phase", "linear", "500", "3000"}).status, 0);
    WriteSet(96000, FileFormat::Raw, 64);
    fs::remove(dir.Path() / "XOMidR96.dbl");
    const auto before = test::Contents(dir.Path());
    const test::ProcessResult gone = Run({"export", "--engine", "brutefir"});
    EXPECT_EQ(gone.status, 1);
    EXPECT_NE(gone.err.find("XOMidR96.dbl is missing."), std::string::npos) << gone.err;
    EXPECT_EQ(test::Contents(dir.Path()), before);
    for (const std::string& name : test::FileNames(dir.Path()))
        if (name.find("96") != std::string::npos) fs::remove(dir.Path() / name);
    const test::ProcessResult other = Run({"export", "--engine", "brutefir"});
    EXPECT_EQ(other.status, 1);
    EXPECT_NE(other.err.find("XOLowL96.dbl is missing (and 5 more). The newest files there "
                             "are XO*L44.dbl (44100 Hz, 64-bit .dbl, 3 bands)."),
              std::string::npos)
        << other.err;
}

TEST_F(Export, WrongUsageExitsTwoAndWritesNothing) {
    WriteSet(44100, FileFormat::Raw, 64);
    const auto before = test::Contents(dir.Path());
    const std::vector<std::vector<std::string>> cases = {
        {"export"},
        {"export", "--engine", "CamillaDSP"},
        {"export", "--engine", "pipewire"},
        {"export", "--engine", "camilladsp", "--engine-version", "5"},
        {"export", "--engine", "brutefir", "--engine-version", "4"},
        {"export", "--engine", "brutefir", "--input-channels", "6"},
        {"export", "--engine", "convolver", "--device", "hw:0"},
        {"export", "--engine", "camilladsp", "--device", "a", "b", "c"},
        {"export", "--engine", "camilladsp", "extra"},
    };
    for (const auto& arguments : cases) {
        const test::ProcessResult r = Run(arguments);
        EXPECT_EQ(r.status, 2) << arguments.back() << ": " << r.err;
        EXPECT_NE(r.err.find("--help"), std::string::npos) << r.err;
    }
    EXPECT_EQ(test::Contents(dir.Path()), before);
}

} // namespace
} // namespace tarn
