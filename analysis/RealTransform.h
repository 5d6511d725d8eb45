// A forward real FFT on buffers of its own, for reading coefficient files back.
//
// The design transforms in spectral/ work on the shared spectrum workspace, which belongs
// to a running calculation; the analysis must be able to run beside one (the response
// window refreshes between runs, tarn-cli report runs alone), so it has its own: the shared
// kernel and real-spectrum split (spectral/RealSpectrum.h) with a sine table of its own.
#pragma once

#include <complex>
#include <cstddef>
#include <span>
#include <vector>

#include "spectral/RealSpectrum.h"

namespace tarn {

class RealTransform {
  public:
    // size: number of points, a power of two, at least 4 and below 2^31.
    explicit RealTransform(std::size_t size);

    // Bins 0..size/2 of the unscaled forward DFT, X[k] = sum x[m] exp(-2 pi i k m / size),
    // of x zero-padded to size points. x.size() <= size.
    std::vector<std::complex<double>> Forward(std::span<const double> x);

  private:
    std::size_t size_;
    std::vector<double> sines_; // quarter-wave table of period size_
    fft::RealFft fft_;
};

} // namespace tarn
