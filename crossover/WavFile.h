// Coefficient files as WAV: a mono IEEE-float WAV per band and side, for the engines that
// read filters only through libsndfile (Equalizer APO, Roon, JRiver, HQPlayer).
//
// The bytes are made in memory through libsndfile, so the file reaches its name the same way
// as every other coefficient file: complete or not at all.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "crossover/Tarndef.h"

namespace tarn {

// A WAV file that cannot be encoded or read; the message names the reason.
class WavError : public TarnError {
  public:
    using TarnError::TarnError;
};

// The bytes of a mono WAV holding taps[0..count-1] at sampleRate [Hz]: 64-bit float samples
// when doublePrecision (the taps unchanged), else 32-bit float (each tap rounded to nearest,
// as in a ".pcm" file). No PEAK chunk, so the same taps always give the same bytes.
std::vector<unsigned char> EncodeWav(const double* taps, std::size_t count, int sampleRate,
                                     bool doublePrecision);

struct WavContents {
    int sampleRate = 0;
    int channels = 0;
    bool floatSamples = false;    // IEEE float samples (32- or 64-bit)
    bool doublePrecision = false; // 64-bit float samples
    std::vector<double> samples;  // the first channel, every frame
};

// Reads a WAV file through libsndfile; throws WavError with libsndfile's reason when it is
// not a sound file libsndfile reads.
WavContents ReadWav(const std::filesystem::path& file);

// The libsndfile the program runs with, as it names itself ("libsndfile-1.2.0").
std::string SndfileVersion();

} // namespace tarn
