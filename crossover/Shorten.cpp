#include "crossover/Shorten.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"

namespace tarn {

// The taper was chosen by comparing Kaiser windows from beta = 0 (a plain cut) to 10 and
// the four-term Blackman-Harris window on five-way sets (80, 500, 3000, 8000 Hz; order 10
// at 48 kHz and order 4 at 44.1 kHz), by two measures: the fewest taps that keep every
// band within ShorteningToleranceDb, and how high the shortened band rises where its
// full-length design is more than 80 dB down (which the tolerance barely sees).
//
// Linear phase, 80 Hz low-pass at order 10: a plain cut needs 3889 taps but lets that
// stopband rise to -54 dB (the 80-500 Hz band's to -49 dB); beta = 1 needs 5035 taps (-65
// and -59 dB); beta = 2 needs 7649 (-80 dB, no band above -76 dB); beta = 4 needs 11923,
// beta = 8 17517 and Blackman-Harris 21625. Order 4 at 44.1 kHz ranks them alike (1425,
// 1913, 2881, 4493, 6583, 8125 taps). So beta = 2: the lightest window that keeps the
// stopband where the design has it, with two thirds of the taps of beta = 4 and a third
// of those of Blackman-Harris.
//
// Minimum phase, same window's falling half: over the whole length it needs 8125 taps at
// 80 Hz; over the last half 3520 (the 80-500 Hz band 4051, its stopband -58 dB there);
// over the last quarter 3156 (-51 dB). The last half keeps the first half of the taps,
// where a minimum-phase response has nearly all its energy, exactly as designed.

std::int32_t DesignLength(std::int32_t taps) {
    return std::max<std::int32_t>(CoefficientCount, static_cast<std::int32_t>(std::bit_ceil(
                                                        static_cast<std::uint32_t>(taps))));
}

std::int32_t LinearPhasePeak(std::int32_t taps) {
    return taps / 2;
}

std::int32_t LatencySamples(BandPhase phase, std::int32_t taps) {
    return phase == BandPhase::Linear ? LinearPhasePeak(taps) : 0;
}

double LatencyMs(BandPhase phase, std::int32_t taps, double sampleRate) {
    return 1000.0 * LatencySamples(phase, taps) / sampleRate;
}

namespace {

// The falling half of the Kaiser window of half width `half`: entry d is the weight at
// distance d from the centre, 1 at d = 0 and 1 / I0(beta) at d = half. The bands of a set
// share one tap count, so the last window is kept for the next band.
const std::vector<double>& KaiserHalf(double beta, std::int32_t half) {
    thread_local double lastBeta = -1.0;
    thread_local std::vector<double> w;
    if (lastBeta == beta && static_cast<std::int32_t>(w.size()) == half + 1) return w;
    w.assign(half + 1, 1.0);
    // The library's Bessel function sets the C library's one global sign of lgamma on the
    // way: two threads shortening at once must take turns.
    static std::mutex besselTurn;
    const std::lock_guard turn(besselTurn);
    const double scale = 1.0 / std::cyl_bessel_i(0.0, beta);
    for (std::int32_t d = 1; d <= half; ++d) {
        const double x = static_cast<double>(d) / half;
        w[d] = std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - x * x)) * scale;
    }
    lastBeta = beta;
    return w;
}

} // namespace

std::vector<double> ShortenBand(std::span<const double> design, BandPhase phase, std::int32_t taps,
                                const Taper& taper) {
    const auto n = static_cast<std::int32_t>(design.size());
    if (taps < 1 || taps > n || !std::has_single_bit(design.size()))
        throw std::invalid_argument("cannot shorten a design of " + std::to_string(n) +
                                    " taps to " + std::to_string(taps));
    if (taps == n) return {design.begin(), design.end()};
    std::vector<double> out(taps, 0.0);
    if (phase == BandPhase::Linear) {
        // Each pair is averaged: the design is symmetric to rounding, the result exactly.
        const std::int32_t centre = n / 2;
        const std::int32_t peak = LinearPhasePeak(taps);
        const std::int32_t half = (taps - 1) / 2;
        const std::vector<double>& w = KaiserHalf(taper.beta, half);
        out[peak] = design[centre];
        for (std::int32_t d = 1; d <= half; ++d) {
            const double v = 0.5 * (design[centre + d] + design[centre - d]) * w[d];
            out[peak + d] = v;
            out[peak - d] = v;
        }
    } else {
        const auto tail = std::clamp<std::int32_t>(
            static_cast<std::int32_t>(std::lround(taper.tailShare * taps)), 1, taps);
        const std::int32_t head = taps - tail;
        const std::vector<double>& w = KaiserHalf(taper.beta, tail);
        std::copy_n(design.begin(), head, out.begin());
        for (std::int32_t d = 1; d <= tail; ++d)
            out[head + d - 1] = design[head + d - 1] * w[d];
    }
    return out;
}

