#include "crossover/Shorten.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

#include "crossover/Tarndef.h"
#include "spectral/RealSpectrum.h"

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

// The library's Bessel function sets the C library's one global sign of lgamma on the way:
// threads that shorten bands at once take turns at it.
std::mutex besselTurn;

// The falling half of the Kaiser window of half width `half`: entry d is the weight at
// distance d from the centre, 1 at d = 0 and 1 / I0(beta) at d = half. The bands of a set
// share one tap count, so the last window is kept for the next band, one per thread.
const std::vector<double>& KaiserHalf(double beta, std::int32_t half) {
    thread_local double lastBeta = -1.0;
    thread_local std::vector<double> w;
    if (lastBeta == beta && static_cast<std::int32_t>(w.size()) == half + 1) return w;
    w.assign(half + 1, 1.0);
    const std::lock_guard turn(besselTurn);
    const double scale = 1.0 / std::cyl_bessel_i(0.0, beta);
    for (std::int32_t d = 1; d <= half; ++d) {
        const double x = static_cast<double>(d) / half;
        w[d] = std::cyl_bessel_i(0.0, beta * std::sqrt(1.0 - x * x)) * scale;
    }
    lastBeta = beta;
    return w;
}

// A linear-phase response about its centre c = size / 2, read in pairs: pair(d) is the average
// of the taps d after and d before the centre, d = 0..(size - 1) / 2 (pair(0) the centre tap
// itself); an even size leaves tap 0, c before the centre, without a partner. Either the whole
// response or the pairs kept of one.
struct Symmetric {
    std::size_t size = 0;
    const double* whole = nullptr; // size taps, or
    const double* pairs = nullptr; // pair(d) for d = 0..(size - 1) / 2
    double unpaired = 0.0;         // tap 0 of an even size

    static Symmetric Of(std::span<const double> x) {
        return {x.size(), x.data(), nullptr, x.size() % 2 == 0 ? x[0] : 0.0};
    }
    std::size_t Pairs() const { return (size - 1) / 2; }
    // body(pair) with pair(d) as a function of its own for each form, so that a loop over d
    // does not ask which form it reads.
    template <typename Body> decltype(auto) WithPairs(Body body) const {
        if (pairs) return body([p = pairs](std::size_t d) { return p[d]; });
        const double* c = whole + size / 2;
        return body([c](std::size_t d) {
            // Each pair is averaged: a design is symmetric to rounding, a shortening exactly.
            return 0.5 * (c[d] + c[-static_cast<std::ptrdiff_t>(d)]);
        });
    }
};

// The taps of a linear-phase shortening about its peak: put(d, value) for d = 0..half, the
// tap d after and d before the peak, the response's pairs under the weights w[1..half].
template <typename Put>
void LinearShortening(const Symmetric& response, std::int32_t half, const std::vector<double>& w,
                      Put put) {
    response.WithPairs([&](auto pair) {
        put(0, pair(0));
        for (std::int32_t d = 1; d <= half; ++d)
            put(d, pair(d) * w[d]);
    });
}

// The tail a minimum-phase shortening to `taps` taps fades out over.
std::int32_t MinimumPhaseTail(std::int32_t taps, const Taper& taper) {
    return std::clamp<std::int32_t>(static_cast<std::int32_t>(std::lround(taper.tailShare * taps)),
                                    1, taps);
}

