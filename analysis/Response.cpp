#include "analysis/Response.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <numbers>
#include <stdexcept>
#include <thread>
#include <utility>

#include "analysis/RealTransform.h"

namespace tarn {

namespace {

// Below any value a 64-bit response can carry; keeps log10(0) out of the figures.
constexpr double SilenceDb = -400.0;

// The share of a response's energy that may lie before the first and after the last
// sample of the span an impulse chart shows, and the margin around that span.
constexpr double OutsideEnergyShare = 1e-4;
constexpr double SpanMargin = 0.1;
constexpr double ShortestSpanMs = 2.0;

// Taps count as symmetric when each pair differs by at most this share of the largest tap
// (a 32-bit file rounds a symmetric response symmetrically, so this leaves room only for
// the last bits of a computed one), and the samples without a partner on the other side
// hold at most UnpairedEnergyShare of the energy (sample 0 of a set of 65536 taps centred on
// 32768, or the far tail of a shortened response).
constexpr double SymmetryTolerance = 1e-6;
constexpr double UnpairedEnergyShare = 1e-6;

// The linear phase that advances bin `bin` of an M-point transform by delay samples: a turn
// of delay * bin / M, reduced to below one turn first (exact for whole and half samples) so
// the angle stays small.
std::complex<double> Advance(double delay, std::size_t bin, std::size_t transformSize) {
    const double size = static_cast<double>(transformSize);
    const double turns = std::fmod(delay * static_cast<double>(bin), size) / size;
    return std::polar(1.0, 2.0 * std::numbers::pi * turns);
}

double WrapDeg(double deg) {
    const double wrapped = deg - 360.0 * std::round(deg / 360.0);
    return wrapped <= -180.0 ? wrapped + 360.0 : wrapped;
}

double Degrees(double radians) {
    return radians * 180.0 / std::numbers::pi;
}

double Power(std::complex<double> h) {
    // std::abs goes through hypot, several times slower, and this runs for every bin.
    return h.real() * h.real() + h.imag() * h.imag();
}

double DbOfPower(double power) {
    return power > 0 ? std::max(10.0 * std::log10(power), SilenceDb) : SilenceDb;
}

double Db(std::complex<double> h) {
    return DbOfPower(Power(h));
}

// Powers apart by more than this share of their size lie further apart in dB than a
// logarithm's rounding: comparing them tells the order of their levels without a logarithm.
constexpr double PowerMargin = 1e-9;

// The phase step from bin k to bin k+1 as the argument of H[k+1] conj(H[k]): it lies in
// (-pi, pi], so no unwrapping is needed as long as the delay is below M/2 samples, which
// every response of at most M/2 taps keeps to.
double GroupDelaySamples(const std::vector<std::complex<double>>& h, std::size_t k,
                         std::size_t transformSize) {
    const double step = std::arg(h[k + 1] * std::conj(h[k]));
    return -step * static_cast<double>(transformSize) / (2.0 * std::numbers::pi);
}

// Nearest frequency below or above the peak bin where the magnitude falls below
// maxDb - drop, interpolated linearly between the bins around the crossing. The logarithm is
// taken only of the powers near the level and of the two bins around a crossing.
BandEdges Edges(const std::vector<std::complex<double>>& h, std::size_t peak, double maxDb,
                double drop, double binHz) {
    const double level = maxDb - drop;
    BandEdges edges;
    if (level <= SilenceDb) return edges; // nothing lies below it
    const double power = std::pow(10.0, level / 10);
    const double surelyBelow = power * (1 - PowerMargin), surelyAbove = power * (1 + PowerMargin);
    const auto below = [&](std::size_t k) {
        const double p = Power(h[k]);
        if (p < surelyBelow) return true;
        if (p > surelyAbove) return false;
        return DbOfPower(p) < level;
    };
    for (std::size_t k = peak; k > 0; --k)
        if (below(k - 1)) {
            const double t = (level - Db(h[k - 1])) / (Db(h[k]) - Db(h[k - 1]));
            edges.lower = (static_cast<double>(k - 1) + t) * binHz;
            break;
        }
    for (std::size_t k = peak; k + 1 < h.size(); ++k)
        if (below(k + 1)) {
            const double t = (Db(h[k]) - level) / (Db(h[k]) - Db(h[k + 1]));
            edges.upper = (static_cast<double>(k) + t) * binHz;
            break;
        }
    return edges;
}

// First and last sample outside of which the response holds at most OutsideEnergyShare of
// its energy at each end.
std::pair<int, int> EnergySpan(const std::vector<double>& x) {
    double total = 0;
    for (double v : x)
        total += v * v;
    if (total == 0 || x.empty()) return {0, 0};
    const double outside = total * OutsideEnergyShare;
    int first = 0;
    for (double acc = 0; first + 1 < static_cast<int>(x.size()); ++first) {
        acc += x[first] * x[first];
        if (acc > outside) break;
    }
    int last = static_cast<int>(x.size()) - 1;
    for (double acc = 0; last > first; --last) {
        acc += x[last] * x[last];
        if (acc > outside) break;
    }
    return {first, last};
}

// The centre of symmetry of x, tried at the largest tap and half a sample either side of it:
// a symmetric response with a non-negative spectrum (every band design) peaks at its centre.
std::optional<double> SymmetryCentre(const std::vector<double>& x) {
    const long n = static_cast<long>(x.size());
    long peak = 0;
    double total = 0;
    for (long i = 0; i < n; ++i) {
        total += x[i] * x[i];
        if (std::abs(x[i]) > std::abs(x[peak])) peak = i;
    }
    if (total == 0) return std::nullopt;
    const double tolerance = SymmetryTolerance * std::abs(x[peak]);
    for (const long twice : {2 * peak, 2 * peak - 1, 2 * peak + 1}) {
        if (twice < 0 || twice > 2 * (n - 1)) continue;
        // Samples lo..twice-lo mirror onto each other; the rest have no partner.
        const long lo = std::max(0L, twice - (n - 1));
        bool symmetric = true;
        for (long i = lo; 2 * i < twice && symmetric; ++i)
            symmetric = std::abs(x[i] - x[twice - i]) <= tolerance;
        if (!symmetric) continue;
        double unpaired = 0;
        for (long i = 0; i < lo; ++i)
            unpaired += x[i] * x[i];
        for (long i = twice - lo + 1; i < n; ++i)
            unpaired += x[i] * x[i];
        if (unpaired <= UnpairedEnergyShare * total) return static_cast<double>(twice) / 2.0;
    }
    return std::nullopt;
}

// The phase on the grid, unwrapped outwards from grid point `anchor`, which keeps its
// wrapped value: each step takes the turn the group delay predicts between two grid points
// and adds the wrapped remainder, so a step of many bins (high up the logarithmic grid)
// keeps its whole turns.
std::vector<double> Unwrapped(const std::vector<double>& frequencies, std::size_t anchor,
                              const std::vector<double>& wrappedDeg,
                              const std::vector<double>& relativeDelayMs) {
    const std::size_t n = frequencies.size();
    std::vector<double> unwrapped(n);
    if (n == 0) return unwrapped;
    unwrapped[anchor] = wrappedDeg[anchor];
    auto step = [&](std::size_t from, std::size_t to) {
        const double turn = -360.0 * (frequencies[to] - frequencies[from]) *
                            (relativeDelayMs[from] + relativeDelayMs[to]) / 2000.0;
        unwrapped[to] = unwrapped[from] + turn + WrapDeg(wrappedDeg[to] - wrappedDeg[from] - turn);
    };
    for (std::size_t i = anchor + 1; i < n; ++i)
        step(i - 1, i);
    for (std::size_t i = anchor; i > 0; --i)
        step(i, i - 1);
    return unwrapped;
}

// Runs work(first, stride) for the items first, first + stride, ... of count independent
// items: on this thread alone, or, where the machine has a second core, split between this
// thread and one more. The bands of a set are read on their own buffers (each thread makes
// its own transform), so the split changes nothing in the results, only how soon they are
// there: the response window waits for them after every run.
template <class Work> void InParallel(std::size_t count, Work work) {
    if (count < 2 || std::thread::hardware_concurrency() < 2) {
        work(0, 1);
        return;
    }
    std::exception_ptr failed;
    std::thread helper([&] {
        try {
            work(1, 2);
        } catch (...) {
            failed = std::current_exception();
        }
    });
    try {
        work(0, 2);
    } catch (...) {
        helper.join();
        throw;
    }
    helper.join();
    if (failed) std::rethrow_exception(failed);
}

void Describe(BandResponse& r, const ResponseAnalysis& a) {
    // The loudest bin: the first of the largest level. Only powers within the margin of the
    // largest can round to that level, so only they take the logarithm.
    const std::vector<std::complex<double>>& h = r.spectrum;
    double largest = 0;
    for (const std::complex<double>& bin : h)
        largest = std::max(largest, Power(bin));
    // (Where even the largest is silence, every bin is.)
    const double candidate = DbOfPower(largest) == SilenceDb ? 0 : largest * (1 - PowerMargin);
    std::size_t peakBin = 0;
    r.maxDb = -std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < h.size(); ++k)
        if (Power(h[k]) >= candidate) {
            const double db = Db(h[k]);
            if (db > r.maxDb) {
                r.maxDb = db;
                peakBin = k;
            }
        }
    r.minus3 = Edges(h, peakBin, r.maxDb, 3.0, a.BinHz());
    r.minus6 = Edges(h, peakBin, r.maxDb, 6.0, a.BinHz());

