// WAV coefficient files: what libsndfile and sox read back from the bytes Tarn encodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "crossover/WavFile.h"
#include "tests/TestSupport.h"

namespace tarn {
namespace {

namespace fs = std::filesystem;

void WriteBytes(const fs::path& file, const std::vector<unsigned char>& bytes) {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// The output of a shell command, or nothing when it could not run.
std::string Command(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe))
            out += buffer;
        ::pclose(pipe);
    }
    return out;
}

// Taps with every kind of value a band holds: tiny tails, negatives, values that a float
// cannot hold exactly.
std::vector<double> Taps(std::size_t n) {
    std::vector<double> taps(n);
    for (std::size_t i = 0; i < n; ++i)
        taps[i] = std::sin(0.37 * static_cast<double>(i)) *
                  std::exp(-1e-3 * static_cast<double>(i)) / 3.0;
    taps[1] = 1e-300;
    taps[2] = -0.0;
    return taps;
}

TEST(WavFile, ReadsBackWithRateChannelsFormatAndSamples) {
    test::TempDir dir;
    struct Case {
        int rate;
        bool doublePrecision;
        std::size_t taps;
    };
    for (const Case& c : {Case{44100, true, 65536}, Case{48000, false, 65536},
                          Case{96000, true, 8192}, Case{192000, false, 6144}}) {
        const std::vector<double> taps = Taps(c.taps);
        const std::vector<unsigned char> bytes =
            EncodeWav(taps.data(), taps.size(), c.rate, c.doublePrecision);
        EXPECT_EQ(bytes, EncodeWav(taps.data(), taps.size(), c.rate, c.doublePrecision))
            << "two encodings of one band differ";
        const fs::path file = dir.Path() / ("band" + std::to_string(c.rate) + ".wav");
        WriteBytes(file, bytes);

        const WavContents w = ReadWav(file);
        EXPECT_EQ(w.sampleRate, c.rate);
        EXPECT_EQ(w.channels, 1);
        EXPECT_TRUE(w.floatSamples);
        EXPECT_EQ(w.doublePrecision, c.doublePrecision);
        ASSERT_EQ(w.samples.size(), taps.size());
        for (std::size_t i = 0; i < taps.size(); ++i) {
            const double expected =
                c.doublePrecision ? taps[i] : static_cast<double>(static_cast<float>(taps[i]));
            ASSERT_EQ(w.samples[i], expected) << c.rate << " Hz, tap " << i;
        }
        // The data chunk holds nothing but the samples: header plus samples, a few chunks.
        const std::size_t sampleBytes = taps.size() * (c.doublePrecision ? 8 : 4);
        EXPECT_GE(bytes.size(), sampleBytes + 44);
        EXPECT_LE(bytes.size(), sampleBytes + 128);
    }
}

TEST(WavFile, SoxReadsTheHeader) {
    if (Command("command -v sox").empty()) GTEST_SKIP() << "sox is not installed";
    test::TempDir dir;
    const std::vector<double> taps = Taps(4096);
    for (const auto& [rate, doublePrecision, bits] :
         {std::tuple{88200, true, "64-bit"}, std::tuple{176400, false, "32-bit"}}) {
        const fs::path file = dir.Path() / "XOHighL.wav";
        WriteBytes(file, EncodeWav(taps.data(), taps.size(), rate, doublePrecision));
        const std::string info = Command("sox --i '" + file.string() + "' 2>&1");
        EXPECT_NE(info.find("Channels       : 1"), std::string::npos) << info;
        EXPECT_NE(info.find("Sample Rate    : " + std::to_string(rate)), std::string::npos) << info;
        EXPECT_NE(info.find("Precision      : "), std::string::npos) << info;
        EXPECT_NE(info.find("Floating Point PCM"), std::string::npos) << info;
        EXPECT_NE(info.find(std::string("Sample Encoding: ") + bits), std::string::npos) << info;
        EXPECT_NE(info.find("4096 samples"), std::string::npos) << info;
    }
}

TEST(WavFile, WhatIsNotASoundFileIsAnError) {
    test::TempDir dir;
    for (const std::string& content :
         {std::string(), std::string("RIFF"), std::string(524288, '\0')}) {
        const fs::path file = dir.Path() / "XOLowL44.wav";
        test::WriteText(file, content);
        EXPECT_THROW(ReadWav(file), WavError) << content.size() << " bytes";
    }
    EXPECT_THROW(ReadWav(dir.Path() / "missing.wav"), WavError);
}

} // namespace
} // namespace tarn
