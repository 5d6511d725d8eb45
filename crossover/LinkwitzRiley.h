// Linkwitz-Riley crossovers: bands with mirrored slopes, -6.02 dB at each crossover frequency,
// whose sum has flat magnitude in minimum phase as in linear phase.
//
// For the filter order n (1..50) every crossover is of Linkwitz-Riley order 2n: its low-pass
// and high-pass are digital Butterworth filters of order n, made by the bilinear transform
// with the corner prewarped to the crossover frequency, each squared. The high-pass is
// inverted for odd n (as LR2 and LR6 need it), so that low-pass plus high-pass is an all-pass.
//
// For crossovers f1 < ... < fm, band k (0 = lowest) is the product of the high-passes of the
// crossovers below it, the low-pass of its own upper crossover (none for the top band) and the
// all-passes of the crossovers above it. The bands then add up to the product of all the
// all-passes.
//
// Minimum phase: a band's taps are this causal response itself. Linear phase: a band has its
// magnitude with the phase every linear-phase band shares (peak at tap N/2); the magnitudes of
// a set add up to exactly 1, so the bands sum to a unit impulse at tap N/2.
#pragma once

#include <complex>
#include <string>
#include <vector>

namespace tarn {

// Number of crossovers a set may have, and the filter orders.
inline constexpr int MaxCrossovers = 4;
inline constexpr int MaxLinkwitzRileyOrder = 50;

// The three responses of one crossover at one frequency.
struct CrossoverResponse {
    std::complex<double> lowPass;
    std::complex<double> highPass; // inverted for odd orders
    std::complex<double> allPass;  // lowPass + highPass, of magnitude 1
};

// The crossover at fc [Hz] of the given filter order at f [Hz], sample rate fs [Hz].
// 0 < fc < fs/2, 0 <= f <= fs/2. Throws std::invalid_argument outside these ranges.
CrossoverResponse LinkwitzRileyAt(int order, double fc, double f, double fs);

// The complex response of band `band` (0..crossovers.size()) of the set at f [Hz]: what its
// minimum-phase taps hold. crossovers: 1..MaxCrossovers frequencies [Hz], ascending, each
// below fs/2. Throws std::invalid_argument for a set it cannot design.
std::complex<double> LinkwitzRileyBandAt(int order, const std::vector<double>& crossovers, int band,
                                         double f, double fs);

// Leaves the SpecLength-tap impulse response of band `band` of the set in SpecRe (zeros in
// SpecIm), at the sample rate 1 / SamplePeriod. Everything that depends only on the set is
// kept between calls, so the bands of one set after the first cost one inverse transform
// each. Throws std::invalid_argument for a set it cannot design.
void DesignLinkwitzRiley(int order, const std::vector<double>& crossovers, int band,
                         bool minimumPhase);

// ---------------------------------------------------------------------------------------
// Whether the taps hold the whole response
//
// A band that rings longer than the taps wraps its tail onto its start: its shape and the
// sum of the bands are then no longer the designed ones. Low crossovers at high orders do
// that (order 50 with a crossover at 40 Hz).

// Largest share of a band's energy its tail may hold, and the largest deviation of the sum
// from flat, before a run warns. A linear-phase band spreads both ways from tap N/2, so it
// has half the taps a minimum-phase band has to ring out in; its sum stays a unit impulse
// whatever its tails hold, and only the band's own deep stop band suffers. Its limit lets
// every set of the promised grid pass (the largest share there is 2.3e-10, at order 25 with
// a crossover at 40 Hz), and catches the sets whose bands are visibly cut (order 50 at
// 40 Hz: 1.9e-6 and the low-pass 1 dB off at -40 dB).
inline constexpr double TailEnergyLimit = 1e-12;
inline constexpr double LinearTailEnergyLimit = 1e-9;
inline constexpr double SumDeviationLimitDb = 0.01;
// The sum is judged from SumCheckLowestHz to SumCheckHighestShare * fs.
inline constexpr double SumCheckLowestHz = 10.0;
inline constexpr double SumCheckHighestShare = 0.45;

struct TapsFit {
    bool minimumPhase = true;
    // Per band, lowest first: its energy in the last tenth of the taps (minimum phase) or in
    // the twentieth at each end (linear phase, whose response spreads both ways from its
    // peak), as a share of its whole energy.
    std::vector<double> tailEnergy;
    // The largest deviation of the sum's magnitude from 0 dB [dB, signed] and where [Hz].
    double sumDeviationDb = 0;
    double deviationHz = 0;

    // TailEnergyLimit or LinearTailEnergyLimit.
    double TailLimit() const;
    bool Holds() const;
};

// Collects the bands of a set as a run writes them, then measures them.
class TapsMeter {
  public:
    explicit TapsMeter(bool minimumPhase);
    // The next band's taps, lowest band first: SpecLength values.
    void Add(const std::vector<double>& taps);
    // Measures the sum at the bins of an N-point transform and halfway between them, at the
    // sample rate 1 / SamplePeriod. Uses the spectrum workspace: call it after the last band
    // has been written.
    TapsFit Finish();

  private:
    bool minimumPhase_;
    std::vector<double> tailEnergy_;
    std::vector<double> sum_;
};

// The run's warning for a set whose taps do not hold it: the bands that ring too long, the
// sum's deviation and what to change. Empty when the fit holds. bandNames: one per band.
std::string TapsWarning(const TapsFit& fit, const std::vector<std::string>& bandNames);

} // namespace tarn
