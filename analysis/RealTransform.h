// A forward real FFT on buffers of its own, for reading coefficient files back.
//
// The design transforms in spectral/ work on the shared spectrum workspace, which belongs
// to a running calculation; the analysis must be able to run beside one (the response
// window refreshes between runs, tarn-cli report runs alone), so it has its own.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

namespace tarn {

class RealTransform {
  public:
    // size: number of points, a power of two, at least 4.
    explicit RealTransform(std::size_t size);

    std::size_t Size() const { return size_; }

    // Bins 0..Size()/2 of the unscaled forward DFT, X[k] = sum x[m] exp(-2 pi i k m / Size()),
    // of x zero-padded to Size() points. x.size() <= Size().
    std::vector<std::complex<double>> Forward(std::span<const double> x);

  private:
    std::size_t size_;
    std::size_t half_;
    // exp(-2 pi i k / size_) for k = 0..size_/2-1: the half-length transform uses every
    // second entry, the split into the real spectrum every entry.
    std::vector<double> cos_;
    std::vector<double> sin_;
    std::vector<std::size_t> reversed_; // bit reversal of 0..half_-1
    std::vector<double> re_;            // work buffers of the half-length transform
    std::vector<double> im_;
};

} // namespace tarn
