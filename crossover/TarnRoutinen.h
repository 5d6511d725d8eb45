// TarnRoutinen: from entered texts to band responses in the workspace and coefficient files.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/AtomicFile.h"
#include "crossover/Bands.h"

namespace tarn {

// The crossover frequency [Hz] a field's text holds, rounded to a 32-bit float, or -1 when
// the text is not a positive number. "1,5" reads as 1.5 whatever the process's locale.
// Throws FloatOverflowError for a number beyond the range of a 32-bit float.
float ParseFrequency(const std::string& text);

// Band designs: each leaves a 65536-tap impulse response in SpecRe (zeros in SpecIm),
// linear phase with its peak at sample 32768, or minimum phase when the window's option
// is ticked. order: 1..50; frequencies [Hz], > 0.
void DesignLowPass(std::int32_t order, double fc);
void DesignHighPass(std::int32_t order, double fc);
// fl: lower edge, the corner of the high-pass factor; fu: upper edge, of the low-pass
// factor. Not swapped when given the wrong way round.
void DesignBandPass(std::int32_t order, double fl, double fu);

// Gives the magnitudes in SpecRe[0..N/2] the phase every linear-phase band shares, k * pi at
// bin k, and leaves the rectangular spectrum there: the inverse transform then puts the peak
// at tap N/2. SpecIm is overwritten.
void ApplyLinearPhase();

// The design of one band of the table (crossover/Bands.h) for the four crossover
// frequencies [Hz]; the full range of a one-way system is a unit impulse at tap 0.
void DesignBand(const Band& band, std::int32_t order, const double* frequencies);

// Writes SpecRe as ProjectPath + name + ".dbl" (64-bit) or ".pcm" (32-bit). The file
// appears under its name only once completely written; throws InOutError otherwise.
void WriteCoefficients(const std::string& name);
// The same record written as a file of a set, named name + the extension, to appear only
// when the set is committed; returns the file's name. Throws InOutError.
std::string StageCoefficients(AtomicFileSet& files, const std::string& name);
// Taps of any count written as a file of a set: name + ".dbl"/".pcm" by DoublePrecision, or
// name + ".wav" (mono float WAV at sampleRate [Hz]) when wav. Returns the file's name.
std::string StageCoefficients(AtomicFileSet& files, const std::string& name,
                              std::span<const double> taps, bool wav, double sampleRate);

// The code of the input/output error for a failed file operation.
int InOutCode(const AtomicFileError& error);

// Removes the coefficient files of an earlier run from ProjectPath: every band, side, rate
// tag and extension, and "TestFilter.pcm", except read-only files and the names in keep.
void DeleteOutputs(const std::vector<std::string>& keep = {});

// Magnitude floor of every designed bin: -120 dB.
inline constexpr double MagnitudeFloor = 1e-6;

} // namespace tarn