    std::size_t peak = 0;
    for (std::size_t i = 1; i < r.impulse.size(); ++i)
        if (std::abs(r.impulse[i]) > std::abs(r.impulse[peak])) peak = i;
    r.peakSample = static_cast<int>(peak);
    r.peakDelayMs = 1000.0 * static_cast<double>(peak) / a.sampleRate;

    const std::size_t n = a.frequencies.size();
    r.magnitudeDb.resize(n);
    r.groupDelayMs.resize(n);
    r.phaseDeg.resize(n);
    r.relativeDelayMs.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double f = a.frequencies[i];
        r.magnitudeDb[i] = a.MagnitudeDbAt(r, f);
        r.groupDelayMs[i] = a.GroupDelayMsAt(r, f);
        r.relativeDelayMs[i] = r.groupDelayMs[i] - a.BulkDelayMs();
        r.phaseDeg[i] = a.PhaseDegAt(r, f);
    }
    // Unwrapped from the lowest frequency that is shown, as a measuring program unwraps from
    // the low end of its range, and through the stop bands too, so that a band's curve is
    // one piece; only then are they blanked.
    const double floor = r.maxDb - GroupDelayRangeDb;
    const std::size_t firstShown =
        static_cast<std::size_t>(std::find_if(r.magnitudeDb.begin(), r.magnitudeDb.end(),
                                              [floor](double level) { return level >= floor; }) -
                                 r.magnitudeDb.begin());
    r.unwrappedPhaseDeg =
        Unwrapped(a.frequencies, std::min(firstShown, n - 1), r.phaseDeg, r.relativeDelayMs);
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t i = 0; i < n; ++i)
        if (r.magnitudeDb[i] < floor)
            r.groupDelayMs[i] = r.relativeDelayMs[i] = r.phaseDeg[i] = r.unwrappedPhaseDeg[i] =
                none;
}