// The taps of a minimum-phase shortening into out[0..taps): the design's head as it is, its
// tail under the weights w[1..tail].
void MinimumShortening(std::span<const double> design, std::int32_t taps, std::int32_t tail,
                       const std::vector<double>& w, double* out) {
    const std::int32_t head = taps - tail;
    std::copy_n(design.begin(), head, out);
    for (std::int32_t d = 1; d <= tail; ++d)
        out[head + d - 1] = design[head + d - 1] * w[d];
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
        const std::int32_t peak = LinearPhasePeak(taps);
        const std::int32_t half = (taps - 1) / 2;
        LinearShortening(Symmetric::Of(design), half, KaiserHalf(taper.beta, half),
                         [&out, peak](std::int32_t d, double v) {
                             out[peak + d] = v;
                             out[peak - d] = v;
                         });
    } else {
        const std::int32_t tail = MinimumPhaseTail(taps, taper);
        MinimumShortening(design, taps, tail, KaiserHalf(taper.beta, tail), out.data());
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
    const std::lock_guard turn(besselTurn);
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

// The transform size `taps` taps are measured with, for designs of n points: twice the
// taps, so that the ripple of the cut shows between as well as on the bins, but at least
// 16384 points, so that bins lie about 3 Hz apart even near 20 Hz.
std::int32_t MeasureLength(std::int32_t taps, std::int32_t n) {
    const auto twice =
        static_cast<std::int32_t>(2 * std::bit_ceil(static_cast<std::uint32_t>(taps)));
    return std::min(n, std::max(twice, 16384));
}

// A real transform with its sine table. Making them costs about as much as a few
// transforms, and a run measures with one size or two, so each thread keeps the last one
// made and makes a larger one only when a larger size is asked for.
class Transform {
  public:
    // period: the sine table's, a power of two >= 4; points: the largest transform, a power
    // of two >= 4 that divides period.
    Transform(std::int32_t period, std::int32_t points)
        : sines_(fft::QuarterWaveSines(period)), fft_(points, {sines_.data(), period}) {}
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;

    const fft::QuarterWave& Table() const { return fft_.Table(); }
    fft::RealFft& Fft() { return fft_; }

  private:
    std::vector<double> sines_;
    fft::RealFft fft_;
};

// The transform for measuring on m points: of m points with a table of period m (whole),
// or of m / 2 points with the same table, whose sines the cosine transform needs (halved).
Transform& TransformFor(std::int32_t m, bool halved) {
    thread_local std::unique_ptr<Transform> whole, half;
    std::unique_ptr<Transform>& made = halved ? half : whole;
    if (!made || made->Table().period < m)
        made = std::make_unique<Transform>(m, halved ? m / 2 : m);
    return *made;
}

// Work arrays of the measurement, one set per thread, kept between calls: a run's first
// measurement pays for their pages once.
struct Work {
    std::vector<double> wrapped;    // a response wrapped or padded onto the measuring size
    std::vector<double> magnitudes; // of a shortened response
    std::vector<double> weights;    // the taper of a count the search tries
};

Work& WorkArrays() {
    thread_local Work work;
    return work;
}

// x wrapped round onto m points, or padded with zeros where shorter, into out; each tap is
// also added to sum[i] where sum is given (as long as x). Each point of out is summed in one
// go over the blocks of x, in their order.
void Wrap(std::span<const double> x, std::int32_t m, std::vector<double>& out, double* sum) {
    const auto step = static_cast<std::size_t>(m);
    out.resize(step);
    if (x.size() <= step) {
        std::copy(x.begin(), x.end(), out.begin());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(x.size()), out.end(), 0.0);
        if (sum)
            for (std::size_t i = 0; i < x.size(); ++i)
                sum[i] += x[i];
        return;
    }
    // A design: a whole number of blocks.
    assert(x.size() % step == 0);
    const double* from = x.data();
    for (std::size_t i = 0; i < step; ++i) {
        double point = 0.0;
        if (sum) {
            for (std::size_t at = i; at < x.size(); at += step) {
                point += from[at];
                sum[at] += from[at];
            }
        } else {
            for (std::size_t at = i; at < x.size(); at += step)
                point += from[at];
        }
        out[i] = point;
    }
}

// The magnitudes of bins 0..m/2 of the real transform of x[0..m) (m a power of two >= 4),
// into out. The squares first and their roots in a pass of their own, two at a time.
void WholeMagnitudes(const std::vector<double>& x, std::int32_t m, std::vector<double>& out) {
    out.resize(static_cast<std::size_t>(m) / 2 + 1);
    const double* samples = x.data();
    double* magnitudes = out.data();
    TransformFor(m, false).Fft().Forward(
        std::countr_zero(static_cast<std::uint32_t>(m)),
        [samples](std::int32_t t, double& zr, double& zi) {
            zr = samples[2 * t];
            zi = samples[2 * t + 1];
        },
        [magnitudes](std::int32_t k, double re, double im) { magnitudes[k] = re * re + im * im; });
    for (double& magnitude : out)
        magnitude = std::sqrt(magnitude);
}

