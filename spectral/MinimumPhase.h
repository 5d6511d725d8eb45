// Minimum-phase conversion of the impulse response in SpecRe (part of module FastFourier).
//
// The conversion goes through the real cepstrum: the log magnitude of the zero-padded
// response (L = CepstrumLength points) is transformed to the cepstrum, which is folded
// onto its causal half and cut to its first S = FoldedLength values, transformed back,
// exponentiated, and transformed to the new response. Every twiddle factor is an exact
// entry of a quarter-wave sine table of period P = L.
//
// Fast path: MinimumPhase computes those four transforms from the structure of the data, on
// the radix-4 kernel of FftKernel.h (MinimumPhase.cpp explains how), with SineTable's entries
// as twiddles. Reference interface: CepstrumFFT is the literal radix-2 transform of the
// definition, which the conversion does not call; it, TableSine and BuildSineTable keep their
// defined results, and the tests hold the conversion against the literal steps built on them.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

namespace tarn {

struct TComplex {
    double Re, Im;
};

// Sizes of the last conversion. They keep their values after it, but nothing reads them
// until the next conversion sets them again.
inline thread_local std::int32_t FoldedLength = 0;   // S: size of the two short transforms
inline thread_local std::int32_t CepstrumLength = 0; // L = 4 S: size of the two long transforms
inline thread_local std::int32_t TablePeriod = 0;    // P = L: angle steps in one full turn

// The quarter-wave table: entry i = sin(2 pi i / P) for i = 0..P/4-1, exactly 1.0 at P/4.
// Filled by BuildSineTable for the current TablePeriod; empty between conversions (but see
// KeepConversionTables).
inline thread_local std::vector<double> SineTable;

// Longest stretch of conversion work [wall time] after which the window gets to handle
// its pending messages. Besides, the window is pumped once at the start of each of the
// conversion's four transforms. Tests may lower it to zero to pump at every check.
inline std::chrono::microseconds MinimumPhasePumpInterval{20000};

// Replaces SpecRe[0..n] by the minimum-phase response with (nearly) the same magnitude.
// n: highest sample index to convert, odd and > 256, n + 1 <= SpecLength. An even n or
// one below 256 shows a message and changes nothing. SpecRe beyond n and SpecIm are
// left alone. An all-zero response is left as it is.
void MinimumPhase(std::int32_t n);

// While one lives on a thread, the conversions on that thread keep SineTable and their work
// arrays (about 13 MiB for n = 65535) for the next conversion of the same size, instead of
// building them again for each band; the last one to go frees them. Without one, SineTable
// is empty between conversions.
class KeepConversionTables {
  public:
    KeepConversionTables();
    ~KeepConversionTables();
    KeepConversionTables(const KeepConversionTables&) = delete;
    KeepConversionTables& operator=(const KeepConversionTables&) = delete;
};

// Sizes SineTable to TablePeriod/4 + 1 entries and fills it. TablePeriod: a power of
// two, at least 4.
void BuildSineTable();

// sin(2 pi k / P) for any k, negative or beyond one turn, read from SineTable by
// quarter-wave symmetry, so P/4, P/2 and 3P/4 give exactly 1, 0 and -1. Every few
// thousand calls it lets the window handle its pending messages.
double TableSine(std::int32_t k);

// In-place radix-2 DFT of data[0..count-1] with twiddles from SineTable (reference interface:
// the conversion does not use it). count: a power of two dividing TablePeriod. sign > 0: forward,
// exp(-2 pi i k m / count); sign <= 0: inverse, exp(+2 pi i k m / count). scale: every result
// multiplied by 2^-log2(count), an exact change of exponent. Pumps the window once at the start
// (and through TableSine).
void CepstrumFFT(std::vector<TComplex>& data, std::int32_t count, std::int32_t sign, bool scale);

} // namespace tarn