std::string Fixed(double value, int decimals) {
    // No "-0.000" for a value that rounds to zero.
    const double unit = std::pow(10.0, -decimals) / 2;
    if (std::abs(value) < unit) value = 0;
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Hz(const std::optional<double>& f) {
    return f ? Fixed(*f, 1) : "-";
}

} // namespace

double ResponseAnalysis::MagnitudeDbAt(const BandResponse& response, double hz) const {
    const double position = std::clamp(hz / BinHz(), 0.0, static_cast<double>(transformSize / 2));
    const std::size_t k = std::min(static_cast<std::size_t>(position), transformSize / 2 - 1);
    const double t = position - static_cast<double>(k);
    return (1 - t) * Db(response.spectrum[k]) + t * Db(response.spectrum[k + 1]);
}

double ResponseAnalysis::GroupDelayMsAt(const BandResponse& response, double hz) const {
    const double position = hz / BinHz() - 0.5;
    const std::size_t k = static_cast<std::size_t>(
        std::clamp(std::round(position), 0.0, static_cast<double>(transformSize / 2 - 1)));
    return 1000.0 * GroupDelaySamples(response.spectrum, k, transformSize) / sampleRate;
}

double ResponseAnalysis::RelativeDelayMsAt(const BandResponse& response, double hz) const {
    return GroupDelayMsAt(response, hz) - BulkDelayMs();
}

