// Bands shortened from their full-length designs: latency, symmetry, the untouched head of
// a minimum-phase band, and the measured cost with the fewest taps that keep it small.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "core/Host.h"
#include "crossover/Shorten.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "spectral/FastFourier.h"

namespace tarn {
namespace {

using Set = std::vector<std::vector<double>>;

// Answers the designs' question about minimum phase and counts the transforms (each one
// lets the host handle its messages once).
class TestHost final : public Host {
  public:
    void ProcessMessages() override { ++transforms; }
    void ShowMessage(const std::string&) override {}
    bool MinimumPhaseOption() override { return minimumPhase; }
    bool minimumPhase = false;
    int transforms = 0;
};

struct ScopedHost {
    explicit ScopedHost(Host& host) : previous(SetHost(&host)) {}
    ~ScopedHost() { SetHost(previous); }
    Host* previous;
};

// The bands of a crossover at the given frequencies (order 10), designed as a run does on a
// grid of n points; made once per set of arguments.
const Set& Designs(std::vector<double> crossovers, BandPhase phase, double rate,
                   std::int32_t n = CoefficientCount) {
    static std::map<std::tuple<std::vector<double>, BandPhase, double, std::int32_t>, Set> made;
    Set& set = made[{crossovers, phase, rate, n}];
    if (!set.empty()) return set;
    TestHost host;
    host.minimumPhase = phase == BandPhase::Minimum;
    ScopedHost scoped(host);
    SamplePeriod = 1.0 / rate;
    AllocSpectrum(n);
    for (std::size_t b = 0; b <= crossovers.size(); ++b) {
        if (b == 0)
            DesignLowPass(10, crossovers.front());
        else if (b == crossovers.size())
            DesignHighPass(10, crossovers.back());
        else
            DesignBandPass(10, crossovers[b - 1], crossovers[b]);
        set.emplace_back(SpecRe.begin(), SpecRe.end());
    }
    FreeSpectrum();
    return set;
}

TEST(Shorten, LatencyAndDesignGrid) {
    struct Case {
        std::int32_t taps;
        std::int32_t grid;
        std::int32_t peak;
        double msAt48k;
    };
    for (const Case& c : {Case{65536, 65536, 32768, 682.667}, Case{8192, 65536, 4096, 85.333},
                          Case{6144, 65536, 3072, 64.0}, Case{2048, 65536, 1024, 21.333},
                          Case{257, 65536, 128, 2.667}, Case{65537, 131072, 32768, 682.667},
                          Case{131072, 131072, 65536, 1365.333}}) {
        EXPECT_EQ(DesignLength(c.taps), c.grid) << c.taps;
        EXPECT_EQ(LinearPhasePeak(c.taps), c.peak) << c.taps;
        EXPECT_NEAR(LatencyMs(BandPhase::Linear, c.taps, 48000.0), c.msAt48k, 1e-3) << c.taps;
        EXPECT_EQ(LatencyMs(BandPhase::Minimum, c.taps, 48000.0), 0.0) << c.taps;
    }
}

TEST(Shorten, FullLengthComesBackBitForBit) {
    for (BandPhase phase : {BandPhase::Linear, BandPhase::Minimum})
        for (std::int32_t n : {65536, 131072})
            for (const std::vector<double>& design : Designs({80, 500}, phase, 48000.0, n))
                EXPECT_EQ(ShortenBand(design, phase, n), design) << n;
}

TEST(Shorten, LinearPhaseIsExactlySymmetricAboutItsPeak) {
    for (std::int32_t n : {65536, 131072}) {
        const Set& set = Designs({80, 500}, BandPhase::Linear, 48000.0, n);
        for (std::int32_t taps : {256, 257, 2048, 6144, 8191, 65535, 100000}) {
            if (taps >= n) continue;
            for (const std::vector<double>& design : set) {
                const std::vector<double> h = ShortenBand(design, BandPhase::Linear, taps);
                ASSERT_EQ(static_cast<std::int32_t>(h.size()), taps);
                const std::int32_t peak = LinearPhasePeak(taps);
                EXPECT_EQ(h[peak], design[n / 2]) << taps;
                EXPECT_EQ(
                    std::max_element(h.begin(), h.end(),
                                     [](double a, double b) { return std::abs(a) < std::abs(b); }) -
                        h.begin(),
                    peak)
                    << taps;
                // An even count leaves tap 0 without a partner: it must be zero.
                if (taps % 2 == 0) {
                    EXPECT_EQ(h[0], 0.0) << taps;
                }
                for (std::int32_t d = 1; peak + d < taps; ++d)
                    ASSERT_EQ(h[peak + d], h[peak - d]) << taps << " " << d;
            }
        }
    }
}

TEST(Shorten, MinimumPhaseKeepsItsHeadAndOnlyFadesTheTail) {
    for (const std::vector<double>& design : Designs({80, 500}, BandPhase::Minimum, 48000.0))
        for (std::int32_t taps : {256, 2048, 6144, 8191}) {
            const std::vector<double> h = ShortenBand(design, BandPhase::Minimum, taps);
            ASSERT_EQ(static_cast<std::int32_t>(h.size()), taps);
            const std::int32_t head = taps - std::lround(Taper{}.tailShare * taps);
            for (std::int32_t i = 0; i < head; ++i)
                ASSERT_EQ(h[i], design[i]) << taps << " " << i;
            double previousWeight = 1.0;
            for (std::int32_t i = head; i < taps; ++i) {
                if (design[i] == 0.0) continue;
                const double weight = h[i] / design[i];
                ASSERT_LE(weight, previousWeight) << taps << " " << i;
                ASSERT_GT(weight, 0.0) << taps << " " << i;
                previousWeight = weight;
            }
            EXPECT_LT(previousWeight, 0.5) << taps;
        }
}

TEST(Shorten, RefusesCountsItCannotMake) {
    const std::vector<double> design(1024, 0.0), odd(1000, 0.0);
    EXPECT_THROW(ShortenBand(design, BandPhase::Linear, 0), std::invalid_argument);
    EXPECT_THROW(ShortenBand(design, BandPhase::Minimum, 1025), std::invalid_argument);
    EXPECT_THROW(ShortenBand(odd, BandPhase::Linear, 256), std::invalid_argument);
}

// The measure: a departure against the band's peak, between 20 Hz and 20 kHz.
TEST(ShorteningCost, DepartureIsMeasuredAgainstThePeakWithinTheAudioBand) {
    const std::vector<double>& design = Designs({500, 3000}, BandPhase::Linear, 48000.0)[1];
    std::vector<double> louder = design;
    for (double& x : louder)
        x *= 1.1;
    EXPECT_NEAR(BandDeviationDb(design, louder, 48000.0), 20 * std::log10(1.1), 1e-6);
    EXPECT_EQ(BandDeviationDb(design, design, 48000.0), 0.0);

    // A tone of 0.01 (-40 dB, on a bin) in the band's stopband adds 0.086 dB, but only
    // between 20 Hz and 20 kHz: bins 28 to 27306.
    struct Case {
        int bin; // of 65536 at 48 kHz
        bool counted;
    };
    for (const Case& c :
         {Case{137, true}, Case{20480, true}, Case{28, true}, Case{27306, true}, Case{14, false},
          Case{27, false}, Case{27307, false}, Case{30037, false}}) {
        std::vector<double> toned = design;
        const double step = 2 * std::numbers::pi * c.bin / static_cast<double>(toned.size());
        for (std::size_t i = 0; i < toned.size(); ++i)
            toned[i] += 0.01 * 2.0 / toned.size() * std::cos(step * static_cast<double>(i));
        const double db = BandDeviationDb(design, toned, 48000.0);
        if (c.counted)
            EXPECT_NEAR(db, 20 * std::log10(1.01), 1e-4) << c.bin;
        else
            EXPECT_LT(db, 1e-6) << c.bin;
    }
}

// 8192 taps at 48 kHz, crossovers at 500 and 3000 Hz: 85 ms and no band spoilt.
TEST(ShorteningCost, ShortLinearPhaseSetWithinTolerance) {
    const Set& designs = Designs({500, 3000}, BandPhase::Linear, 48000.0);
    Set bands;
    for (const std::vector<double>& design : designs)
        bands.push_back(ShortenBand(design, BandPhase::Linear, 8192));
    EXPECT_NEAR(LatencyMs(BandPhase::Linear, 8192, 48000.0), 85.333, 1e-3);
    const ShorteningCost cost = MeasureShortening(designs, BandPhase::Linear, 8192, 48000.0);
    ASSERT_EQ(cost.bands.size(), 3u);
    for (std::size_t b = 0; b < bands.size(); ++b) {
        EXPECT_FALSE(cost.bands[b].Exceeds()) << b;
        EXPECT_LE(cost.bands[b].deviationDb, ShorteningToleranceDb) << b;
        EXPECT_GT(cost.bands[b].deviationDb, 0.0) << b;
    }
    EXPECT_FALSE(cost.sum.Exceeds());
    EXPECT_LT(cost.sumFromFlatDb, 0.001);
    EXPECT_NEAR(SumDeviationDb(bands, 48000.0), cost.sumFromFlatDb, 1e-9);
}

// 2048 taps, crossovers at 80 and 500 Hz: the bands with the 80 Hz corner need more, and
// the count named is the one at which they stop exceeding.
TEST(ShorteningCost, FewestTapsAreTheEdgeOfTheTolerance) {
    for (BandPhase phase : {BandPhase::Linear, BandPhase::Minimum}) {
        const Set& designs = Designs({80, 500}, phase, 48000.0);
        const ShorteningCost cost = MeasureShortening(designs, phase, 2048, 48000.0);
        ASSERT_EQ(cost.bands.size(), 3u);
        for (std::size_t b = 0; b < 2; ++b) {
            const ShorteningCost::Item& item = cost.bands[b];
            ASSERT_TRUE(item.Exceeds()) << b;
            EXPECT_GT(item.deviationDb, 0.3) << b;
            const std::int32_t n = item.fewestTaps;
            EXPECT_GT(n, 2048) << b;
            EXPECT_EQ(FewestTapsForBand(designs[b], phase, 48000.0), n) << b;
            auto deviation = [&](std::int32_t taps) {
                return BandDeviationDb(designs[b], ShortenBand(designs[b], phase, taps), 48000.0);
            };
            EXPECT_LE(deviation(n), ShorteningToleranceDb) << b;
            EXPECT_GT(deviation(n - 1), ShorteningToleranceDb) << b;
        }
        EXPECT_FALSE(cost.bands[2].Exceeds());
        // Windowing every band alike keeps a linear-phase set complementary.
        if (phase == BandPhase::Linear) {
            EXPECT_FALSE(cost.sum.Exceeds());
        }
    }
}

// A minimum-phase set does not sum flat even at full length; only what the shortening
// adds may count against it.
TEST(ShorteningCost, MinimumPhaseSumIsJudgedAgainstItsFullLengthSum) {
    const Set& designs = Designs({80, 500, 3000, 8000}, BandPhase::Minimum, 48000.0);
    const double fullFromFlat = SumDeviationDb(designs, 48000.0);
    ASSERT_GT(fullFromFlat, 3.0);
    const ShorteningCost full =
        MeasureShortening(designs, BandPhase::Minimum, CoefficientCount, 48000.0);
    ASSERT_EQ(full.bands.size(), designs.size());
    EXPECT_EQ(full.sum.deviationDb, 0.0);
    EXPECT_NEAR(full.sumFromFlatDb, fullFromFlat, 1e-9);

    const ShorteningCost cost = MeasureShortening(designs, BandPhase::Minimum, 16384, 48000.0);
    EXPECT_GT(cost.sumFromFlatDb, 3.0);
    EXPECT_LT(cost.sum.deviationDb, ShorteningToleranceDb);
    EXPECT_FALSE(cost.sum.Exceeds());

    const ShorteningCost tight = MeasureShortening(designs, BandPhase::Minimum, 2048, 48000.0);
    ASSERT_TRUE(tight.sum.Exceeds());
    EXPECT_EQ(FewestTapsForSum(designs, BandPhase::Minimum, 48000.0), tight.sum.fewestTaps);
}

// The departure as defined, on the workspace's own transform of each response wrapped
// round onto the measuring size: the reference the measurement's own transforms, its cosine
// transform and its folding of symmetric pairs are held against.
double ReferenceDepartureDb(const std::vector<double>& full, const std::vector<double>& shortened,
                            std::int32_t m, double rate, double* fromFlat = nullptr) {
    auto magnitudes = [m](const std::vector<double>& x) {
        AllocSpectrum(m);
        for (std::size_t i = 0; i < x.size(); ++i)
            SpecRe[i % m] += x[i];
        RealFFT();
        std::vector<double> out(m / 2 + 1);
        for (std::int32_t k = 0; k <= m / 2; ++k)
            out[k] = std::hypot(SpecRe[k], SpecIm[k]);
        FreeSpectrum();
        return out;
    };
    const std::vector<double> a = magnitudes(full), b = magnitudes(shortened);
    const double peak = *std::max_element(a.begin(), a.end());
    const auto first = static_cast<std::int32_t>(std::ceil(20.0 * m / rate));
    const auto last = std::min<std::int32_t>(
        m / 2, static_cast<std::int32_t>(std::floor(std::min(20000.0, rate / 2) * m / rate)));
    double worst = 0.0, flat = 0.0;
    for (std::int32_t k = first; k <= last; ++k) {
        worst = std::max(worst, std::abs(b[k] - a[k]));
        flat = std::max(flat, std::abs(20 * std::log10(b[k])));
    }
    if (fromFlat) *fromFlat = flat;
    return 20 * std::log10(1 + worst / peak);
}

// Two responses of decaying noise, symmetric about their centre for linear phase: unlike a
// design, they reach the far taps that wrap onto the ends of the measuring size, and tap 0.
Set NoiseSet(BandPhase phase) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Set set(2, std::vector<double>(CoefficientCount));
    for (std::vector<double>& x : set) {
        const std::size_t c = x.size() / 2;
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double d = phase == BandPhase::Linear ? std::abs(double(i) - double(c)) : i;
            x[i] = uniform(random) * std::exp(-d / 20000.0);
        }
        if (phase == BandPhase::Linear)
            for (std::size_t d = 1; d < c; ++d)
                x[c - d] = x[c + d];
    }
    return set;
}

