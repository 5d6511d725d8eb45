// The generated BruteFIR configuration in the real engine: band files of known FIRs, the
// devices swapped for BruteFIR's file I/O, an impulse on the left input and a later one on
// the right, and every output must be its band's coefficients at its side's impulse.
#include "export/EngineExport.h"
#include "tests/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tarn::engines;
namespace fs = std::filesystem;

// The brutefir executable on PATH, or empty.
fs::path FindBruteFir() {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty()) continue;
        const fs::path candidate = fs::path(dir) / "brutefir";
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) return candidate;
    }
    return {};
}

// A known FIR per band and side: a decaying tone, different for every file, so a band or
// side routed to the wrong output cannot pass.
std::vector<double> KnownFir(int band, int side, int taps) {
    std::vector<double> h(static_cast<std::size_t>(taps));
    for (int n = 0; n < taps; ++n)
        h[static_cast<std::size_t>(n)] = (side ? -0.75 : 1.0) *
                                         std::sin(0.013 * (band + 1) * n + band + 0.5 * side) *
                                         std::exp(-n / (0.2 * taps));
    return h;
}

template <typename T> void Append(std::string& bytes, T value) {
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    bytes.append(raw, sizeof(T));
}

void WriteBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
}

std::string Chunk(const std::string& id, const std::string& payload) {
    std::string chunk = id;
    Append(chunk, static_cast<std::uint32_t>(payload.size()));
    chunk += payload;
    if (payload.size() % 2) chunk += '\0';
    return chunk;
}

// A mono IEEE-float WAV as a writer may lay it out: fmt, fact, a peak chunk and an odd-sized
// chunk before the data, so the sample offset is not the textbook 44.
std::string WavFile(const std::string& samples, int bytesPerSample, int rate) {
    std::string fmt;
    Append(fmt, std::uint16_t{3}); // IEEE float
    Append(fmt, std::uint16_t{1});
    Append(fmt, static_cast<std::uint32_t>(rate));
    Append(fmt, static_cast<std::uint32_t>(rate * bytesPerSample));
    Append(fmt, static_cast<std::uint16_t>(bytesPerSample));
    Append(fmt, static_cast<std::uint16_t>(8 * bytesPerSample));
    Append(fmt, std::uint16_t{0});
    std::string fact;
    Append(fact,
           static_cast<std::uint32_t>(samples.size() / static_cast<std::size_t>(bytesPerSample)));
    const std::string body = "WAVE" + Chunk("fmt ", fmt) + Chunk("fact", fact) +
                             Chunk("PEAK", std::string(16, '\0')) + Chunk("note", "odd") +
                             Chunk("data", samples);
    std::string file = "RIFF";
    Append(file, static_cast<std::uint32_t>(body.size()));
    return file + body;
}

std::string Encoded(const std::vector<double>& h, bool wide) {
    std::string bytes;
    for (double v : h)
        wide ? Append(bytes, v) : Append(bytes, static_cast<float>(v));
    return bytes;
}

struct Case {
    const char* name;
    std::vector<std::string> bands;
    SetFormat format;
    int taps;
    int rate;
};

void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

class BruteFirProof : public ::testing::TestWithParam<Case> {};