std::vector<double> ShortenLinearAround(std::span<const double> design, std::int32_t taps,
                                        double delay, const Taper& taper) {
    if (delay == 0.0) return ShortenBand(design, BandPhase::Linear, taps, taper);
    const auto n = static_cast<std::int32_t>(design.size());
    const std::int32_t peak = LinearPhasePeak(taps);
    // The same window as ShortenBand's, of half width (taps - 1) / 2 where it reaches its
    // edge weight 1 / I0(beta), less the whole samples of the delay.
    const double width = (taps - 1) / 2 - std::floor(delay);
    if (taps < 1 || taps > n || !std::has_single_bit(design.size()) || delay < 0.0 || width < 1.0)
        throw std::invalid_argument("cannot shorten a design of " + std::to_string(n) +
                                    " taps to " + std::to_string(taps) + " around a delay of " +
                                    std::to_string(delay) + " samples");
    std::vector<double> out(taps, 0.0);
    const std::int32_t centre = n / 2;
    const double scale = 1.0 / std::cyl_bessel_i(0.0, taper.beta);
    for (std::int32_t i = 0; i < taps; ++i) {
        const double x = (i - peak - delay) / width;
        if (std::abs(x) > 1.0) continue;
        out[i] = design[centre - peak + i] *
                 std::cyl_bessel_i(0.0, taper.beta * std::sqrt(1.0 - x * x)) * scale;
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// Measurement

namespace {

// Moves the caller's workspace aside for the lifetime of the object and puts it back.
class BorrowedWorkspace {
  public:
    BorrowedWorkspace() : re_(std::move(SpecRe)), im_(std::move(SpecIm)), length_(SpecLength) {}
    ~BorrowedWorkspace() {
        SpecRe = std::move(re_);
        SpecIm = std::move(im_);
        SpecLength = length_;
    }
    BorrowedWorkspace(const BorrowedWorkspace&) = delete;
    BorrowedWorkspace& operator=(const BorrowedWorkspace&) = delete;

  private:
    std::vector<double> re_;
    std::vector<double> im_;
    std::int32_t length_;
};

// The transform size `taps` taps are measured with, for designs of n points: twice the
// taps, so that the ripple of the cut shows between as well as on the bins, but at least
// 16384 points, so that bins lie about 3 Hz apart even near 20 Hz.
std::int32_t MeasureLength(std::int32_t taps, std::int32_t n) {
    const auto twice =
        static_cast<std::int32_t>(2 * std::bit_ceil(static_cast<std::uint32_t>(taps)));
    return std::min(n, std::max(twice, 16384));
}

// Magnitudes of bins 0..m/2 of x wrapped round onto m points (m a power of two that
// divides x.size() where x is longer): bin k is then exactly bin k * x.size() / m of x's
// own transform. The workspace must be borrowed.
std::vector<double> Magnitudes(std::span<const double> x, std::int32_t m) {
    if (SpecLength != m || static_cast<std::int32_t>(SpecRe.size()) != m)
        AllocSpectrum(m);
    else
        ClearSpectrum();
    for (std::size_t start = 0; start < x.size(); start += m) {
        const std::size_t count = std::min<std::size_t>(m, x.size() - start);
        for (std::size_t i = 0; i < count; ++i)
            SpecRe[i] += x[start + i];
    }
    RealFFT();
    std::vector<double> mag(m / 2 + 1);
    const double* re = SpecRe.data();
    const double* im = SpecIm.data();
    for (std::int32_t k = 0; k <= m / 2; ++k)
        mag[k] = std::sqrt(re[k] * re[k] + im[k] * im[k]);
    return mag;
}

// The bins of an m-point transform from 20 Hz to 20 kHz (at most the Nyquist frequency).
std::pair<std::int32_t, std::int32_t> JudgedBins(std::int32_t m, double sampleRate) {
    const double top = std::min(20000.0, sampleRate / 2);
    const auto first = static_cast<std::int32_t>(std::ceil(20.0 * m / sampleRate));
    const auto last = static_cast<std::int32_t>(std::floor(top * m / sampleRate));
    return {first, std::min(last, m / 2)};
}

double Departure(const std::vector<double>& full, const std::vector<double>& shortened,
                 std::int32_t m, double sampleRate) {
    const double peak = *std::max_element(full.begin(), full.end());
    const auto [first, last] = JudgedBins(m, sampleRate);
    double worst = 0.0;
    for (std::int32_t k = first; k <= last; ++k)
        worst = std::max(worst, std::abs(shortened[k] - full[k]));
    return 20.0 * std::log10(1.0 + worst / peak);
}

double FromFlat(const std::vector<double>& magnitudes, std::int32_t m, double sampleRate) {
    const auto [first, last] = JudgedBins(m, sampleRate);
    double worst = 0.0;
    for (std::int32_t k = first; k <= last; ++k)
        worst = std::max(worst, std::abs(20.0 * std::log10(magnitudes[k])));
    return worst;
}

std::int32_t CommonLength(std::span<const std::vector<double>> bands) {
    const std::size_t n = bands.front().size();
    for (const std::vector<double>& band : bands)
        if (band.size() != n) throw std::invalid_argument("bands of different lengths");
    return static_cast<std::int32_t>(n);
}

std::vector<double> SumOf(std::span<const std::vector<double>> bands) {
    std::vector<double> sum(CommonLength(bands), 0.0);
    for (const std::vector<double>& band : bands)
        for (std::size_t i = 0; i < sum.size(); ++i)
            sum[i] += band[i];
    return sum;
}

std::vector<double> ShortenedSum(std::span<const std::vector<double>> designs, BandPhase phase,
                                 std::int32_t taps) {
    std::vector<double> sum(taps, 0.0);
    for (const std::vector<double>& design : designs) {
        const std::vector<double> band = ShortenBand(design, phase, taps);
        for (std::int32_t i = 0; i < taps; ++i)
            sum[i] += band[i];
    }
    return sum;
}

// The magnitudes of a full-length response at each measuring size, made once per size.
class FullLength {
  public:
    explicit FullLength(std::span<const double> response) : response_(response) {}
    const std::vector<double>& At(std::int32_t m) {
        for (const auto& [size, magnitudes] : cache_)
            if (size == m) return magnitudes;
        cache_.emplace_back(m, Magnitudes(response_, m));
        return cache_.back().second;
    }

  private:
    std::span<const double> response_;
    std::vector<std::pair<std::int32_t, std::vector<double>>> cache_;
};

// The fewest taps up to `longest` whose departure(taps) stays within limitDb, given that
// `longest` (the full-length design) does: a count that does while one fewer does not.
// From `start` (MinTapCount, or a count known to exceed, with its departure startDb when
// measured already, else a negative startDb) the count doubles until it holds;
// then the bracket narrows. The departure falls off nearly as a power of the count, so
// each step aims where the line through the bracket's ends on logarithmic scales crosses
// the limit, and lands within a few taps of the edge; a step that fails to halve the
// bracket is followed by a plain bisection, so narrowing takes at most 2 log2 steps.
template <typename Departure>
std::int32_t FewestTaps(std::int32_t longest, std::int32_t start, double startDb, double limitDb,
                        Departure departure) {
    std::int32_t failing = 0, holding = longest;
    double failingDb = 0.0, holdingDb = 0.0;
    for (std::int32_t probe = std::min(start, longest); probe < longest;
         probe = std::min(longest, 2 * probe)) {
        const double db = probe == start && startDb >= 0.0 ? startDb : departure(probe);
        if (db <= limitDb) {
            holding = probe;
            holdingDb = db;
            break;
        }
        failing = probe;
        failingDb = db;
    }
    if (failing == 0) return holding;
    bool aim = true;
    while (holding - failing > 1) {
        std::int32_t probe = failing + (holding - failing) / 2;
        if (aim && holdingDb > 0.0) {
            const double t = std::log(failingDb / limitDb) / std::log(failingDb / holdingDb);
            const double target = failing * std::pow(static_cast<double>(holding) / failing, t);
            if (std::isfinite(target))
                probe = std::clamp<std::int32_t>(static_cast<std::int32_t>(std::ceil(target)),
                                                 failing + 1, holding - 1);
        }
        const std::int32_t before = holding - failing;
        const double db = departure(probe);
        if (db <= limitDb) {
            holding = probe;
            holdingDb = db;
        } else {
            failing = probe;
            failingDb = db;
        }
        aim = 2 * (holding - failing) <= before;
    }
    return holding;
}

// FewestTapsForBand and FewestTapsForSum on a borrowed workspace, searching from start.
std::int32_t FewestForBand(std::span<const double> design, BandPhase phase, double sampleRate,
                           double limitDb, std::int32_t start, double startDb) {
    const auto n = static_cast<std::int32_t>(design.size());
    FullLength full(design);
    return FewestTaps(n, start, startDb, limitDb, [&](std::int32_t taps) {
        const std::int32_t m = MeasureLength(taps, n);
        const std::vector<double> band = ShortenBand(design, phase, taps);
        return Departure(full.At(m), Magnitudes(band, m), m, sampleRate);
    });
}

std::int32_t FewestForSum(std::span<const std::vector<double>> designs, BandPhase phase,
                          double sampleRate, double limitDb, std::int32_t start, double startDb) {
    const std::int32_t n = CommonLength(designs);
    const std::vector<double> fullSum = SumOf(designs);
    FullLength full(fullSum);
    return FewestTaps(n, start, startDb, limitDb, [&](std::int32_t taps) {
        const std::int32_t m = MeasureLength(taps, n);
        const std::vector<double> sum = ShortenedSum(designs, phase, taps);
        return Departure(full.At(m), Magnitudes(sum, m), m, sampleRate);
    });
}

} // namespace

double BandDeviationDb(std::span<const double> design, std::span<const double> shortened,
                       double sampleRate) {
    BorrowedWorkspace borrowed;
    const std::int32_t m = MeasureLength(static_cast<std::int32_t>(shortened.size()),
                                         static_cast<std::int32_t>(design.size()));
    const std::vector<double> full = Magnitudes(design, m);
    return Departure(full, Magnitudes(shortened, m), m, sampleRate);
}

double SumDeviationDb(std::span<const std::vector<double>> bands, double sampleRate) {
    if (bands.empty()) return 0.0;
    BorrowedWorkspace borrowed;
    const std::vector<double> sum = SumOf(bands);
    const auto n = static_cast<std::int32_t>(sum.size());
    const std::int32_t m = MeasureLength(n, std::max(n, 16384));
    return FromFlat(Magnitudes(sum, m), m, sampleRate);
}

std::int32_t FewestTapsForBand(std::span<const double> design, BandPhase phase, double sampleRate,
                               double limitDb) {
    BorrowedWorkspace borrowed;
    return FewestForBand(design, phase, sampleRate, limitDb, MinTapCount, -1.0);
}

std::int32_t FewestTapsForSum(std::span<const std::vector<double>> designs, BandPhase phase,
                              double sampleRate, double limitDb) {
    if (designs.empty()) return MinTapCount;
    BorrowedWorkspace borrowed;
    return FewestForSum(designs, phase, sampleRate, limitDb, MinTapCount, -1.0);
}

ShorteningCost MeasureShortening(std::span<const std::vector<double>> designs, BandPhase phase,
                                 std::int32_t taps, double sampleRate) {
    ShorteningCost cost;
    if (designs.empty()) return cost;
    BorrowedWorkspace borrowed;
    const std::int32_t n = CommonLength(designs);
    const std::int32_t m = MeasureLength(taps, n);
    if (taps == n) {
        // The designs themselves: nothing departs, and the default run pays one transform.
        cost.bands.resize(designs.size());
        cost.sumFromFlatDb = FromFlat(Magnitudes(SumOf(designs), m), m, sampleRate);
        return cost;
    }
    auto judge = [&](ShorteningCost::Item& item, double deviationDb, auto fewest) {
        item.deviationDb = deviationDb;
        if (deviationDb > ShorteningToleranceDb) item.fewestTaps = fewest(deviationDb);
    };
    std::vector<double> shortenedSum(taps, 0.0);
    for (const std::vector<double>& design : designs) {
        const std::vector<double> band = ShortenBand(design, phase, taps);
        for (std::int32_t i = 0; i < taps; ++i)
            shortenedSum[i] += band[i];
        ShorteningCost::Item& item = cost.bands.emplace_back();
        judge(item, Departure(Magnitudes(design, m), Magnitudes(band, m), m, sampleRate),
              [&](double db) {
                  return FewestForBand(design, phase, sampleRate, ShorteningToleranceDb, taps, db);
              });
    }
    const std::vector<double> sum = Magnitudes(shortenedSum, m);
    judge(cost.sum, Departure(Magnitudes(SumOf(designs), m), sum, m, sampleRate), [&](double db) {
        return FewestForSum(designs, phase, sampleRate, ShorteningToleranceDb, taps, db);
    });
    cost.sumFromFlatDb = FromFlat(sum, m, sampleRate);
    return cost;
}

} // namespace tarn
