// FastFourier: the shared spectrum workspace and the transforms every band is built with.
//
// Conventions, stated once for every routine in this module:
//   * Forward transform:  X[k] = sum_{m=0}^{n-1} x[m] * exp(-2*pi*i*k*m/n), unscaled.
//   * Inverse transform:  x[m] = (1/n) * sum_{k=0}^{n-1} X[k] * exp(+2*pi*i*k*m/n).
//   * Bin layout: element k of (SpecRe, SpecIm) is bin k, at k * fs / SpecLength Hz.
//     Bins 0..N/2 carry a real signal's information, N/2 is the Nyquist bin, and for a
//     real signal bin N-k is the complex conjugate of bin k.
//   * Sizes: N (SpecLength) must be a power of two >= 2; nothing here checks it. In use
//     N is always 65536.
//   * The workspace holds one of three forms at a time: polar (magnitude, phase [rad]),
//     rectangular (re, im), or a time signal (samples in SpecRe, zeros in SpecIm).
//
// SplitFFT, RealFFT and InverseRealFFT are the reference interface of the linear-phase
// bands: their results are defined operation by operation (radix-2 stages, twiddles from the
// recurrence u = u * w), and they deliver exactly those bits. Their fast path is the shared
// kernel (FftKernel.h: Radix2Fft, with the twiddles kept between calls) and the shared
// real-spectrum split (RealSpectrum.h). The transforms work in place; after their first call
// they allocate nothing. Each one lets the window process
// its pending messages once when it starts, so a long calculation keeps the window live.
#pragma once

#include <cstdint>
#include <vector>

#include "spectral/MinimumPhase.h"

namespace tarn {

// The workspace. Other modules read and write elements 0..SpecLength-1 directly. Each thread
// has its own (as have the tables and caches behind the transforms), so two threads can
// design bands at once; the window's thread uses the one its run has always used.
inline thread_local std::vector<double> SpecRe;
inline thread_local std::vector<double> SpecIm;
inline thread_local std::int32_t SpecLength = 0;

// Empties both arrays, then sizes both to n elements of 0.0 and sets SpecLength = n.
void AllocSpectrum(std::int32_t n);
// Empties both arrays; SpecLength keeps its value.
void FreeSpectrum();
void ClearRe();
void ClearIm();
void ClearSpectrum();

// Polar to rectangular for bins 0..N/2; the bins above are left alone.
void PolarToRect();

// Frequency of bin k [Hz] for sample period T [s], > 0: (k / T) / N. Bin 0 answers
// 1e-7 Hz rather than 0, so that a magnitude formula with a power of f stays finite.
double BinFrequency(std::int32_t k, double T);

// Forward complex DFT, in place, of elements 0..n-1 (n a power of two, n <= N).
void SplitFFT(std::int32_t n);
// Forward DFT of the real sequence SpecRe[0..N-1] through SplitFFT(N/2); the full spectrum,
// bins 0..N-1, replaces both arrays. SpecIm[0] and SpecIm[N/2] come out exactly 0.
void RealFFT();
// Inverse DFT of the conjugate-symmetric spectrum given by bins 0..N/2. The real result
// lands in SpecRe[0..N-1]; SpecIm becomes all zero. A value left in SpecIm[0] or
// SpecIm[N/2] acts as if it were added to the real part of that bin.
void InverseRealFFT();

// Lets the window handle whatever is waiting (repaints, timer ticks, clicks).
void PumpMessages();

} // namespace tarn
