#include "crossover/LinkwitzRiley.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>

#include "core/WideClones.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"

namespace tarn {

namespace {

// How the responses are formed
//
// The bilinear transform maps the digital frequency f onto the analog one tan(pi f / fs), so
// the digital Butterworth filter at f is the analog prototype at x = w / wc, where
// w = tan(pi f / fs) and wc = tan(pi fc / fs): evaluating the prototype there gives the
// digital filter exactly, with its n zeros at half the sample rate, and x = 1 at fc.
//
// With B(s) the Butterworth polynomial of order n, |B(jx)|^2 = 1 + x^2n. The squared
// low-pass is 1 / B^2; the squared high-pass (jx)^2n / B^2, inverted for odd n, is
// x^2n / B^2. Both are therefore their magnitude, 1 / (1 + x^2n) and x^2n / (1 + x^2n),
// times conj(B) / B, which is also their sum: the all-pass. Every factor of a band thus
// carries the all-pass phase of its crossover, and every band of a set has the same phase,
// the product of all the all-passes, with the product of the magnitudes as its magnitude.
// The magnitudes of a set add up to exactly 1: the low and the high magnitude of a crossover
// do, and band k's share splits into the bands above it the same way.
//
// Numerically, x runs from about 1e-9 to 1e16 and the powers x^2n over far more than the
// double range. The magnitudes are formed from r = min(x, 1/x) alone, so r^2n <= 1, and the
// phase of B(jx) from r as well: for x > 1, B(jx) = x^n (-1)^pairs j^odd conj(B(j/x)) (each
// pair factor 1 - x^2 + 2 a j x is -x^2 conj(1 - r^2 + 2 a j r), the single factor 1 + jx is
// x j conj(1 + j r)). The pair factors of B(jr) lie between a and 2 in magnitude, and
// |B(jr)| between 1 and sqrt(2), so their product neither overflows nor underflows.

constexpr double Pi = 3.14159265358979323846;
// The double nearest pi/2 lies below it, so its tangent is large and positive: half the
// sample rate maps onto the top of the prewarped axis, never past it.
constexpr double HalfPi = 1.57079632679489661923;

// Powers of r below this are 0: far below anything a band can show, and never subnormal.
constexpr double TinyPower = 1e-300;

struct Prototype {
    int order = 0;
    bool odd = false;
    // 2 sin((2k - 1) pi / 2n), k = 1..n/2: the pair factors s^2 + 2 a s + 1 of B(s).
    std::vector<double> twoA;
    // r below which r^2n < TinyPower.
    double tinyBelow = 0;