// A symmetric response as the cosine terms of its zero-phase amplitude on m points, into g:
// g[0..m/2] with A(k) = g[0] + (-1)^k g[m/2] + 2 sum_r g[r] cos(2 pi r k / m), r = 1..m/2-1.
// The unpaired tap of an even size lies c = size / 2 taps before the centre: m must divide
// 2c (a design) or the tap be zero (a shortening). Each pair is also added to pairSum[d],
// and the unpaired tap to *unpairedSum, where given.
void FoldSymmetric(const Symmetric& response, std::int32_t m, std::vector<double>& g,
                   double* pairSum, double* unpairedSum) {
    const auto half = static_cast<std::size_t>(m) / 2;
    g.assign(half + 1, 0.0);
    double* to = g.data();
    response.WithPairs([&](auto pair) {
        // Pair d lands on r = d mod m, or on m - r beyond half; r = 0 and r = half count
        // twice, their cosines being +-1.
        auto add = [&](std::size_t r, std::size_t d, double weight) {
            const double a = pair(d);
            to[r] += weight * a;
            if (pairSum) pairSum[d] += a;
        };
        add(0, 0, 1.0);
        const std::size_t pairs = response.Pairs();
        for (std::size_t start = 0; start <= pairs; start += 2 * half) {
            if (start > 0) add(0, start, 2.0);
            const std::size_t rising = std::min(half - 1, pairs - start);
            for (std::size_t r = 1; r <= rising; ++r)
                add(r, start + r, 1.0);
            if (start + half > pairs) break;
            add(half, start + half, 2.0);
            const std::size_t falling = std::min(2 * half - 1, pairs - start);
            for (std::size_t r = half + 1; r <= falling; ++r)
                add(2 * half - r, start + r, 1.0);
        }
    });
    if (response.unpaired != 0.0) {
        const std::size_t c = response.size / 2;
        assert(c % (2 * half) == 0 || c % (2 * half) == half);
        to[c % (2 * half) == 0 ? 0 : half] += response.unpaired;
    }
    if (unpairedSum) *unpairedSum += response.unpaired;
}

// The zero-phase amplitude A(0..N) of the cosine terms g[0..N] (FoldSymmetric, N = m / 2),
// in place, through a real transform of N points instead of m. With y[j] = (g[j] + g[N-j]) / 2
// - sin(pi j / N) (g[j] - g[N-j]) and Y its transform, A(2p) = 2 Re Y[p] and A(2p+1) = A(2p-1)
// - 2 Im Y[p], from A(1) = g[0] - g[N] + 2 sum_j (g[j] - g[N-j]) cos(pi j / N), j < N / 2.
// The transform has read all of y before it gives its first bin.
void CosineAmplitude(std::vector<double>& g) {
    const auto n = static_cast<std::int32_t>(g.size()) - 1;
    Transform& transform = TransformFor(2 * n, true);
    const fft::QuarterWave& table = transform.Table();
    const std::int32_t step = table.period / (2 * n); // the angle pi / N
    double* y = g.data();
    double odd = 0.5 * (y[0] - y[n]);
    y[0] = 0.5 * (y[0] + y[n]);
    for (std::int32_t j = 1; j < n / 2; ++j) {
        const double sum = y[j] + y[n - j], diff = y[j] - y[n - j];
        const double s = table.Sin1(j * step);
        odd += diff * table.Cos1(j * step);
        y[j] = 0.5 * sum - s * diff;
        y[n - j] = 0.5 * sum + s * diff;
    }
    transform.Fft().Forward(
        std::countr_zero(static_cast<std::uint32_t>(n)),
        [y](std::int32_t t, double& zr, double& zi) {
            zr = y[2 * t];
            zi = y[2 * t + 1];
        },
        [y, n](std::int32_t k, double re, double im) {
            y[2 * k] = 2.0 * re;
            if (2 * k < n) y[2 * k + 1] = -2.0 * im;
        });
    y[1] = 2.0 * odd;
    for (std::int32_t k = 3; k < n; k += 2)
        y[k] += y[k - 2];
}

