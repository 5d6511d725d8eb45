#include "analysis/RealTransform.h"

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace tarn {

RealTransform::RealTransform(std::size_t size) : size_(size), half_(size / 2) {
    if (size < 4 || (size & (size - 1)) != 0)
        throw std::invalid_argument("RealTransform: size must be a power of two >= 4");
    cos_.resize(half_);
    sin_.resize(half_);
    // Angles of the first eighth turn in long double, so that the table is as exact as a
    // double can hold it; the rest by symmetry, which keeps set-up quick for 2^18 points.
    const std::size_t eighth = size / 8, quarter = size / 4;
    const long double step =
        2.0L * std::numbers::pi_v<long double> / static_cast<long double>(size);
    for (std::size_t k = 0; k <= eighth; ++k) {
        const long double angle = step * static_cast<long double>(k);
        cos_[k] = static_cast<double>(std::cos(angle));
        sin_[k] = static_cast<double>(std::sin(angle));
    }
    for (std::size_t k = eighth + 1; k <= quarter; ++k) { // sin and cos of pi/2 - angle
        cos_[k] = sin_[quarter - k];
        sin_[k] = cos_[quarter - k];
    }
    for (std::size_t k = quarter + 1; k < half_; ++k) { // of pi - angle
        cos_[k] = -cos_[half_ - k];
        sin_[k] = sin_[half_ - k];
    }
    for (double& s : sin_) // the forward transform turns the other way
        s = -s;
    reversed_.resize(half_);
    std::size_t bits = 0;
    while ((std::size_t{1} << bits) < half_)
        ++bits;
    for (std::size_t i = 0; i < half_; ++i) {
        std::size_t r = 0;
        for (std::size_t b = 0; b < bits; ++b)
            r |= ((i >> b) & 1u) << (bits - 1 - b);
        reversed_[i] = r;
    }
    re_.resize(half_);
    im_.resize(half_);
}

std::vector<std::complex<double>> RealTransform::Forward(std::span<const double> x) {
    if (x.size() > size_) throw std::invalid_argument("RealTransform: input longer than size");

    // Even samples as real parts, odd ones as imaginary parts, in bit-reversed order.
    for (std::size_t m = 0; m < half_; ++m) {
        const std::size_t even = 2 * m;
        const std::size_t r = reversed_[m];
        re_[r] = even < x.size() ? x[even] : 0.0;
        im_[r] = even + 1 < x.size() ? x[even + 1] : 0.0;
    }

    // Radix-2 decimation in time over half_ points; its twiddle exp(-2 pi i j / len) is
    // entry j * (size_ / len) of the table.
    for (std::size_t len = 2; len <= half_; len *= 2) {
        const std::size_t h = len / 2;
        const std::size_t stride = size_ / len;
        for (std::size_t start = 0; start < half_; start += len) {
            for (std::size_t j = 0; j < h; ++j) {
                const double wr = cos_[j * stride];
                const double wi = sin_[j * stride];
                const std::size_t a = start + j;
                const std::size_t b = a + h;
                const double tr = re_[b] * wr - im_[b] * wi;
                const double ti = re_[b] * wi + im_[b] * wr;
                re_[b] = re_[a] - tr;
                im_[b] = im_[a] - ti;
                re_[a] += tr;
                im_[a] += ti;
            }
        }
    }

    // Split Z = FFT(even + i odd) into the spectra of the even and odd samples and join
    // them: X[k] = E[k] + exp(-2 pi i k / size_) O[k], with
    // E[k] = (Z[k] + conj Z[h-k]) / 2 and O[k] = (Z[k] - conj Z[h-k]) / 2i.
    std::vector<std::complex<double>> out(half_ + 1);
    out[0] = {re_[0] + im_[0], 0.0};
    out[half_] = {re_[0] - im_[0], 0.0};
    for (std::size_t k = 1; k < half_; ++k) {
        const double zr = re_[k], zi = im_[k];
        const double cr = re_[half_ - k], ci = -im_[half_ - k]; // conj Z[h-k]
        const double er = 0.5 * (zr + cr), ei = 0.5 * (zi + ci);
        // (a + ib) / 2i = (b - ia) / 2
        const double dr = zr - cr, di = zi - ci;
        const double orr = 0.5 * di, oi = -0.5 * dr;
        const double wr = cos_[k], wi = sin_[k];
        out[k] = {er + (orr * wr - oi * wi), ei + (orr * wi + oi * wr)};
    }
    return out;
}

} // namespace tarn
