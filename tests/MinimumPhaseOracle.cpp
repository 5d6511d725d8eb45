#include "tests/MinimumPhaseOracle.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace tarn::oracle {
namespace {

struct Table {
    std::int32_t p, half, quarter, threeQuarters;
    std::vector<double> sine;

    explicit Table(std::int32_t period)
        : p(period), half(period / 2), quarter(period / 4), threeQuarters(period / 2 + period / 4) {
        sine.resize(quarter + 1);
        const double step = 2.0 * std::numbers::pi / p;
        for (std::int32_t i = 0; i < quarter; ++i)
            sine[i] = std::sin(i * step);
        sine[quarter] = 1.0;
    }

    double Sine(std::int32_t k) const {
        while (k < 0)
            k += p;
        while (k >= p)
            k -= p;
        if (k <= quarter) return sine[k];
        if (k <= half) return sine[half - k];
        if (k <= threeQuarters) return -sine[k - half];
        return -sine[p - k];
    }
};

void Fft(const Table& table, std::vector<TComplex>& data, std::int32_t count, std::int32_t sign,
         bool scale) {
    std::int32_t j = 0;
    for (std::int32_t i = 0; i <= count - 1; ++i) {
        if (j > i) std::swap(data[i], data[j]);
        std::int32_t m = count / 2;
        while (m >= 1 && j >= m) {
            j = j - m;
            m = m / 2;
        }
        j = j + m;
    }
    std::int32_t half = 1, step = table.p;
    while (count > half) {
        const std::int32_t span = 2 * half;
        step = step / 2;
        std::int32_t angle = 0;
        for (std::int32_t m = 0; m <= half - 1; ++m) {
            std::int32_t cosineIndex = angle - table.threeQuarters;
            if (cosineIndex < 0) cosineIndex += table.p;
            const double wr = table.Sine(cosineIndex);
            double wi = table.Sine(angle);
            if (sign > 0) wi = -wi;
            angle = angle + step;
            for (std::int32_t i = m; i <= count - 1; i += span) {
                const std::int32_t k = i + half;
                const double tr = data[k].Re * wr - data[k].Im * wi;
                const double ti = data[k].Re * wi + data[k].Im * wr;
                data[k].Re = data[i].Re - tr;
                data[k].Im = data[i].Im - ti;
                data[i].Re = data[i].Re + tr;
                data[i].Im = data[i].Im + ti;
            }
        }
        half = span;
    }
    if (scale) {
        int d = 0;
        while ((1 << d) < count)
            ++d;
        for (std::int32_t i = 0; i <= count - 1; ++i) {
            data[i].Re = std::ldexp(data[i].Re, -d);
            data[i].Im = std::ldexp(data[i].Im, -d);
        }
    }
}

} // namespace

void CepstrumFFT(std::vector<TComplex>& data, std::int32_t count, std::int32_t sign, bool scale,
                 std::int32_t period) {
    const Table table(period);
    Fft(table, data, count, sign, scale);
}

std::vector<double> MinimumPhase(const std::vector<double>& x, FloorRule rule) {
    const std::int32_t n = static_cast<std::int32_t>(x.size()) - 1;
    std::int32_t folded = 256;
    while (2 * n > folded)
        folded *= 2;
    folded *= 2;
    const std::int32_t length = 4 * folded;
    const Table table(length);

    std::vector<TComplex> data(length);
    for (std::int32_t i = 0; i <= n; ++i)
        data[i] = {x[i], 0.0};
    for (std::int32_t i = n + 1; i <= length - 1; ++i)
        data[i] = {0.0, 0.0};

    Fft(table, data, length, +1, false);

    const std::int32_t h = length / 2;
    double maximum = 0.0;
    for (std::int32_t k = 0; k <= h; ++k) {
        const double p = data[k].Re * data[k].Re + data[k].Im * data[k].Im;
        if (p > maximum) maximum = p;
        data[k].Re = p;
    }
    const double floor = 1e-16 * maximum;
    for (std::int32_t k = 0; k <= h; ++k) {
        double p = data[k].Re;
        if (rule == FloorRule::ExactZeros ? p == 0.0 : p < floor) p = floor;
        data[k].Re = 0.5 * std::log(p);
        data[k].Im = 0.0;
    }
    for (std::int32_t t = 0; t <= h - 1; ++t)
        data[h + t] = data[h - t];

    Fft(table, data, length, -1, true);

    data[0].Im = 0.0;
    for (std::int32_t m = 1; m <= folded - 1; ++m) {
        data[m].Re = 2.0 * data[m].Re;
        data[m].Im = 0.0;
    }

    Fft(table, data, folded, +1, false);

    for (std::int32_t k = 0; k <= folded - 1; ++k) {
        const double e = std::exp(data[k].Re);
        const double phase = data[k].Im;
        data[k].Re = std::cos(phase) * e;
        data[k].Im = std::sin(phase) * e;
    }

    Fft(table, data, folded, -1, true);

    std::vector<double> result(n + 1);
    for (std::int32_t i = 0; i <= n; ++i)
        result[i] = data[i].Re;
    return result;
}

} // namespace tarn::oracle