double ResponseAnalysis::PhaseDegAt(const BandResponse& response, double hz) const {
    const double position = std::clamp(hz / BinHz(), 0.0, static_cast<double>(transformSize / 2));
    const std::size_t k = std::min(static_cast<std::size_t>(position), transformSize / 2 - 1);
    const double t = position - static_cast<double>(k);
    // The bulk delay's linear phase taken off.
    const std::complex<double> low =
        response.spectrum[k] * Advance(bulkDelaySamples, k, transformSize);
    const std::complex<double> high =
        response.spectrum[k + 1] * Advance(bulkDelaySamples, k + 1, transformSize);
    return WrapDeg(Degrees(std::arg(low) + t * std::arg(high * std::conj(low))));
}

BandTrim TrimAt(std::span<const BandTrim> trims, std::size_t band) {
    return band < trims.size() ? trims[band] : BandTrim{};
}

bool AnyTrim(std::span<const BandTrim> trims) {
    return std::any_of(trims.begin(), trims.end(),
                       [](const BandTrim& trim) { return !trim.IsNeutral(); });
}

double DelaySamples(const BandTrim& trim, double sampleRate) {
    return trim.delayMs * sampleRate / 1000.0;
}

std::vector<std::complex<double>> UntrimmedSum(const ResponseAnalysis& a,
                                               std::span<const BandTrim> trims) {
    std::vector<std::complex<double>> sum(a.sum.spectrum.size());
    for (std::size_t b = 0; b < a.bands.size(); ++b) {
        const std::vector<std::complex<double>>& h = a.bands[b].spectrum;
        const BandTrim trim = TrimAt(trims, b);
        const double gain = TrimGain(trim);
        const double delay = DelaySamples(trim, a.sampleRate);
        for (std::size_t k = 0; k < sum.size() && k < h.size(); ++k) {
            std::complex<double> bin = h[k] / gain;
            if (delay != 0) bin *= Advance(delay, k, a.transformSize);
            sum[k] += bin;
        }
    }
    return sum;
}