// Every band, the sum and its flatness against the reference, at counts that measure on
// 16384 points (wrapping the design round four times), on 32768, and on the whole design
// (where an even design's tap 0 has no partner), odd and even.
TEST(ShorteningCost, DeparturesMatchTheReferenceTransform) {
    for (BandPhase phase : {BandPhase::Linear, BandPhase::Minimum})
        for (const Set& designs : {Designs({80, 500, 3000}, phase, 44100.0), NoiseSet(phase)}) {
            std::vector<double> fullSum(designs[0].size(), 0.0);
            for (const std::vector<double>& d : designs)
                for (std::size_t i = 0; i < fullSum.size(); ++i)
                    fullSum[i] += d[i];
            for (std::int32_t taps : {2047, 2048, 12001, 40000, 40001}) {
                const std::int32_t m =
                    std::min(CoefficientCount,
                             std::max<std::int32_t>(
                                 16384, 2 * std::bit_ceil(static_cast<std::uint32_t>(taps))));
                const ShorteningCost cost = MeasureShortening(designs, phase, taps, 44100.0);
                std::vector<double> shortenedSum(taps, 0.0);
                for (std::size_t b = 0; b < designs.size(); ++b) {
                    const std::vector<double> band = ShortenBand(designs[b], phase, taps);
                    for (std::int32_t i = 0; i < taps; ++i)
                        shortenedSum[i] += band[i];
                    EXPECT_NEAR(cost.bands[b].deviationDb,
                                ReferenceDepartureDb(designs[b], band, m, 44100.0), 1e-9)
                        << taps << " " << b;
                }
                double fromFlat = 0.0;
                EXPECT_NEAR(cost.sum.deviationDb,
                            ReferenceDepartureDb(fullSum, shortenedSum, m, 44100.0, &fromFlat),
                            1e-9)
                    << taps;
                // Noise sums to deep notches, whose level only holds to a few more digits.
                EXPECT_NEAR(cost.sumFromFlatDb, fromFlat, 1e-6) << taps;
            }
        }
}