// The magnitudes of the cosine terms g[0..N] (FoldSymmetric), in place.
void AmplitudeMagnitudes(std::vector<double>& g) {
    CosineAmplitude(g);
    for (double& a : g)
        a = std::abs(a);
}

// The bins of an m-point transform from 20 Hz to 20 kHz (at most the Nyquist frequency).
std::pair<std::int32_t, std::int32_t> JudgedBins(std::int32_t m, double sampleRate) {
    const double top = std::min(20000.0, sampleRate / 2);
    const auto first = static_cast<std::int32_t>(std::ceil(20.0 * m / sampleRate));
    const auto last = static_cast<std::int32_t>(std::floor(top * m / sampleRate));
    return {first, std::min(last, m / 2)};
}

// The largest of value(i), i = first..last (first <= last), in four running maxima side by
// side rather than one chain.
template <typename Value> double LargestOf(std::int32_t first, std::int32_t last, Value value) {
    const double start = value(first);
    double top[4] = {start, start, start, start};
    std::int32_t i = first + 1;
    for (; i + 3 <= last; i += 4)
        for (int j = 0; j < 4; ++j)
            top[j] = std::max(top[j], value(i + j));
    for (; i <= last; ++i)
        top[0] = std::max(top[0], value(i));
    return std::max({top[0], top[1], top[2], top[3]});
}

// The largest distance [dB] from 0 dB of the magnitudes on m points, 20 Hz to 20 kHz:
// |20 log10| is largest at the largest or the smallest of them.
double FlatnessDb(const std::vector<double>& magnitudes, std::int32_t m, double sampleRate) {
    const auto [first, last] = JudgedBins(m, sampleRate);
    if (first > last) return 0.0;
    const double* x = magnitudes.data();
    const double high = LargestOf(first, last, [x](std::int32_t k) { return x[k]; });
    const double inverse = LargestOf(first, last, [x](std::int32_t k) { return -x[k]; });
    return std::max({0.0, 20.0 * std::log10(high), -20.0 * std::log10(-inverse)});
}

// The weights KaiserHalf(beta, half) gives, from the power series I0(z) = sum_k (z^2 / 4)^k
// / (k!)^2 summed by Horner's rule in 1 - x^2: a dozen multiply-adds a weight at beta = 2,
// where std::cyl_bessel_i loops with a division a term, to a few units in the last place.
// The search needs a window of its own for every count it tries.
void KaiserHalfBySeries(double beta, std::int32_t half, std::vector<double>& w) {
    const double q = beta * beta / 4.0;
    double coefficient[64];
    int terms = 0;
    for (double term = 1.0, total = 0.0; terms < 64 && term >= 1e-18 * total; ++terms) {
        coefficient[terms] = term;
        total += term;
        term *= q / ((terms + 1.0) * (terms + 1.0));
    }
    double scale;
    {
        const std::lock_guard turn(besselTurn);
        scale = 1.0 / std::cyl_bessel_i(0.0, beta);
    }
    w.resize(static_cast<std::size_t>(half) + 1);
    w[0] = 1.0;
    // A block of weights at a time through each term, so that the weights of a block are
    // summed side by side rather than each along its own chain.
    constexpr std::int32_t Block = 256;
    double u[Block], sum[Block];
    for (std::int32_t from = 1; from <= half; from += Block) {
        const std::int32_t count = std::min(Block, half + 1 - from);
        for (std::int32_t i = 0; i < count; ++i) {
            const double x = static_cast<double>(from + i) / half;
            u[i] = 1.0 - x * x;
            sum[i] = coefficient[terms - 1];
        }
        for (int k = terms - 2; k >= 0; --k)
            for (std::int32_t i = 0; i < count; ++i)
                sum[i] = sum[i] * u[i] + coefficient[k];
        for (std::int32_t i = 0; i < count; ++i)
            w[from + i] = sum[i] * scale;
    }
}

// Where a run keeps the sum of the full-length designs: whole for minimum phase, as pairs
// about the centre for linear phase (Symmetric), half the memory.
struct DesignSum {
    double* sum = nullptr;
    double* unpaired = nullptr;
};

