// The cosine transform that turns the log magnitude of the minimum-phase conversion into its
// cepstrum, and the order in which it wants that spectrum stored. Conventions as in
// FftKernel.h; all twiddles are exact entries of the conversion's quarter-wave table.
#pragma once

#include <cstdint>
#include <memory>

#include "spectral/FftKernel.h"
#include "spectral/RealSpectrum.h"

namespace tarn::fft {

// The bins k = 0..H of a real spectrum, H = 8 M with M = 2^m >= 4, kept by residue: bin 16q + r
// in row r at place rev(q), q < M/2 reversed over log2(M/2) bits; bin H alone (q = M/2) at
// the end of row 0. The residue transforms of the conversion deliver their bins in
// bit-reversed order, and the type-II transforms below, which take every 2nd, 4th, 8th ...
// bin in bit-reversed order of their own, then read the rows from start to end: both run
// through memory in order.
class ResidueRows {
  public:
    // half: H. kernel: for the bit reversal, MaxLog() >= log2(M/2).
    ResidueRows(std::int32_t half, const Radix4Fft& kernel);

    // Where bin 16q + r lies within row r.
    std::int64_t Place(std::int64_t q) const {
        return q < rowBins_ ? static_cast<std::int64_t>(kernel_.Reversed(q, rowBits_)) : q;
    }
    double& operator[](std::int64_t k) const { return store_[(k & 15) * length_ + Place(k >> 4)]; }
    double* Row(std::int32_t r) const { return store_.get() + r * std::size_t(length_); }
    // Bins in row r: M/2, and one more (bin H) in row 0.
    std::int32_t RowBins(std::int32_t r) const { return rowBins_ + (r == 0 ? 1 : 0); }

  private:
    const Radix4Fft& kernel_;
    std::int32_t rowBins_; // M/2
    int rowBits_;          // log2(M/2)
    std::int32_t length_;  // M/2 + 1 and a gap, so that rows do not share cache sets
    std::unique_ptr<double[]> store_;
};

// out[m] for m = 0..H/2-1: the first half of the type-I cosine transform of the H + 1 values
// v[j] = bins[j],
//     out[m] = v[0] + (-1)^m v[H] + 2 sum_{j=1}^{H-1} v[j] cos(pi j m / H).
// out needs room for H/2 + 1 values (the last one is scratch). fft: a real transform of H/2
// points whose table's period is a multiple of 2H; its kernel and work arrays do the work.
// progress: told of the work done, may be null.
void HalfCosineI(const ResidueRows& bins, const RealFft& fft, Progress progress, double* out);

} // namespace tarn::fft