    explicit Prototype(int n) : order(n), odd(n % 2 != 0), tinyBelow(std::pow(TinyPower, 0.5 / n)) {
        for (int k = 1; k <= n / 2; ++k)
            twoA.push_back(2.0 * std::sin((2.0 * k - 1.0) * Pi / (2.0 * n)));
    }
};

// The prewarped frequency of f [Hz] at sample period T [s].
double Prewarp(double f, double T) {
    return std::tan(std::min(Pi * (f * T), HalfPi));
}

// Bins a block is formed in: few enough for the work arrays to stay in the first-level cache.
constexpr int BlockSize = 256;

// For `count` frequencies with prewarped values w (and their inverses), the crossover with
// prewarped corner wc: its low-pass and high-pass magnitudes, and, where bRe is given, B(jx)
// scaled to a magnitude between 1 and sqrt(2), which keeps its phase.
// count <= BlockSize. Every step runs over the whole block without branches, so that the
// compiler can take the bins several at a time.
TARN_WIDE_CLONES void CrossoverBlock(const Prototype& proto, double wc, const double* w,
                                     const double* wInverse, int count, double* low, double* high,
                                     double* bRe, double* bIm) {
    const double wcInverse = 1.0 / wc;
    const double tinyBelow = proto.tinyBelow;
    double r[BlockSize], power[BlockSize], base[BlockSize];
    for (int i = 0; i < count; ++i) {
        const double up = wc * wInverse[i], down = w[i] * wcInverse;
        r[i] = w[i] > wc ? up : down;
        // Clamped, so that no square below becomes subnormal; such powers are set to 0 after.
        const double clamped = std::max(r[i], tinyBelow);
        base[i] = clamped * clamped;
        power[i] = 1.0;
    }
    for (int e = proto.order; e != 0; e >>= 1) {
        if (e & 1)
            for (int i = 0; i < count; ++i)
                power[i] *= base[i];
        if (e > 1)
            for (int i = 0; i < count; ++i)
                base[i] *= base[i];
    }
    for (int i = 0; i < count; ++i) {
        const double p = r[i] < tinyBelow ? 0.0 : power[i];
        const double big = 1.0 / (1.0 + p);
        const double small = p * big;
        const bool above = w[i] > wc;
        low[i] = above ? small : big;
        high[i] = above ? big : small;
    }
    if (!bRe) return;

    // B(jr) over the whole block. Two pair factors c + 2 a j r (c = 1 - r^2) at a time: their
    // product is c^2 - 4 a1 a2 r^2 + 2 (a1 + a2) j r c, a third less work than taking them
    // one by one.
    double re[BlockSize], im[BlockSize], c[BlockSize], cc[BlockSize], rr[BlockSize], rc[BlockSize];
    for (int i = 0; i < count; ++i) {
        re[i] = 1.0;
        im[i] = proto.odd ? r[i] : 0.0;
        c[i] = (1.0 - r[i]) * (1.0 + r[i]);
        cc[i] = c[i] * c[i];
        rr[i] = r[i] * r[i];
        rc[i] = r[i] * c[i];
    }
    const std::size_t pairs = proto.twoA.size();
    for (std::size_t k = 0; k + 1 < pairs; k += 2) {
        const double product = proto.twoA[k] * proto.twoA[k + 1];
        const double sum = proto.twoA[k] + proto.twoA[k + 1];
        for (int i = 0; i < count; ++i) {
            const double factorRe = cc[i] - product * rr[i];
            const double factorIm = sum * rc[i];
            const double nextRe = re[i] * factorRe - im[i] * factorIm;
            im[i] = re[i] * factorIm + im[i] * factorRe;
            re[i] = nextRe;
        }
    }
    if (pairs % 2 != 0) {
        const double twoA = proto.twoA.back();
        for (int i = 0; i < count; ++i) {
            const double e = twoA * r[i];
            const double nextRe = re[i] * c[i] - im[i] * e;
            im[i] = re[i] * e + im[i] * c[i];
            re[i] = nextRe;
        }
    }
    // Above the corner, B(jx) has the phase of s conj(B(jr)), s = (-1)^pairs j^odd.
    const double sign = proto.twoA.size() % 2 != 0 ? -1.0 : 1.0;
    const double sRe = proto.odd ? 0.0 : sign, sIm = proto.odd ? sign : 0.0;
    for (int i = 0; i < count; ++i) {
        const double pr = re[i], pi = im[i];
        const double turnedRe = sRe * pr + sIm * pi, turnedIm = sIm * pr - sRe * pi;
        const bool above = w[i] > wc;
        bRe[i] = above ? turnedRe : pr;
        bIm[i] = above ? turnedIm : pi;
    }
}

void Validate(int order, const std::vector<double>& crossovers, int band, double fs) {
    if (order < 1 || order > MaxLinkwitzRileyOrder)
        throw std::invalid_argument("Linkwitz-Riley order out of range");
    if (crossovers.empty() || crossovers.size() > MaxCrossovers)
        throw std::invalid_argument("Linkwitz-Riley sets have 1 to 4 crossovers");
    if (!(fs > 0) || !std::isfinite(fs)) throw std::invalid_argument("no sample rate");
    double previous = 0;
    for (const double f : crossovers) {
        if (!(f > previous) || !(f < fs / 2))
            throw std::invalid_argument(
                "Linkwitz-Riley crossovers must ascend between 0 and half the sample rate");
        previous = f;
    }
    if (band < 0 || band > static_cast<int>(crossovers.size()))
        throw std::invalid_argument("no such band");
}

// The all-pass conj(B) / B of the crossovers whose B(jx) have the product re + j im.
std::complex<double> AllPass(double re, double im) {
    const double inverse = 1.0 / (re * re + im * im);
    return {(re * re - im * im) * inverse, -2.0 * re * im * inverse};
}

// ---------------------------------------------------------------------------------------
// The tables a set's bands share

// Prewarped frequencies of bins 0..N/2, for one sample period and length.
struct BinTable {
    double period = 0;
    std::int32_t length = 0;
    std::vector<double> w, wInverse;
};

const BinTable& PrewarpedBins() {
    thread_local BinTable table;
    if (table.period != SamplePeriod || table.length != SpecLength) {
        const std::int32_t half = SpecLength / 2;
        table.w.resize(half + 1);
        table.wInverse.resize(half + 1);
        for (std::int32_t k = 0; k <= half; ++k) {
            table.w[k] = Prewarp(BinFrequency(k, SamplePeriod), SamplePeriod);
            table.wInverse[k] = 1.0 / table.w[k];
        }
        table.period = SamplePeriod;
        table.length = SpecLength;
    }
    return table;
}

// Per crossover the magnitudes, and the phase of the whole set, on bins 0..N/2.
struct SetTable {
    int order = 0;
    std::vector<double> crossovers;
    double period = 0;
    std::int32_t length = 0;
    std::vector<std::vector<double>> low, high;
    bool hasPhase = false;
    std::vector<double> phaseRe, phaseIm; // the product of the all-passes
};

const SetTable& TableFor(int order, const std::vector<double>& crossovers, bool phase) {
    thread_local SetTable table;
    const bool same = table.order == order && table.crossovers == crossovers &&
                      table.period == SamplePeriod && table.length == SpecLength;
    if (same && (table.hasPhase || !phase)) return table;

    const BinTable& bins = PrewarpedBins();
    const std::int32_t count = SpecLength / 2 + 1;
    const std::size_t m = crossovers.size();
    const Prototype proto(order);
    table.low.resize(m);
    table.high.resize(m);
    for (std::size_t i = 0; i < m; ++i) {
        table.low[i].resize(count);
        table.high[i].resize(count);
    }
    if (phase) {
        table.phaseRe.resize(count);
        table.phaseIm.resize(count);
    }
    double blockRe[BlockSize], blockIm[BlockSize];
    double accRe[BlockSize], accIm[BlockSize];
    for (std::int32_t start = 0; start < count; start += BlockSize) {
        const int n = std::min<std::int32_t>(BlockSize, count - start);
        std::fill_n(accRe, n, 1.0);
        std::fill_n(accIm, n, 0.0);
        for (std::size_t i = 0; i < m; ++i) {
            const double wc = Prewarp(crossovers[i], SamplePeriod);
            CrossoverBlock(proto, wc, bins.w.data() + start, bins.wInverse.data() + start, n,
                           table.low[i].data() + start, table.high[i].data() + start,
                           phase ? blockRe : nullptr, blockIm);
            if (!phase) continue;
            for (int j = 0; j < n; ++j) {
                const double re = accRe[j] * blockRe[j] - accIm[j] * blockIm[j];
                accIm[j] = accRe[j] * blockIm[j] + accIm[j] * blockRe[j];
                accRe[j] = re;
            }
        }
        if (!phase) continue;
        for (int j = 0; j < n; ++j) {
            const std::complex<double> a = AllPass(accRe[j], accIm[j]);
            table.phaseRe[start + j] = a.real();
            table.phaseIm[start + j] = a.imag();
        }
    }
    table.order = order;
    table.crossovers = crossovers;
    table.period = SamplePeriod;
    table.length = SpecLength;
    table.hasPhase = phase;
    return table;
}

} // namespace

CrossoverResponse LinkwitzRileyAt(int order, double fc, double f, double fs) {
    Validate(order, {fc}, 0, fs);
    if (!(f >= 0 && f <= fs / 2)) throw std::invalid_argument("frequency beyond half the rate");
    const Prototype proto(order);
    const double w = Prewarp(f, 1.0 / fs), wInverse = 1.0 / w;
    double low, high, pr, pi;
    CrossoverBlock(proto, Prewarp(fc, 1.0 / fs), &w, &wInverse, 1, &low, &high, &pr, &pi);
    const std::complex<double> allPass = AllPass(pr, pi);
    return {low * allPass, high * allPass, allPass};
}

std::complex<double> LinkwitzRileyBandAt(int order, const std::vector<double>& crossovers, int band,
                                         double f, double fs) {
    Validate(order, crossovers, band, fs);
    std::complex<double> response = 1.0;
    for (std::size_t i = 0; i < crossovers.size(); ++i) {
        const CrossoverResponse c = LinkwitzRileyAt(order, crossovers[i], f, fs);
        const int k = static_cast<int>(i);
        response *= k < band ? c.highPass : k == band ? c.lowPass : c.allPass;
    }
    return response;
}

void DesignLinkwitzRiley(int order, const std::vector<double>& crossovers, int band,
                         bool minimumPhase) {
    if (!(SamplePeriod > 0)) throw std::invalid_argument("no sample rate");
    Validate(order, crossovers, band, 1.0 / SamplePeriod);
    if (SpecLength < 4 || static_cast<std::int32_t>(SpecRe.size()) < SpecLength ||
        static_cast<std::int32_t>(SpecIm.size()) < SpecLength)
        throw std::invalid_argument("no spectrum workspace");

    const SetTable& table = TableFor(order, crossovers, minimumPhase);
    const std::int32_t half = SpecLength / 2;
    double* re = SpecRe.data();
    double* im = SpecIm.data();
    // The band's magnitude: the high-passes below it, its own low-pass.
    const bool top = band == static_cast<int>(crossovers.size());
    const double* own = top ? nullptr : table.low[band].data();
    for (std::int32_t k = 0; k <= half; ++k)
        re[k] = own ? own[k] : 1.0;
    for (int i = 0; i < band; ++i) {
        const double* h = table.high[i].data();
        for (std::int32_t k = 0; k <= half; ++k)
            re[k] *= h[k];
    }
    if (minimumPhase) {
        const double* pr = table.phaseRe.data();
        const double* pi = table.phaseIm.data();
        for (std::int32_t k = 0; k <= half; ++k) {
            im[k] = re[k] * pi[k];
            re[k] = re[k] * pr[k];
        }
        // DC and half the sample rate are real for a real response; the phases there differ
        // from 0 or pi by rounding alone.
        im[0] = 0.0;
        im[half] = 0.0;
    } else {
        ApplyLinearPhase();
    }
    InverseRealFFT();
}

// ---------------------------------------------------------------------------------------
// Whether the taps hold the whole response

double TapsFit::TailLimit() const {
    return minimumPhase ? TailEnergyLimit : LinearTailEnergyLimit;
}

bool TapsFit::Holds() const {
    const double limit = TailLimit();
    return std::all_of(tailEnergy.begin(), tailEnergy.end(),
                       [limit](double e) { return e < limit; }) &&
           std::abs(sumDeviationDb) <= SumDeviationLimitDb;
}

TapsMeter::TapsMeter(bool minimumPhase) : minimumPhase_(minimumPhase) {}

void TapsMeter::Add(const std::vector<double>& taps) {
    const std::size_t n = taps.size();
    if (sum_.empty()) sum_.assign(n, 0.0);
    if (n != sum_.size() || n < 20) throw std::invalid_argument("bands of different lengths");
    long double all = 0, tail = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const long double e = static_cast<long double>(taps[i]) * taps[i];
        all += e;
        const bool inTail = minimumPhase_ ? i >= n - n / 10 : i < n / 20 || i >= n - n / 20;
        if (inTail) tail += e;
        sum_[i] += taps[i];
    }
    tailEnergy_.push_back(all > 0 ? static_cast<double>(tail / all) : 0.0);
}

