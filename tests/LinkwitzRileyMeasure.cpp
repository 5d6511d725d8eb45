#include "tests/LinkwitzRileyMeasure.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

#include "analysis/RealTransform.h"
#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"

namespace tarn::test {

namespace {

constexpr long double Pi = std::numbers::pi_v<long double>;

} // namespace

double LevelDb(const std::vector<double>& taps, double f, double fs) {
    // The turning factor by recurrence, set afresh from an exact angle every block so that its
    // rounding cannot build up over 65536 taps.
    constexpr std::size_t Block = 1024;
    const long double omega = 2 * Pi * static_cast<long double>(f) / fs;
    const long double stepRe = std::cos(omega), stepIm = -std::sin(omega);
    long double re = 0, im = 0;
    for (std::size_t start = 0; start < taps.size(); start += Block) {
        long double c = std::cos(omega * start), s = -std::sin(omega * start);
        for (std::size_t n = start; n < std::min(taps.size(), start + Block); ++n) {
            re += taps[n] * c;
            im += taps[n] * s;
            const long double next = c * stepRe - s * stepIm;
            s = c * stepIm + s * stepRe;
            c = next;
        }
    }
    return static_cast<double>(10 * std::log10(re * re + im * im));
}

SetMeasures MeasureSet(int order, const std::vector<double>& crossovers, double fs,
                       bool minimumPhase) {
    constexpr int N = CoefficientCount;
    AllocSpectrum(N);
    SamplePeriod = 1.0 / fs;
    SetMeasures measures;
    TapsMeter meter(minimumPhase);
    std::vector<std::vector<double>> bands;
    std::vector<double> sum(N, 0.0);
    for (int band = 0; band <= static_cast<int>(crossovers.size()); ++band) {
        DesignLinkwitzRiley(order, crossovers, band, minimumPhase);
        std::vector<double> taps(SpecRe.begin(), SpecRe.begin() + N);
        meter.Add(taps);
        long double all = 0, tail = 0;
        for (int i = 0; i < N; ++i) {
            all += taps[i] * taps[i];
            const bool inTail = minimumPhase ? i >= N - N / 10 : i < N / 20 || i >= N - N / 20;
            if (inTail) tail += taps[i] * taps[i];
            sum[i] += taps[i];
        }
        measures.worstTail = std::max(measures.worstTail, static_cast<double>(tail / all));
        bands.push_back(std::move(taps));
    }
    measures.fit = meter.Finish();

    static RealTransform transform(SumTransformSize);
    const std::vector<std::complex<double>> spectrum = transform.Forward(sum);
    for (std::size_t k = 0; k < spectrum.size(); ++k) {
        const double f = static_cast<double>(k) * fs / SumTransformSize;
        if (f < SumCheckLowestHz || f > SumCheckHighestShare * fs) continue;
        const double db = 20 * std::log10(std::abs(spectrum[k]));
        if (std::abs(db) > std::abs(measures.sumDeviationDb)) {
            measures.sumDeviationDb = db;
            measures.deviationHz = f;
        }
    }
    if (!minimumPhase)
        for (int i = 0; i < N; ++i)
            measures.impulseError =
                std::max(measures.impulseError, std::abs(sum[i] - (i == N / 2 ? 1.0 : 0.0)));

    if (crossovers.size() == 1) {
        const double fc = crossovers[0];
        const double half = 20 * std::log10(0.5);
        for (const auto& taps : bands)
            measures.levelErrorDb =
                std::max(measures.levelErrorDb, std::abs(LevelDb(taps, fc, fs) - half));
        const double wc = std::tan(std::numbers::pi * fc / fs);
        for (const double attenuation : SymmetryLevelsDb) {
            const double x = std::pow(std::pow(10.0, attenuation / 20) - 1, 0.5 / order);
            const double above = fs / std::numbers::pi * std::atan(x * wc);
            const double below = fs / std::numbers::pi * std::atan(wc / x);
            const double low = LevelDb(bands[0], above, fs);
            const double high = LevelDb(bands[1], below, fs);
            measures.symmetryErrorDb =
                std::max({measures.symmetryErrorDb, std::abs(low - high),
                          std::abs(low + attenuation), std::abs(high + attenuation)});
        }
    }
    return measures;
}

} // namespace tarn::test