ResponseAnalysis AnalyseResponses(std::vector<NamedTaps> bands, double sampleRate,
                                  const AnalysisOptions& options, std::span<const BandTrim> trims) {
    if (bands.empty()) throw std::invalid_argument("AnalyseResponses: no bands");
    ResponseAnalysis a;
    a.sampleRate = sampleRate;
    a.transformSize = options.transformSize;
    for (std::size_t b = 0; b < bands.size(); ++b)
        a.trims.push_back(TrimAt(trims, b));

    const double nyquist = sampleRate / 2;
    const int points = std::max(options.gridPoints, 2);
    for (int i = 0; i < points; ++i)
        a.frequencies.push_back(options.lowestHz *
                                std::pow(nyquist / options.lowestHz, i / double(points - 1)));
    a.frequencies.back() = nyquist;

    std::size_t length = 0;
    for (NamedTaps& band : bands) {
        length = std::max(length, band.taps.size());
        BandResponse r;
        r.name = band.name;
        r.title = band.title;
        r.impulse = std::move(band.taps);
        a.bands.push_back(std::move(r));
    }
    InParallel(a.bands.size(), [&](std::size_t first, std::size_t stride) {
        RealTransform transform(options.transformSize);
        for (std::size_t b = first; b < a.bands.size(); b += stride) {
            a.bands[b].spectrum = transform.Forward(a.bands[b].impulse);
            a.bands[b].symmetryCentre = SymmetryCentre(a.bands[b].impulse);
        }
    });

    const bool trimmed = AnyTrim(a.trims);
    a.sum.name = a.sum.title = trimmed ? WrittenSumTitle : SumTitle;
    a.sum.impulse.assign(length, 0.0);
    a.sum.spectrum.assign(options.transformSize / 2 + 1, {0.0, 0.0});
    for (const BandResponse& r : a.bands) {
        for (std::size_t i = 0; i < r.impulse.size(); ++i)
            a.sum.impulse[i] += r.impulse[i];
        // The transform is linear: the sum's spectrum is the sum of the spectra.
        for (std::size_t k = 0; k < r.spectrum.size(); ++k)
            a.sum.spectrum[k] += r.spectrum[k];
    }
    // A run writes all its bands in one phase, and no minimum-phase band is symmetric; a
    // linear-phase band delayed by a fraction of a sample is not symmetric either, and is
    // measured against the others.
    std::optional<double> bulk;
    for (const BandResponse& r : a.bands)
        if (r.symmetryCentre) bulk = std::min(bulk.value_or(*r.symmetryCentre), *r.symmetryCentre);
    a.sum.symmetryCentre = SymmetryCentre(a.sum.impulse);
    a.linearPhase = bulk.has_value();
    a.bulkDelaySamples = bulk.value_or(0.0);
    if (trimmed) {
        a.ownSum.emplace();
        a.ownSum->name = a.ownSum->title = OwnSumTitle;
        a.ownSum->spectrum = UntrimmedSum(a, a.trims);
    }
    // The bands, the sum, and the crossover's own sum where there is one.
    std::vector<BandResponse*> described;
    for (BandResponse& r : a.bands)
        described.push_back(&r);
    described.push_back(&a.sum);
    if (a.ownSum) described.push_back(&*a.ownSum);
    InParallel(described.size(), [&](std::size_t first, std::size_t stride) {
        for (std::size_t i = first; i < described.size(); i += stride)
            Describe(*described[i], a);
    });
    // Each band unwrapped by whole turns next to the sum where the band is loudest, so that
    // it meets the sum there as it does on the wrapped chart.
    for (BandResponse& r : a.bands) {
        const std::size_t loudest = static_cast<std::size_t>(
            std::max_element(r.magnitudeDb.begin(), r.magnitudeDb.end()) - r.magnitudeDb.begin());
        const double apart = a.sum.unwrappedPhaseDeg[loudest] - r.unwrappedPhaseDeg[loudest];
        if (std::isnan(apart)) continue;
        const double turns = 360.0 * std::round(apart / 360.0);
        for (double& deg : r.unwrappedPhaseDeg)
            deg += turns;
    }

    a.step.resize(length);
    double running = 0;
    for (std::size_t i = 0; i < length; ++i)
        a.step[i] = running += a.sum.impulse[i];

    const Deviation deviation = LargestDeviation(a.sum.spectrum, a.BinHz(), options);
    a.deviationDb = deviation.db;
    a.deviationHz = deviation.hz;
    if (a.ownSum) a.ownDeviation = LargestDeviation(a.ownSum->spectrum, a.BinHz(), options);

    int first = static_cast<int>(length) - 1, last = 0;
    auto widen = [&](const std::vector<double>& x) {
        const auto [f, l] = EnergySpan(x);
        first = std::min(first, f);
        last = std::max(last, l);
    };
    for (const BandResponse& r : a.bands)
        widen(r.impulse);
    widen(a.sum.impulse);
    if (last < first) first = last = 0;
    const int margin = static_cast<int>(SpanMargin * (last - first));
    const int shortest = static_cast<int>(ShortestSpanMs * sampleRate / 1000.0);
    first -= margin;
    last += margin;
    if (last - first < shortest) {
        const int grow = (shortest - (last - first) + 1) / 2;
        first -= grow;
        last += grow;
    }
    a.firstSample = std::max(first, 0);
    a.lastSample = std::min(last, static_cast<int>(length) - 1);
    return a;
}

ResponseAnalysis AnalyseSet(const CoefficientSet& set, const AnalysisOptions& options,
                            std::span<const BandTrim> trims) {
    std::vector<std::vector<double>> taps;
    for (const std::filesystem::path& file : set.files)
        taps.push_back(ReadCoefficientFile(file, set.SampleRate()));
    return AnalyseSet(set, std::move(taps), options, trims);
}

ResponseAnalysis AnalyseSet(const CoefficientSet& set, std::vector<std::vector<double>> taps,
                            const AnalysisOptions& options, std::span<const BandTrim> trims) {
    std::vector<NamedTaps> bands;
    for (std::size_t i = 0; i < set.files.size() && i < taps.size(); ++i)
        bands.push_back(
            {set.files[i].filename().string(), BandTitle(set.bands[i]), std::move(taps[i])});
    return AnalyseResponses(std::move(bands), set.SampleRate(), options, trims);
}

Deviation LargestDeviation(const std::vector<std::complex<double>>& spectrum, double binHz,
                           const AnalysisOptions& options) {
    const double nyquist = binHz * static_cast<double>(spectrum.size() - 1);
    const double to = std::min(options.flatToHz, nyquist);
    const auto firstBin = static_cast<std::size_t>(std::ceil(options.flatFromHz / binHz));
    const auto lastBin = static_cast<std::size_t>(std::floor(to / binHz));
    Deviation deviation;
    for (std::size_t k = firstBin; k <= lastBin && k < spectrum.size(); ++k) {
        const double db = Db(spectrum[k]);
        if (std::abs(db) > std::abs(deviation.db) || k == firstBin) {
            deviation.db = db;
            deviation.hz = static_cast<double>(k) * binHz;
        }
    }
    return deviation;
}