// A full-length response, and what a shorter version of it is judged against: its
// magnitudes on each measuring size, made once per size. Linear phase is measured through
// the zero-phase amplitude, minimum phase (or a response of no known symmetry) through the
// whole transform.
class Judge {
  public:
    Judge(std::span<const double> whole, BandPhase phase, double sampleRate)
        : whole_(whole), symmetric_(Symmetric::Of(whole)), linear_(phase == BandPhase::Linear),
          sampleRate_(sampleRate) {}
    // A linear-phase response kept as pairs.
    Judge(const Symmetric& pairs, double sampleRate)
        : symmetric_(pairs), linear_(true), sampleRate_(sampleRate) {}

    std::int32_t Size() const { return static_cast<std::int32_t>(symmetric_.size); }

    // The magnitudes of the response on m points, made once; the first making may add the
    // response to a run's sum on the way.
    const std::vector<double>& FullMagnitudes(std::int32_t m, DesignSum sum = {}) {
        return GridOf(m, sum).magnitudes;
    }

    // The departure [dB] of shortened magnitudes on m points.
    double Departure(std::int32_t m, const std::vector<double>& magnitudes) {
        const Grid& grid = GridOf(m, {});
        const auto [first, last] = JudgedBins(m, sampleRate_);
        if (first > last) return 0.0;
        const double* full = grid.magnitudes.data();
        const double* shortened = magnitudes.data();
        const double worst = LargestOf(first, last, [full, shortened](std::int32_t k) {
            return std::abs(shortened[k] - full[k]);
        });
        return 20.0 * std::log10(1.0 + worst / grid.peak);
    }

    // The departure [dB] of `shortened`, of any length and symmetry, through whole transforms
    // (a judge of minimum phase).
    double Of(std::span<const double> shortened) {
        assert(!linear_);
        const std::int32_t m = MeasureLength(static_cast<std::int32_t>(shortened.size()), Size());
        GridOf(m, {});
        Work& work = WorkArrays();
        Wrap(shortened, m, work.wrapped, nullptr);
        WholeMagnitudes(work.wrapped, m, work.magnitudes);
        return Departure(m, work.magnitudes);
    }

    // The magnitudes on m points of the response shortened to `taps` taps with the taper's
    // weights w (linear phase: KaiserHalf(beta, (taps - 1) / 2); minimum phase:
    // KaiserHalf(beta, MinimumPhaseTail(taps))), into the work arrays. The shortened taps are
    // also added to `shortenedSum` where given: as pairs (linear phase) or whole.
    const std::vector<double>& ShortenedMagnitudes(std::int32_t taps, std::int32_t m,
                                                   const std::vector<double>& w,
                                                   std::vector<double>* shortenedSum) {
        GridOf(m, {}); // first: it shares the work arrays
        Work& work = WorkArrays();
        if (linear_) {
            // The taps about the peak are the cosine terms themselves: none reaches round.
            std::vector<double>& g = work.magnitudes;
            g.assign(static_cast<std::size_t>(m) / 2 + 1, 0.0);
            const std::int32_t half = (taps - 1) / 2;
            if (shortenedSum) shortenedSum->resize(static_cast<std::size_t>(half) + 1, 0.0);
            double* sum = shortenedSum ? shortenedSum->data() : nullptr;
            LinearShortening(symmetric_, half, w, [&g, sum](std::int32_t d, double v) {
                g[d] = v;
                if (sum) sum[d] += v;
            });
            AmplitudeMagnitudes(g);
        } else {
            std::vector<double>& h = work.wrapped;
            h.assign(static_cast<std::size_t>(m), 0.0);
            MinimumShortening(whole_, taps, static_cast<std::int32_t>(w.size()) - 1, w, h.data());
            if (shortenedSum) {
                shortenedSum->resize(static_cast<std::size_t>(taps), 0.0);
                for (std::int32_t i = 0; i < taps; ++i)
                    (*shortenedSum)[i] += h[i];
            }
            WholeMagnitudes(h, m, work.magnitudes);
        }
        return work.magnitudes;
    }

