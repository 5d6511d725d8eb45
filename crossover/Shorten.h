// Shorten: a band's full-length design cut to the tap count a DSP board or a low-latency
// setup can take, the latency that results, and what the cut costs in magnitude.
//
// A band is designed as ever, on a grid of DesignLength(taps) points, and then shortened:
// linear phase keeps the taps around the design's peak under a symmetric window, minimum
// phase keeps the taps from 0 on and fades the tail out with a half window. The cost is
// measured against the full-length design, so a run can say which band a shorter filter
// spoils, by how much, and how many taps would be enough.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tarn {

inline constexpr std::int32_t MinTapCount = 256;
inline constexpr std::int32_t MaxTapCount = 131072;

// The largest departure [dB] a shortened band, or the sum, may show before a run says so.
inline constexpr double ShorteningToleranceDb = 0.1;

enum class BandPhase { Linear, Minimum };

// Points of the grid a band of `taps` taps is designed on: CoefficientCount, or the power
// of two no smaller than taps where that is more. taps: 1..MaxTapCount.
std::int32_t DesignLength(std::int32_t taps);

// The tap at which a linear-phase band of `taps` taps peaks: taps / 2, rounded down. With
// an even count tap 0 is left zero, so that the rest is symmetric about the peak; 65536
// taps peak at 32768, as the full-length design does.
std::int32_t LinearPhasePeak(std::int32_t taps);
// The delay [samples] a band adds: the linear-phase peak, or 0 for minimum phase, whose
// response starts at tap 0. A per-band delay comes on top.
std::int32_t LatencySamples(BandPhase phase, std::int32_t taps);
// LatencySamples in milliseconds at sampleRate [Hz].
double LatencyMs(BandPhase phase, std::int32_t taps, double sampleRate);

// The Kaiser window that fades a shortened band out. Linear phase uses it whole, centred
// on the peak; minimum phase uses its falling half over the last tailShare of the taps.
// beta = 0 is a plain cut.
struct Taper {
    double beta = 2.0;
    double tailShare = 0.5; // 0 < tailShare <= 1; minimum phase only
};

// Shortens a band's full-length design (design.size() a power of two) to taps taps,
// 1 <= taps <= design.size(); throws std::invalid_argument otherwise. Linear phase: the
// design is symmetric about design.size() / 2 (to rounding); the result is exactly
// symmetric about LinearPhasePeak(taps). Minimum phase: the result keeps the design's
// taps bit for bit up to the taper. With taps == design.size() the design comes back bit
// for bit, whatever the phase.
std::vector<double> ShortenBand(std::span<const double> design, BandPhase phase, std::int32_t taps,
                                const Taper& taper = Taper{});

// ShortenBand for a linear-phase design that a per-band delay has moved by `delay` samples
// (>= 0, whole and fraction) off its centre design.size() / 2: the window is centred on the
// moved peak, so the result peaks at LinearPhasePeak(taps) + delay and keeps the delay
// whole. The window narrows by the whole samples of the delay so that it ends within the
// taps; nothing is averaged, since the moved design is symmetric about no tap. With delay =
// 0 it is ShortenBand. Throws std::invalid_argument for a delay the taps cannot hold.
std::vector<double> ShortenLinearAround(std::span<const double> design, std::int32_t taps,
                                        double delay, const Taper& taper = Taper{});

// ---------------------------------------------------------------------------------------
// The cost of a shorter filter, judged on magnitudes between 20 Hz and 20 kHz (at most the
// Nyquist frequency).
//
// The departure of a magnitude from its full-length counterpart is measured against the
// counterpart's peak: a difference of d counts as 20 log10(1 + d / peak) dB. Where a band
// is at full level this is its change in dB; where it is far down, it is what the change
// can do to the sum of the bands. (A plain dB ratio would call a stopband at -90 dB
// instead of -120 dB a 30 dB fault, and ask for taps no crossover needs.)
//
// The measurements run transforms of their own, one set per thread, and never touch the
// shared spectrum workspace: a design may be a span over SpecRe, and two threads may measure
// at once. A linear-phase response (ShortenBand's result, or a design symmetric about
// design.size() / 2 to rounding) is measured through its zero-phase amplitude, a cosine
// transform of half the size; any other through the magnitudes of its whole transform.

