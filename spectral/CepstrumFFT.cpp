// The quarter-wave table of the minimum-phase conversion and the literal transform of its
// definition (see MinimumPhase.h: the reference interface).
#include <algorithm>
#include <bit>
#include <cmath>

#include "spectral/FastFourier.h"
#include "spectral/FftKernel.h"
#include "spectral/MinimumPhase.h"

namespace tarn {
namespace {

// Beside TablePeriod: the points TableSine reduces by, set by BuildSineTable.
thread_local std::int32_t tableHalf = 0;
thread_local std::int32_t tableQuarter = 0;
thread_local std::int32_t tableThreeQuarters = 0;

// TableSine lets the window in once per this many lookups: a whole message pass per lookup
// would cost more than the transforms themselves.
constexpr int LookupsPerPump = 4096;
thread_local int lookupsUntilPump = LookupsPerPump;

} // namespace

void BuildSineTable() {
    const std::int32_t p = TablePeriod;
    tableHalf = p / 2;
    tableQuarter = p / 4;
    tableThreeQuarters = tableHalf + tableQuarter;
    SineTable = fft::QuarterWaveSines(p);
}

double TableSine(std::int32_t k) {
    if (--lookupsUntilPump <= 0) {
        lookupsUntilPump = LookupsPerPump;
        PumpMessages();
    }
    const std::int32_t p = TablePeriod;
    k %= p;
    if (k < 0) k += p;
    if (k <= tableQuarter) return SineTable[k];
    if (k <= tableHalf) return SineTable[tableHalf - k];
    if (k <= tableThreeQuarters) return -SineTable[k - tableHalf];
    return -SineTable[p - k];
}

void CepstrumFFT(std::vector<TComplex>& data, std::int32_t count, std::int32_t sign, bool scale) {
    PumpMessages();
    // Radix-2 stages with table twiddles: butterfly m of the stage of half-size h turns by the
    // angle 2 pi m / 2h = 2 pi (m step) / P. Each stage's twiddles are looked up once, in the
    // order the literal loop looks them up, and every butterfly computes exactly what it
    // computes there.
    fft::Radix2Fft kernel;
    kernel.Prepare(std::max(count, 1), [sign](std::int32_t h, double* wr, double* wi) {
        const std::int32_t p = TablePeriod, step = p / (2 * h);
        for (std::int32_t m = 0, angle = 0; m < h; ++m, angle += step) {
            std::int32_t cosine = angle - tableThreeQuarters;
            if (cosine < 0) cosine += p;
            wr[m] = TableSine(cosine);
            wi[m] = TableSine(angle);
            if (sign > 0) wi[m] = -wi[m];
        }
    });
    std::vector<double> re(count), im(count);
    for (std::int32_t i = 0; i < count; ++i) {
        re[i] = data[i].Re;
        im[i] = data[i].Im;
    }
    kernel.Transform(re.data(), im.data(), count);
    // 2^-log2(count): an exact change of exponent, not a division.
    const double factor = scale ? std::ldexp(1.0, -std::countr_zero(std::uint32_t(count))) : 1.0;
    for (std::int32_t i = 0; i < count; ++i)
        data[i] = {re[i] * factor, im[i] * factor};
}

} // namespace tarn