    // The departure [dB] of the response shortened to `taps` taps under the default taper,
    // its weights from the series: what the search tries. A linear-phase count departs as
    // much as the odd count at or below it (the same taps about the peak), so the two are
    // measured once.
    double At(std::int32_t taps) {
        const std::int32_t key = linear_ ? (taps - 1) / 2 : taps;
        for (const auto& [tried, db] : tried_)
            if (tried == key) return db;
        const Taper taper;
        const std::int32_t m = MeasureLength(taps, Size());
        std::vector<double>& w = WorkArrays().weights;
        KaiserHalfBySeries(taper.beta, linear_ ? key : MinimumPhaseTail(taps, taper), w);
        const double db = Departure(m, ShortenedMagnitudes(taps, m, w, nullptr));
        tried_.emplace_back(key, db);
        return db;
    }

  private:
    struct Grid {
        std::int32_t m = 0;
        std::vector<double> magnitudes; // bins 0..m/2
        double peak = 0.0;
    };

    const Grid& GridOf(std::int32_t m, DesignSum sum) {
        for (const Grid& grid : grids_)
            if (grid.m == m) return grid;
        Grid& grid = grids_.emplace_back();
        grid.m = m;
        if (linear_) {
            FoldSymmetric(symmetric_, m, grid.magnitudes, sum.sum, sum.unpaired);
            AmplitudeMagnitudes(grid.magnitudes);
        } else {
            std::vector<double>& wrapped = WorkArrays().wrapped;
            Wrap(whole_, m, wrapped, sum.sum);
            WholeMagnitudes(wrapped, m, grid.magnitudes);
        }
        grid.peak = *std::max_element(grid.magnitudes.begin(), grid.magnitudes.end());
        return grid;
    }