// The largest departure [dB] of the band `shortened` from its full-length `design` (a power of
// two; std::invalid_argument otherwise), through whole transforms: neither need be symmetric.
double BandDeviationDb(std::span<const double> design, std::span<const double> shortened,
                       double sampleRate);

// The largest departure [dB] of the magnitude of the bands' sum from flat (0 dB). All
// bands have the same length.
double SumDeviationDb(std::span<const std::vector<double>> bands, double sampleRate);

// The fewest taps (MinTapCount..design.size()) with which the shortened band stays within
// limitDb of its full-length design: that count does, one tap fewer does not (resolution: one
// tap). Found by doubling from MinTapCount until the count holds, then narrowing the last
// doubling with steps aimed at the edge and bisections as a safeguard: at most
// log2(design.size() / MinTapCount) + 1 + 2 log2(design.size()) shortenings are measured, in
// practice about a dozen, most of them short. Every count tried needs a window of its own,
// so its weights come from the Kaiser window's power series rather than from a Bessel
// function call each, as ShortenBand's do: the same weights to a few units in the last place.
std::int32_t FewestTapsForBand(std::span<const double> design, BandPhase phase, double sampleRate,
                               double limitDb = ShorteningToleranceDb);

// The same for the sum of the shortened bands against the sum of the full-length designs
// (all of one length). Shortening is linear, so the sum shortened is the shortened bands
// summed (to rounding): one shortening and one transform per count tried.
std::int32_t FewestTapsForSum(std::span<const std::vector<double>> designs, BandPhase phase,
                              double sampleRate, double limitDb = ShorteningToleranceDb);

// What a run reports about a shortened set.
struct ShorteningCost {
    struct Item {
        double deviationDb = 0.0;    // departure from the full-length design
        std::int32_t fewestTaps = 0; // where that exceeds the tolerance: taps that keep
                                     // it within; otherwise 0
        bool Exceeds() const { return fewestTaps != 0; }
    };
    std::vector<Item> bands; // in the order of the designs
    // The sum against the sum of the full-length designs. A minimum-phase set does not
    // sum flat even at full length, so only this shows what the shortening adds.
    Item sum;
    double sumFromFlatDb = 0.0; // the shortened sum against flat
};

// Measures a set band by band as a run designs it, so that no full-length design has to be
// kept: Add measures a band's shortening (and searches for its fewest taps where it exceeds
// the tolerance) while the design is at hand and adds the design to the full-length sum;
// Finish measures the sum. The bands come in order, all of one length, from one thread at a
// time; meters on different threads are independent.
class ShorteningMeter {
  public:
    ShorteningMeter(BandPhase phase, std::int32_t taps, double sampleRate);
    // design: the band's full-length design, a power of two no smaller than taps; may be a
    // span over SpecRe. Throws std::invalid_argument for a design of another length, or of
    // one the taps cannot be cut from.
    void Add(std::span<const double> design);
    // At the designs' own length nothing departs; only the sum's departure from flat is
    // measured.
    ShorteningCost Finish();

  private:
    BandPhase phase_;
    std::int32_t taps_;
    double sampleRate_;
    ShorteningCost cost_;
    std::size_t length_ = 0; // of the designs
    // The sums of the full-length designs and of the shortened bands: whole for minimum
    // phase; for linear phase as the averages of their taps' pairs about the centre, with the
    // designs' unpaired tap 0 apart, in half the memory.
    std::vector<double> sum_;
    double unpairedSum_ = 0.0;
    std::vector<double> shortenedSum_;
};

// Shortens every design (all of one length) to taps taps and measures the set: a
// ShorteningMeter given every design.
ShorteningCost MeasureShortening(std::span<const std::vector<double>> designs, BandPhase phase,
                                 std::int32_t taps, double sampleRate);

} // namespace tarn
