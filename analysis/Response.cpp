#include "analysis/Response.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <stdexcept>
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

    r.magnitudeDb.clear();
    r.groupDelayMs.clear();
    for (double f : a.frequencies) {
        const double mag = a.MagnitudeDbAt(r, f);
        r.magnitudeDb.push_back(mag);
        r.groupDelayMs.push_back(mag < r.maxDb - GroupDelayRangeDb
                                     ? std::numeric_limits<double>::quiet_NaN()
                                     : a.GroupDelayMsAt(r, f));
    }
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

ResponseAnalysis AnalyseResponses(std::vector<NamedTaps> bands, double sampleRate,
                                  const AnalysisOptions& options) {
    if (bands.empty()) throw std::invalid_argument("AnalyseResponses: no bands");
    ResponseAnalysis a;
    a.sampleRate = sampleRate;
    a.transformSize = options.transformSize;

    const double nyquist = sampleRate / 2;
    const int points = std::max(options.gridPoints, 2);
    for (int i = 0; i < points; ++i)
        a.frequencies.push_back(options.lowestHz *
                                std::pow(nyquist / options.lowestHz, i / double(points - 1)));
    a.frequencies.back() = nyquist;

    RealTransform transform(options.transformSize);
    std::size_t length = 0;
    for (const NamedTaps& band : bands)
        length = std::max(length, band.taps.size());

    a.sum.name = "Sum";
    a.sum.title = "Sum";
    a.sum.impulse.assign(length, 0.0);
    a.sum.spectrum.assign(options.transformSize / 2 + 1, {0.0, 0.0});
    for (NamedTaps& band : bands) {
        BandResponse r;
        r.name = band.name;
        r.title = band.title;
        r.impulse = std::move(band.taps);
        r.spectrum = transform.Forward(r.impulse);
        for (std::size_t i = 0; i < r.impulse.size(); ++i)
            a.sum.impulse[i] += r.impulse[i];
        // The transform is linear: the sum's spectrum is the sum of the spectra.
        for (std::size_t k = 0; k < r.spectrum.size(); ++k)
            a.sum.spectrum[k] += r.spectrum[k];
        a.bands.push_back(std::move(r));
    }
    for (BandResponse& r : a.bands)
        Describe(r, a);
    Describe(a.sum, a);

    a.step.resize(length);
    double running = 0;
    for (std::size_t i = 0; i < length; ++i)
        a.step[i] = running += a.sum.impulse[i];

    const Deviation deviation = LargestDeviation(a.sum.spectrum, a.BinHz(), options);
    a.deviationDb = deviation.db;
    a.deviationHz = deviation.hz;

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

ResponseAnalysis AnalyseSet(const CoefficientSet& set, const AnalysisOptions& options) {
    CoefficientSet read = set;
    std::vector<std::vector<double>> taps = ReadSet(read);
    return AnalyseSet(read, std::move(taps), options);
}

ResponseAnalysis AnalyseSet(const CoefficientSet& set, std::vector<std::vector<double>> taps,
                            const AnalysisOptions& options) {
    std::vector<NamedTaps> bands;
    for (std::size_t i = 0; i < set.files.size() && i < taps.size(); ++i)
        bands.push_back(
            {set.files[i].filename().string(), BandTitle(set.bands[i]), std::move(taps[i])});
    return AnalyseResponses(std::move(bands), set.SampleRate(), options);
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
    // The sum's own -3/-6 dB points would mark its dips, not band edges; its figure is
    // the deviation from flat.
    const BandResponse& s = a.sum;
    rows.push_back({s.name, std::to_string(s.peakSample), Fixed(s.peakDelayMs, 3), "", "", "", "",
                    Fixed(a.deviationDb, 4), Fixed(a.deviationHz, 1)});
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
