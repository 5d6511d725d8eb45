// Engine configurations: one golden file per engine, compared exactly, and the behaviour
// that must hold for every set (refusals, partitions, one configuration per rate, comments).
#include "crossover/Bands.h"
#include "export/EngineExport.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace tarn::engines;

constexpr Engine AllEngines[] = {Engine::CamillaDsp, Engine::BruteFir, Engine::EqualizerApo,
                                 Engine::Convolver};
const std::vector<int> EveryRate = {44100, 48000, 88200, 96000, 176400, 192000};

ExportInput Input(std::vector<std::string> bands, std::vector<std::string> frequencies,
                  SetFormat format, std::vector<int> rates) {
    ExportInput in;
    in.design.frequencies = std::move(frequencies);
    in.set.projectDirectory = "/home/me/speaker";
    in.set.bands = std::move(bands);
    in.set.format = format;
    in.set.rates = std::move(rates);
    return in;
}

ExportInput FiveWayWav() {
    return Input({"Sub", "Low", "LowMid", "Mid", "High"}, {"80", "500", "3000", "8000"},
                 SetFormat::WavFloat32, {48000});
}

// Everything an export produced, as one text: the files in order, then the zip's entries.
std::string Serialized(const ExportResult& result) {
    std::string text;
    for (const GeneratedFile& file : result.files)
        text += "=== " + file.name + " ===\n" + file.content;
    if (!result.zipName.empty()) {
        text += "=== zip " + result.zipName + " ===\n";
        for (const ZipEntry& entry : result.zipEntries)
            text += entry.nameInZip + " <- " + entry.file + "\n";
    }
    return text;
}

