// The DFT straight from its definition, in long double: the oracle every transform test
// holds the fast transforms against.
#pragma once

#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <vector>

namespace tarn::test {

using LongComplex = std::complex<long double>;

// X[k] = sum_m x[m] exp(sign 2 pi i k m / n), k = 0..n-1, unscaled, of x zero-padded to n
// points: sign -1 is the forward transform, +1 the inverse. n = 0 takes n = x.size().
inline std::vector<LongComplex> DirectDft(const std::vector<LongComplex>& x, int sign = -1,
                                          std::size_t n = 0) {
    if (n == 0) n = x.size();
    const long double turn = sign * 2 * std::numbers::pi_v<long double>;
    std::vector<LongComplex> out(n);
    for (std::size_t k = 0; k < n; ++k) {
        LongComplex sum = 0;
        for (std::size_t m = 0; m < x.size(); ++m) {
            // The angle reduced to one turn first, exactly, in integers.
            const long double angle = turn * static_cast<long double>((k * m) % n) / n;
            sum += x[m] * LongComplex(std::cos(angle), std::sin(angle));
        }
        out[k] = sum;
    }
    return out;
}

} // namespace tarn::test