// On designs of 4096 points every count can be tried: the count the search names is the
// first that holds, in the search of a band alone and in the set's search from its own
// count. Each count is judged as written, with KaiserHalf's window, where the search weights
// the counts it tries by the window's series.
TEST(ShorteningCost, FewestTapsAreTheFirstCountAScanFinds) {
    for (BandPhase phase : {BandPhase::Linear, BandPhase::Minimum}) {
        const Set& designs = Designs({300, 1200}, phase, 48000.0, 4096);
        const ShorteningCost cost = MeasureShortening(designs, phase, MinTapCount, 48000.0);
        for (std::size_t b = 0; b < 2; ++b) {
            const std::int32_t fewest = cost.bands[b].fewestTaps;
            ASSERT_GT(fewest, MinTapCount) << b;
            ASSERT_LT(fewest, 4096) << b;
            EXPECT_EQ(FewestTapsForBand(designs[b], phase, 48000.0), fewest) << b;
            for (std::int32_t taps = MinTapCount; taps <= fewest; ++taps) {
                const double db =
                    BandDeviationDb(designs[b], ShortenBand(designs[b], phase, taps), 48000.0);
                if (taps < fewest)
                    ASSERT_GT(db, ShorteningToleranceDb) << b << " " << taps;
                else
                    EXPECT_LE(db, ShorteningToleranceDb) << b;
            }
        }
    }
}