TEST_P(BruteFirProof, EveryOutputIsItsBandsCoefficients) {
    const fs::path brutefir = FindBruteFir();
    if (brutefir.empty()) GTEST_SKIP() << "brutefir is not installed (apt-get install brutefir)";
    const Case& c = GetParam();
    tarn::test::TempDir dir;
    const bool wav = c.format == SetFormat::WavFloat32 || c.format == SetFormat::WavFloat64;
    const bool wide = c.format == SetFormat::RawDouble || c.format == SetFormat::WavFloat64;

    ExportInput in;
    in.set.projectDirectory = dir.Path().string();
    in.set.bands = c.bands;
    in.set.format = c.format;
    in.set.rates = {c.rate};
    for (std::size_t i = 1; i < c.bands.size(); ++i)
        in.design.frequencies.push_back(std::to_string(100 * i));
    in.design.taps = c.taps;

    // The band files, exactly as named by the set's rule.
    std::vector<std::vector<double>> expected;
    for (std::size_t band = 0; band < c.bands.size(); ++band)
        for (int side = 0; side < 2; ++side) {
            std::vector<double> h = KnownFir(static_cast<int>(band), side, c.taps);
            std::string bytes = Encoded(h, wide);
            if (wav) {
                bytes = WavFile(bytes, wide ? 8 : 4, c.rate);
                in.options.wavDataOffset = WavDataOffset(bytes);
                ASSERT_TRUE(in.options.wavDataOffset.has_value());
            }
            if (!wide)
                for (double& v : h)
                    v = static_cast<float>(v);
            const std::string name =
                WrittenFileName(c.bands[band], side ? Side::Right : Side::Left, c.rate, c.format);
            WriteBytes(dir.Path() / name, bytes);
            expected.push_back(h);
        }

    // Input: the left impulse at frame 0, the right one a whole filter later.
    const Partitions p = BruteFirPartitions(c.taps);
    const int span = p.length * p.count;
    const int rightAt = span;
    const int frames = 3 * span;
    std::vector<double> input(2 * static_cast<std::size_t>(frames), 0.0);
    input[0] = 1.0;
    input[2 * static_cast<std::size_t>(rightAt) + 1] = 1.0;
    const fs::path inFile = dir.Path() / "impulse.raw";
    const fs::path outFile = dir.Path() / "outputs.raw";
    WriteBytes(inFile, Encoded(input, true));

    in.options.bruteFirInput = {BruteFirIo::Module::File, inFile.string(), "FLOAT64_LE"};
    in.options.bruteFirOutput = {BruteFirIo::Module::File, outFile.string(), "FLOAT64_LE"};
    const ExportResult result = Export(Engine::BruteFir, in);
    ASSERT_TRUE(result.Ok()) << result.error;
    ASSERT_EQ(result.files.size(), 1u);
    const fs::path config = dir.Path() / result.files[0].name;
    tarn::test::WriteText(config, result.files[0].content);

    // -nodefault: the generated file alone must be complete. HOME holds BruteFIR's FFT
    // wisdom file.
    const fs::path log = dir.Path() / "brutefir.log";
    const std::string command = "HOME='" + dir.Path().string() + "' '" + brutefir.string() +
                                "' -nodefault -quiet '" + config.string() + "' >'" + log.string() +
                                "' 2>&1";
    const int status = std::system(command.c_str());
    ASSERT_EQ(status, 0) << command << "\n" << tarn::test::ReadText(log);

    const std::vector<double> out = tarn::test::ReadDoubles(outFile);
    const std::size_t channels = 2 * c.bands.size();
    ASSERT_EQ(out.size(), channels * static_cast<std::size_t>(frames));
    double worst = 0.0;
    for (std::size_t ch = 0; ch < channels; ++ch) {
        const std::vector<double>& h = expected[ch];
        const int shift = ch % 2 ? rightAt : 0;
        double peak = 0.0;
        for (double v : h)
            peak = std::max(peak, std::abs(v));
        double error = 0.0;
        for (int n = 0; n < frames; ++n) {
            const int k = n - shift;
            const double want = k >= 0 && k < c.taps ? h[static_cast<std::size_t>(k)] : 0.0;
            error =
                std::max(error, std::abs(out[static_cast<std::size_t>(n) * channels + ch] - want));
        }
        const double relative = error / peak;
        EXPECT_LT(relative, 1e-6) << "output " << ch;
        worst = std::max(worst, relative);
    }
    std::printf("[ brutefir ] %zu outputs, %d taps in %d x %d, largest relative error %.3g\n",
                channels, c.taps, p.length, p.count, worst);
    RecordProperty("largest_relative_error", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(
    Sets, BruteFirProof,
    ::testing::Values(
        Case{"FourWayDouble65536",
             {"Sub", "Low", "Mid", "High"},
             SetFormat::RawDouble,
             65536,
             48000},
        Case{"TwoWayFloat6000", {"Low", "High"}, SetFormat::RawFloat, 6000, 44100},
        Case{"OneWayWav64Bit1000", {""}, SetFormat::WavFloat64, 1000, 96000},
        Case{"ThreeWayWav32Bit4096", {"Low", "Mid", "High"}, SetFormat::WavFloat32, 4096, 192000}),
    [](const ::testing::TestParamInfo<Case>& param) { return std::string(param.param.name); });

} // namespace