    std::span<const double> whole_;
    Symmetric symmetric_;
    bool linear_;
    double sampleRate_;
    std::vector<Grid> grids_;
    std::vector<std::pair<std::int32_t, double>> tried_; // by half width or count, with its dB
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

// The departure of a shortening measured at `taps`, and where it exceeds the tolerance the
// fewest taps that keep it within, searched from there.
ShorteningCost::Item Judged(Judge& judge, std::int32_t taps, double deviationDb) {
    ShorteningCost::Item item;
    item.deviationDb = deviationDb;
    if (deviationDb > ShorteningToleranceDb)
        item.fewestTaps = FewestTaps(judge.Size(), taps, deviationDb, ShorteningToleranceDb,
                                     [&judge](std::int32_t probe) { return judge.At(probe); });
    return item;
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

void CheckDesignLength(std::size_t n) {
    if (n < 4 || !std::has_single_bit(n))
        throw std::invalid_argument("a design of " + std::to_string(n) +
                                    " points cannot be measured: not a power of two");
}

} // namespace

double BandDeviationDb(std::span<const double> design, std::span<const double> shortened,
                       double sampleRate) {
    CheckDesignLength(design.size());
    // Neither is known to be symmetric: measured through the whole transform.
    Judge judge(design, BandPhase::Minimum, sampleRate);
    return judge.Of(shortened);
}

double SumDeviationDb(std::span<const std::vector<double>> bands, double sampleRate) {
    if (bands.empty()) return 0.0;
    const std::vector<double> sum = SumOf(bands);
    const auto m = std::max<std::int32_t>(
        16384, static_cast<std::int32_t>(std::bit_ceil(static_cast<std::uint32_t>(sum.size()))));
    Work& work = WorkArrays();
    Wrap(sum, m, work.wrapped, nullptr);
    WholeMagnitudes(work.wrapped, m, work.magnitudes);
    return FlatnessDb(work.magnitudes, m, sampleRate);
}

std::int32_t FewestTapsForBand(std::span<const double> design, BandPhase phase, double sampleRate,
                               double limitDb) {
    CheckDesignLength(design.size());
    Judge judge(design, phase, sampleRate);
    return FewestTaps(judge.Size(), MinTapCount, -1.0, limitDb,
                      [&judge](std::int32_t taps) { return judge.At(taps); });
}

std::int32_t FewestTapsForSum(std::span<const std::vector<double>> designs, BandPhase phase,
                              double sampleRate, double limitDb) {
    if (designs.empty()) return MinTapCount;
    const std::vector<double> sum = SumOf(designs);
    return FewestTapsForBand(sum, phase, sampleRate, limitDb);
}

ShorteningMeter::ShorteningMeter(BandPhase phase, std::int32_t taps, double sampleRate)
    : phase_(phase), taps_(taps), sampleRate_(sampleRate) {}

void ShorteningMeter::Add(std::span<const double> design) {
    const bool linear = phase_ == BandPhase::Linear;
    if (length_ == 0) {
        CheckDesignLength(design.size());
        length_ = design.size();
        sum_.assign(linear ? Symmetric::Of(design).Pairs() + 1 : length_, 0.0);
    } else if (design.size() != length_) {
        throw std::invalid_argument("bands of different lengths");
    }
    if (static_cast<std::size_t>(taps_) == length_) {
        // Nothing departs: the design only goes into the sum.
        if (linear) {
            const Symmetric response = Symmetric::Of(design);
            response.WithPairs([&](auto pair) {
                for (std::size_t d = 0; d <= response.Pairs(); ++d)
                    sum_[d] += pair(d);
            });
            unpairedSum_ += response.unpaired;
        } else {
            for (std::size_t i = 0; i < length_; ++i)
                sum_[i] += design[i];
        }
        cost_.bands.emplace_back();
        return;
    }
    // The design goes into the sum as its magnitudes are made, and the band into the
    // shortened sum as it is shortened, with ShortenBand's own window.
    Judge judge(design, phase_, sampleRate_);
    const std::int32_t m = MeasureLength(taps_, static_cast<std::int32_t>(length_));
    judge.FullMagnitudes(m, {sum_.data(), &unpairedSum_});
    const Taper taper;
    const std::vector<double>& w =
        KaiserHalf(taper.beta, linear ? (taps_ - 1) / 2 : MinimumPhaseTail(taps_, taper));
    const double db = judge.Departure(m, judge.ShortenedMagnitudes(taps_, m, w, &shortenedSum_));
    cost_.bands.push_back(Judged(judge, taps_, db));
}

ShorteningCost ShorteningMeter::Finish() {
    if (length_ == 0) return cost_;
    const bool linear = phase_ == BandPhase::Linear;
    const auto n = static_cast<std::int32_t>(length_);
    Judge judge = linear
                      ? Judge(Symmetric{length_, nullptr, sum_.data(), unpairedSum_}, sampleRate_)
                      : Judge(std::span<const double>(sum_), phase_, sampleRate_);
    if (taps_ == n) {
        // The designs themselves: nothing departs, and the set pays one transform.
        cost_.sumFromFlatDb = FlatnessDb(judge.FullMagnitudes(n), n, sampleRate_);
        return cost_;
    }
    const std::int32_t m = MeasureLength(taps_, n);
    judge.FullMagnitudes(m); // first: it shares the work arrays
    Work& work = WorkArrays();
    if (linear) {
        work.magnitudes.assign(static_cast<std::size_t>(m) / 2 + 1, 0.0);
        std::copy(shortenedSum_.begin(), shortenedSum_.end(), work.magnitudes.begin());
        AmplitudeMagnitudes(work.magnitudes);
    } else {
        Wrap(shortenedSum_, m, work.wrapped, nullptr);
        WholeMagnitudes(work.wrapped, m, work.magnitudes);
    }
    cost_.sumFromFlatDb = FlatnessDb(work.magnitudes, m, sampleRate_);
    // Shortening is linear: the sum of the designs shortened to any count is the sum of the
    // bands shortened to it, so the search tries the sum alone.
    cost_.sum = Judged(judge, taps_, judge.Departure(m, work.magnitudes));
    return cost_;
}

ShorteningCost MeasureShortening(std::span<const std::vector<double>> designs, BandPhase phase,
                                 std::int32_t taps, double sampleRate) {
    ShorteningMeter meter(phase, taps, sampleRate);
    for (const std::vector<double>& design : designs)
        meter.Add(design);
    return meter.Finish();
}

} // namespace tarn