std::string Content(const ExportResult& result, const std::string& name) {
    for (const GeneratedFile& file : result.files)
        if (file.name == name) return file.content;
    ADD_FAILURE() << "no file " << name;
    return {};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// The lines before the first line that is not a comment.
std::string LeadingComment(const std::string& text) {
    std::string comment;
    std::size_t at = 0;
    while (at < text.size() && text[at] == '#') {
        const std::size_t end = text.find('\n', at);
        comment += text.substr(at, end - at + 1);
        at = end + 1;
    }
    return comment;
}

// TARN_UPDATE_GOLDEN=1 rewrites the golden files from the current output (and skips).
void ExpectGolden(const std::string& goldenName, const ExportResult& result) {
    ASSERT_TRUE(result.Ok()) << result.error;
    const std::filesystem::path path = std::filesystem::path(TARN_GOLDEN_DIR) / goldenName;
    const std::string actual = Serialized(result);
    if (std::getenv("TARN_UPDATE_GOLDEN")) {
        std::ofstream(path, std::ios::binary) << actual;
        GTEST_SKIP() << "rewrote " << path;
    }
    ASSERT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(tarn::test::ReadText(path), actual) << "differs from " << path;
}

TEST(ExportGolden, CamillaDsp) {
    ExportInput in = Input({"Low", "Mid", "High"}, {"500", "3000"}, SetFormat::RawDouble, {48000});
    ExpectGolden("camilladsp.txt", Export(Engine::CamillaDsp, in));
}

TEST(ExportGolden, BruteFir) {
    ExportInput in = Input({"Low", "High"}, {"2500"}, SetFormat::RawFloat, {44100});
    ExpectGolden("brutefir.txt", Export(Engine::BruteFir, in));
}

TEST(ExportGolden, EqualizerApo) {
    ExportInput in = Input({"Low", "High"}, {"1800,5"}, SetFormat::WavFloat32, {44100, 96000});
    in.set.projectDirectory = "C:\\Users\\me\\speaker";
    in.design.alignment = "Linkwitz-Riley";
    in.design.order = 4;
    in.design.minimumPhase = false;
    ExpectGolden("equalizer-apo.txt", Export(Engine::EqualizerApo, in));
}

TEST(ExportGolden, Convolver) {
    ExportInput in = Input({""}, {}, SetFormat::WavFloat64, {44100, 48000});
    ExpectGolden("convolver.txt", Export(Engine::Convolver, in));
}

TEST(Export, WavOnlyEnginesRefuseRawSetsAndTakeWavSets) {
    struct Case {
        Engine engine;
        SetFormat format;
        bool accepted;
    };
    const Case cases[] = {
        {Engine::EqualizerApo, SetFormat::RawDouble, false},
        {Engine::EqualizerApo, SetFormat::RawFloat, false},
        {Engine::EqualizerApo, SetFormat::WavFloat32, true},
        {Engine::EqualizerApo, SetFormat::WavFloat64, true},
        {Engine::Convolver, SetFormat::RawDouble, false},
        {Engine::Convolver, SetFormat::RawFloat, false},
        {Engine::Convolver, SetFormat::WavFloat32, true},
        {Engine::Convolver, SetFormat::WavFloat64, true},
    };
    for (const Case& c : cases) {
        ExportInput in = FiveWayWav();
        in.set.format = c.format;
        const ExportResult result = Export(c.engine, in);
        SCOPED_TRACE(EngineName(c.engine));
        EXPECT_EQ(result.Ok(), c.accepted) << result.error;
        if (!c.accepted) {
            EXPECT_TRUE(Contains(result.error, "WAV")) << result.error;
            EXPECT_TRUE(result.files.empty());
            EXPECT_TRUE(result.zipEntries.empty());
        }
    }
}

TEST(Export, BruteFirPartitionsCoverTheTaps) {
    for (int taps : {1, 256, 1000, 2048, 4096, 4097, 6144, 65536, 131072}) {
        SCOPED_TRACE(taps);
        const Partitions p = BruteFirPartitions(taps);
        EXPECT_GT(p.length, 0);
        EXPECT_EQ(p.length & (p.length - 1), 0) << "not a power of two: " << p.length;
        EXPECT_LE(p.length, 4096);
        EXPECT_GE(static_cast<long>(p.length) * p.count, taps);
        EXPECT_LT(static_cast<long>(p.length) * (p.count - 1), taps) << "one partition too many";

        ExportInput in = FiveWayWav();
        in.set.format = SetFormat::RawDouble;
        in.design.taps = taps;
        const ExportResult result = Export(Engine::BruteFir, in);
        ASSERT_TRUE(result.Ok()) << result.error;
        EXPECT_TRUE(
            Contains(result.files.at(0).content, "\nfilter_length: " + std::to_string(p.length) +
                                                     "," + std::to_string(p.count) + ";"));
    }
    const Partitions standard = BruteFirPartitions(65536);
    EXPECT_EQ(standard.length, 4096);
    EXPECT_EQ(standard.count, 16);
}

// Each per-rate configuration states its own rate and loads the files of its own tag only.
TEST(Export, OneConfigurationPerRateLoadsItsOwnFiles) {
    struct Case {
        Engine engine;
        std::string stem;
        std::string rateLine; // followed by the rate
    };
    const Case cases[] = {
        {Engine::CamillaDsp, "camilladsp-", "\n  samplerate: "},
        {Engine::BruteFir, "brutefir-", "\nsampling_rate: "},
        {Engine::Convolver, "convolver-", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(EngineName(c.engine));
        ExportInput in = FiveWayWav();
        in.set.rates = EveryRate;
        in.options.wavDataOffset = 80;
        const ExportResult result = Export(c.engine, in);
        ASSERT_TRUE(result.Ok()) << result.error;
        for (int rate : EveryRate) {
            const std::string ext = c.engine == Engine::CamillaDsp ? ".yml"
                                    : c.engine == Engine::BruteFir ? ".conf"
                                                                   : ".cfg";
            const std::string text = Content(result, c.stem + std::to_string(rate) + ext);
            const std::string rateText = std::to_string(rate);
            if (c.rateLine.empty())
                EXPECT_EQ(text.rfind(rateText + " 2 10 0\n", 0), 0u) << text.substr(0, 40);
            else
                EXPECT_TRUE(Contains(text, c.rateLine + rateText + "\n") ||
                            Contains(text, c.rateLine + rateText + ";"));
            for (int other : EveryRate)
                for (const std::string band : {"Sub", "High"}) {
                    const std::string file =
                        WrittenFileName(band, Side::Right, other, in.set.format);
                    EXPECT_EQ(Contains(text, file), other == rate) << file << " in " << rate;
                }
        }
    }
    ExportInput in = FiveWayWav();
    in.set.rates = EveryRate;
    const ExportResult apo = Export(Engine::EqualizerApo, in);
    ASSERT_TRUE(apo.Ok()) << apo.error;
    ASSERT_EQ(apo.files.size(), 1u);
    const std::string& text = apo.files[0].content;
    for (std::size_t i = 0; i < EveryRate.size(); ++i) {
        const std::string condition = "sampleRate == " + std::to_string(EveryRate[i]) + "\n";
        const std::size_t at = text.find(condition);
        ASSERT_NE(at, std::string::npos) << condition;
        const std::size_t next =
            i + 1 < EveryRate.size()
                ? text.find("sampleRate == " + std::to_string(EveryRate[i + 1]))
                : text.find("\nElse:");
        const std::string block = text.substr(at, next - at);
        EXPECT_TRUE(
            Contains(block, "Convolution: /home/me/speaker/" +
                                WrittenFileName("Mid", Side::Left, EveryRate[i], in.set.format)));
        EXPECT_EQ(Occurrences(block, "Convolution: "), 10u);
        EXPECT_EQ(Occurrences(block, "Copy: "), 1u);
    }
}

TEST(Export, CamillaDspFormatNamesFollowTheVersion) {
    struct Case {
        int version;
        SetFormat format;
        std::string expected;
        std::string device;
    };
    const Case cases[] = {
        {4, SetFormat::RawDouble, "format: F64_LE\n", "format: S32_LE "},
        {4, SetFormat::RawFloat, "format: F32_LE\n", "format: S32_LE "},
        {3, SetFormat::RawDouble, "format: FLOAT64LE\n", "format: S32LE "},
        {3, SetFormat::RawFloat, "format: FLOAT32LE\n", "format: S32LE "},
        {4, SetFormat::WavFloat64, "type: Wav\n", "format: S32_LE "},
    };
    for (const Case& c : cases) {
        ExportInput in = FiveWayWav();
        in.set.format = c.format;
        in.options.camillaDspVersion = c.version;
        const ExportResult result = Export(Engine::CamillaDsp, in);
        ASSERT_TRUE(result.Ok()) << result.error;
        const std::string& text = result.files.at(0).content;
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(Occurrences(text, c.expected), 10u);
        EXPECT_TRUE(Contains(text, c.device));
    }
    ExportInput in = FiveWayWav();
    in.options.camillaDspVersion = 5;
    EXPECT_FALSE(Export(Engine::CamillaDsp, in).Ok());
}

TEST(Export, InputsNoEngineCanLoadAreRefused) {
    struct Case {
        const char* what;
        void (*change)(ExportInput&);
    };
    const Case cases[] = {
        {"relative directory", [](ExportInput& in) { in.set.projectDirectory = "speaker"; }},
        {"newline in directory",
         [](ExportInput& in) { in.set.projectDirectory = "/home/me/a\nb"; }},
        {"untagged rate",
         [](ExportInput& in) {
             in.set.rates = {48000, 22050};
         }},
        {"rate twice",
         [](ExportInput& in) {
             in.set.rates = {48000, 48000};
         }},
        {"no rate", [](ExportInput& in) { in.set.rates.clear(); }},
        {"unknown band", [](ExportInput& in) { in.set.bands[0] = "Bass"; }},
        {"bands out of order",
         [](ExportInput& in) { std::swap(in.set.bands[0], in.set.bands[1]); }},
        {"full band among others", [](ExportInput& in) { in.set.bands[0] = ""; }},
        {"frequency missing", [](ExportInput& in) { in.design.frequencies.pop_back(); }},
        {"no bands",
         [](ExportInput& in) {
             in.set.bands.clear();
             in.design.frequencies.clear();
         }},
        {"no taps", [](ExportInput& in) { in.design.taps = 0; }},
        {"namer without a name",
         [](ExportInput& in) {
             in.set.fileName = [](const std::string&, Side, int, SetFormat) {
                 return std::string();
             };
         }},
    };
    for (const Case& c : cases)
        for (Engine engine : AllEngines) {
            ExportInput in = FiveWayWav();
            in.options.wavDataOffset = 80;
            c.change(in);
            const ExportResult result = Export(engine, in);
            EXPECT_FALSE(result.Ok()) << c.what << " for " << EngineName(engine);
            EXPECT_TRUE(result.files.empty());
        }
}

// The first lines of every file with comments name the design and what each output drives.
TEST(Export, CommentsNameTheDesignAndTheOutputs) {
    ExportInput in = FiveWayWav();
    in.design.alignment = "Linkwitz-Riley";
    in.design.order = 8;
    in.design.minimumPhase = false;
    in.design.taps = 8192;
    in.design.frequencies[1] = "5\n00"; // a line break typed into a field stays in the comment
    in.options.wavDataOffset = 80;
    for (Engine engine : {Engine::CamillaDsp, Engine::BruteFir, Engine::EqualizerApo}) {
        SCOPED_TRACE(EngineName(engine));
        const ExportResult result = Export(engine, in);
        ASSERT_TRUE(result.Ok()) << result.error;
        const std::string comment = LeadingComment(result.files.at(0).content);
        for (const std::string part :
             {"5-way", "80, 5 00, 3000, 8000 Hz", "filter order 8", "Linkwitz-Riley alignment",
              "linear phase", "8192 taps", "48000 Hz", "Sub L", "High R"})
            EXPECT_TRUE(Contains(comment, part)) << part << "\n" << comment;
        // Output order: lowest band first, left before right.
        EXPECT_LT(comment.find("Sub L"), comment.find("Sub R"));
        EXPECT_LT(comment.find("Sub R"), comment.find("Low L"));
        EXPECT_LT(comment.find("Mid R"), comment.find("High L"));
    }
    const ExportResult convolver = Export(Engine::Convolver, in);
    ASSERT_TRUE(convolver.Ok());
    EXPECT_TRUE(Contains(Content(convolver, "convolver-notes.txt"), "Linkwitz-Riley alignment"));
    EXPECT_TRUE(Contains(Serialized(convolver), "convolver-notes.txt <- convolver-notes.txt"));
}

TEST(Export, BruteFirReadsWavSamplesAfterTheirHeader) {
    ExportInput in = FiveWayWav();
    const ExportResult without = Export(Engine::BruteFir, in);
    EXPECT_FALSE(without.Ok());
    EXPECT_TRUE(Contains(without.error, "raw"));

    in.options.wavDataOffset = 88;
    const ExportResult with = Export(Engine::BruteFir, in);
    ASSERT_TRUE(with.Ok()) << with.error;
    const std::string& text = with.files.at(0).content;
    EXPECT_EQ(Occurrences(text, "skip: 88;"), 10u);
    EXPECT_TRUE(Contains(text, "format: \"FLOAT_LE\";"));
    EXPECT_FALSE(Contains(text, "FLOAT64_LE"));
}

std::string Chunk(const std::string& id, const std::string& payload) {
    const auto size = static_cast<std::uint32_t>(payload.size());
    std::string chunk = id;
    for (int i = 0; i < 4; ++i)
        chunk += static_cast<char>(size >> (8 * i) & 0xff);
    chunk += payload;
    if (payload.size() % 2) chunk += '\0';
    return chunk;
}

TEST(Export, WavDataOffsetFindsTheSamples) {
    const std::string riff("RIFF\x24\x00\x00\x00WAVE", 12);
    const std::string fmt = Chunk("fmt ", std::string(18, '\x01'));
    struct Case {
        std::string header;
        std::optional<std::size_t> offset;
    };
    const Case cases[] = {
        {riff + Chunk("fmt ", std::string(16, '\x01')) + Chunk("data", "abcd"), 44},
        {riff + fmt + Chunk("fact", "1234") + Chunk("PEAK", std::string(16, 'p')) +
             Chunk("data", ""),
         12 + 26 + 12 + 24 + 8},
        {riff + fmt + Chunk("LIST", "odd") + Chunk("data", ""), 12 + 26 + 12 + 8},
        {riff + fmt, std::nullopt},                                        // ends before the data
        {"RIFX" + riff.substr(4) + fmt + Chunk("data", ""), std::nullopt}, // not a WAV
        {"RIFF", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WavDataOffset(c.header), c.offset) << c.header.size();
}

TEST(Export, PathsAreQuotedForTheEngine) {
    ExportInput in = FiveWayWav();
    in.set.format = SetFormat::RawDouble;
    in.set.projectDirectory = "/home/me/my \"best\" \\speaker";
    const ExportResult camilla = Export(Engine::CamillaDsp, in);
    ASSERT_TRUE(camilla.Ok());
    EXPECT_TRUE(Contains(camilla.files[0].content,
                         "filename: \"/home/me/my \\\"best\\\" \\\\speaker/XOSubL48.dbl\"\n"));
    const ExportResult brutefir = Export(Engine::BruteFir, in);
    EXPECT_FALSE(brutefir.Ok());
    EXPECT_TRUE(Contains(brutefir.error, "double quote"));
}

TEST(Export, EngineNamesRoundTrip) {
    for (Engine engine : AllEngines)
        EXPECT_EQ(ParseEngine(EngineName(engine)), engine);
    EXPECT_EQ(ParseEngine("camillaDSP"), std::nullopt);
    EXPECT_EQ(ParseEngine(""), std::nullopt);
}

TEST(Export, FileNamesAreTheRunsNames) {
    EXPECT_EQ(WrittenFileName("Sub", Side::Left, 48000, SetFormat::RawDouble), "XOSubL48.dbl");
    EXPECT_EQ(WrittenFileName("", Side::Left, 44100, SetFormat::WavFloat32), "XOL44.wav");
    EXPECT_EQ(WrittenFileName("LowMid", Side::Right, 176400, SetFormat::RawFloat),
              "XOLowMidR176.pcm");
    EXPECT_EQ(WrittenFileName("High", Side::Right, 22050, SetFormat::RawFloat), "");
    // Every name the export can refer to is one the run writes (and removes again).
    for (const std::string_view band : tarn::BandWords())
        for (const tarn::SampleRateTag& rate : tarn::SampleRateTags())
            for (SetFormat format : {SetFormat::RawDouble, SetFormat::RawFloat,
                                     SetFormat::WavFloat32, SetFormat::WavFloat64})
                for (Side side : {Side::Left, Side::Right}) {
                    const std::string name = WrittenFileName(std::string(band), side,
                                                             static_cast<int>(rate.rate), format);
                    EXPECT_TRUE(tarn::IsCoefficientFileName(name)) << name;
                }
}

} // namespace