std::string DecimalText(double value, int decimals) {
    return Fixed(value, decimals);
}

std::vector<std::string> TableHeadings() {
    return {"File",         "Peak sample",   "Delay ms",         "-3 dB low Hz", "-3 dB high Hz",
            "-6 dB low Hz", "-6 dB high Hz", "Max deviation dB", "at Hz"};
}

std::vector<std::vector<std::string>> TableRows(const ResponseAnalysis& a) {
    std::vector<std::vector<std::string>> rows;
    for (const BandResponse& r : a.bands)
        rows.push_back({r.name, std::to_string(r.peakSample), Fixed(r.peakDelayMs, 3),
                        Hz(r.minus3.lower), Hz(r.minus3.upper), Hz(r.minus6.lower),
                        Hz(r.minus6.upper), "", ""});
    // A sum's own -3/-6 dB points would mark its dips, not band edges; its figure is the
    // deviation from flat.
    const auto sumRow = [&rows](const BandResponse& s, const Deviation& d) {
        const bool impulse = !s.impulse.empty();
        rows.push_back({s.name, impulse ? std::to_string(s.peakSample) : "-",
                        impulse ? Fixed(s.peakDelayMs, 3) : "-", "", "", "", "", Fixed(d.db, 4),
                        Fixed(d.hz, 1)});
    };
    sumRow(a.sum, {a.deviationDb, a.deviationHz});
    if (a.ownSum) sumRow(*a.ownSum, a.ownDeviation);
    return rows;
}

std::string FormatTable(const ResponseAnalysis& a) {
    std::vector<std::vector<std::string>> lines = TableRows(a);
    lines.insert(lines.begin(), TableHeadings());
    return AlignedColumns(lines);
}

std::string AlignedColumns(const std::vector<std::vector<std::string>>& lines) {
    std::vector<std::size_t> width(lines.front().size(), 0);
    for (const auto& line : lines)
        for (std::size_t c = 0; c < line.size(); ++c)
            width[c] = std::max(width[c], line[c].size());
    std::string text;
    for (const auto& line : lines) {
        std::string out;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::string pad(width[c] - line[c].size(), ' ');
            // The names in the first column left-aligned, the figures right-aligned.
            out += c == 0 ? line[c] + pad : "  " + pad + line[c];
        }
        while (!out.empty() && out.back() == ' ')
            out.pop_back();
        text += out + "\n";
    }
    return text;
}

std::vector<std::string> TrimTexts(const BandTrim& trim) {
    return {Fixed(trim.levelDb, 2), Fixed(trim.delayMs, 3),
            Fixed(MillimetresFromDelayMs(trim.delayMs), 1), trim.invert ? "inverted" : "normal"};
}

std::string CurvesCsv(const ResponseAnalysis& a) {
    std::vector<const BandResponse*> curves;
    for (const BandResponse& band : a.bands)
        curves.push_back(&band);
    curves.push_back(&a.sum);
    if (a.ownSum) curves.push_back(&*a.ownSum);
    std::string text = "Hz";
    for (const BandResponse* c : curves)
        text += "," + c->title + " dB," + c->title + " phase deg," + c->title + " delay ms";
    text += "\n";
    auto field = [&text](double value, int decimals) {
        text += ',';
        if (!std::isnan(value)) text += Fixed(value, decimals);
    };
    for (std::size_t i = 0; i < a.frequencies.size(); ++i) {
        text += Fixed(a.frequencies[i], 3);
        for (const BandResponse* c : curves) {
            field(c->magnitudeDb[i], 4);
            field(c->phaseDeg[i], 3);
            field(c->relativeDelayMs[i], 4);
        }
        text += "\n";
    }
    return text;
}

std::string ReportText(const CoefficientSet& shown, const std::vector<CoefficientSet>& all,
                       const ResponseAnalysis& analysis) {
    std::string text =
        shown.Pattern() + " in " + shown.directory.string() + ": " + shown.Description() + "\n";
    std::string others;
    for (const CoefficientSet& set : all)
        if (set.Pattern() != shown.Pattern())
            others += (others.empty() ? "" : ", ") + set.Pattern();
    if (!others.empty()) text += "Also found: " + others + "\n";
    return text + "\n" + FormatTable(analysis);
}

} // namespace tarn
