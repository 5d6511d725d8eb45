#include "analysis/RealTransform.h"

#include <bit>
#include <stdexcept>

namespace tarn {

namespace {

std::int32_t CheckedSize(std::size_t size) {
    if (size < 4 || size >= (std::size_t{1} << 31) || !std::has_single_bit(size))
        throw std::invalid_argument("RealTransform: size must be a power of two >= 4");
    return static_cast<std::int32_t>(size);
}

} // namespace

RealTransform::RealTransform(std::size_t size)
    : size_(size), sines_(fft::QuarterWaveSines(CheckedSize(size))),
      fft_(static_cast<std::int32_t>(size), {sines_.data(), static_cast<std::int32_t>(size)}) {}

std::vector<std::complex<double>> RealTransform::Forward(std::span<const double> x) {
    if (x.size() > size_) throw std::invalid_argument("RealTransform: input longer than size");
    const double* samples = x.data();
    const std::size_t count = x.size();
    // The bins in place in the work arrays first, then copied out in order: one pass over
    // the new vector instead of clearing it and filling it in pairs from both ends.
    const std::int32_t half = static_cast<std::int32_t>(size_ / 2);
    double* re = fft_.Re();
    double* im = fft_.Im();
    double nyquist = 0.0;
    fft_.Forward(
        std::countr_zero(size_),
        [samples, count](std::int32_t t, double& zr, double& zi) {
            const std::size_t even = 2 * static_cast<std::size_t>(t);
            zr = even < count ? samples[even] : 0.0;
            zi = even + 1 < count ? samples[even + 1] : 0.0;
        },
        [=, &nyquist](std::int32_t k, double binRe, double binIm) {
            if (k == half) {
                nyquist = binRe;
            } else {
                re[k] = binRe;
                im[k] = binIm;
            }
        });
    std::vector<std::complex<double>> out;
    out.reserve(static_cast<std::size_t>(half) + 1);
    for (std::int32_t k = 0; k < half; ++k)
        out.emplace_back(re[k], im[k]);
    out.emplace_back(nyquist, 0.0);
    return out;
}

} // namespace tarn