TapsFit TapsMeter::Finish() {
    TapsFit fit;
    fit.minimumPhase = minimumPhase_;
    fit.tailEnergy = tailEnergy_;
    if (sum_.empty()) return fit;
    if (static_cast<std::int32_t>(sum_.size()) != SpecLength)
        throw std::invalid_argument("bands of another length than the workspace");
    const std::int32_t n = SpecLength;
    const double rate = 1.0 / SamplePeriod;
    const double lowest = SumCheckLowestHz, highest = SumCheckHighestShare * rate;
    auto judge = [&](double f, double re, double im) {
        if (f < lowest || f > highest) return;
        const double db = 10.0 * std::log10(re * re + im * im);
        if (std::abs(db) > std::abs(fit.sumDeviationDb)) {
            fit.sumDeviationDb = db;
            fit.deviationHz = f;
        }
    };

    // The bins of the N-point transform...
    std::copy(sum_.begin(), sum_.end(), SpecRe.begin());
    ClearIm();
    RealFFT();
    for (std::int32_t k = 0; k <= n / 2; ++k)
        judge(k * rate / n, SpecRe[k], SpecIm[k]);
    // ...and halfway between them, where a tail wrapped onto the start shows most: the sum
    // turned by half a bin per sample, through the complex transform.
    for (std::int32_t i = 0; i < n; ++i) {
        const double angle = Pi * i / n;
        SpecRe[i] = sum_[i] * std::cos(angle);
        SpecIm[i] = -sum_[i] * std::sin(angle);
    }
    SplitFFT(n);
    for (std::int32_t k = 0; k < n / 2; ++k)
        judge((k + 0.5) * rate / n, SpecRe[k], SpecIm[k]);
    ClearSpectrum();
    return fit;
}

namespace {

// Numbers in the warning, whatever the process's locale.
std::string Number(double value, std::chars_format format, int precision) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, format, precision);
    return std::string(text, result.ptr);
}

} // namespace

std::string TapsWarning(const TapsFit& fit, const std::vector<std::string>& bandNames) {
    if (fit.Holds()) return {};
    std::string text = "The Linkwitz-Riley bands do not fit their taps.";
    for (std::size_t i = 0; i < fit.tailEnergy.size(); ++i) {
        if (fit.tailEnergy[i] < fit.TailLimit()) continue;
        const std::string name = i < bandNames.size() ? bandNames[i] : "Band " + std::to_string(i);
        text += " " + name +
                " rings on: " + Number(fit.tailEnergy[i], std::chars_format::general, 2) +
                " of its energy lies in " +
                (fit.minimumPhase ? "the last tenth" : "the first and last twentieth") +
                " of its taps.";
    }
    text += " The sum deviates " + Number(fit.sumDeviationDb, std::chars_format::fixed, 3) +
            " dB from flat at " + Number(fit.deviationHz, std::chars_format::fixed, 1) +
            " Hz. Choose a higher crossover frequency or a lower order.";
    return text;
}

} // namespace tarn