TEST(ShorteningCost, MeterRefusesDesignsItCannotMeasure) {
    const Set& designs = Designs({80, 500}, BandPhase::Linear, 48000.0);
    ShorteningMeter meter(BandPhase::Linear, 2048, 48000.0);
    meter.Add(designs[0]);
    EXPECT_THROW(meter.Add(std::span<const double>(designs[1]).first(32768)),
                 std::invalid_argument);
    ShorteningMeter odd(BandPhase::Linear, 2048, 48000.0);
    EXPECT_THROW(odd.Add(std::span<const double>(designs[0]).first(40000)), std::invalid_argument);
    const std::vector<double> two(2, 0.0);
    EXPECT_THROW(ShorteningMeter(BandPhase::Linear, 256, 48000.0).Add(two), std::invalid_argument);
}

// The measurement runs on transforms of its own: a design may lie in the workspace, which
// keeps its arrays, its size and its contents, and no transform of the workspace runs (so no
// messages are handled from where the measurement runs).
TEST(ShorteningCost, MeasuringLeavesTheWorkspaceAlone) {
    TestHost host;
    ScopedHost scoped(host);
    const Set& designs = Designs({80, 500}, BandPhase::Linear, 48000.0);
    AllocSpectrum(CoefficientCount);
    std::copy(designs[0].begin(), designs[0].end(), SpecRe.begin());
    SpecIm[7] = 0.5;
    const double* re = SpecRe.data();
    host.transforms = 0;
    const std::span<const double> inWorkspace(SpecRe);
    const std::int32_t fewest = FewestTapsForBand(inWorkspace, BandPhase::Linear, 48000.0);
    EXPECT_GT(fewest, 2048);
    ShorteningMeter meter(BandPhase::Linear, 2048, 48000.0);
    meter.Add(inWorkspace);
    EXPECT_EQ(meter.Finish().bands.at(0).fewestTaps, fewest);
    EXPECT_EQ(host.transforms, 0);
    EXPECT_EQ(SpecLength, CoefficientCount);
    EXPECT_EQ(SpecRe.data(), re);
    EXPECT_EQ(SpecRe, designs[0]);
    EXPECT_EQ(SpecIm[7], 0.5);
    FreeSpectrum();
}

} // namespace
} // namespace tarn
