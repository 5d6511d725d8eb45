// The response of a set of coefficient files: each band's spectrum, magnitude and group
// delay, their complex sum, impulse and step responses, and the table of figures that
// tarn-cli report prints and the response window shows.
//
// Everything works on its own buffers (see RealTransform.h), so an analysis never touches
// the spectrum workspace of a calculation.
#pragma once

#include <complex>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "analysis/CoefficientSet.h"
#include "crossover/BandTrim.h"

namespace tarn {

// The taps of one band and what to call it.
struct NamedTaps {
    std::string name;  // the file name, shown in the table
    std::string title; // the band word or "Full range", shown in legends
    std::vector<double> taps;
};

// Frequencies [Hz] where a response lies a given number of dB below its maximum: the
// nearest ones below and above the maximum. A low-pass has no lower one, a high-pass no
// upper one.
struct BandEdges {
    std::optional<double> lower;
    std::optional<double> upper;
};

struct BandResponse {
    std::string name;
    std::string title;
    std::vector<double> impulse;                // the taps
    std::vector<std::complex<double>> spectrum; // bins 0..M/2 of the M-point transform
    double maxDb = 0;                           // the largest magnitude [dB]
    int peakSample = 0;                         // index of the largest |tap|
    double peakDelayMs = 0;                     // peakSample / fs [ms]
    BandEdges minus3;                           // 3 dB below maxDb
    BandEdges minus6;                           // 6 dB below maxDb
    // On ResponseAnalysis::frequencies: magnitude [dB] and group delay [ms]. The group delay
    // is NaN where the magnitude is more than GroupDelayRangeDb below maxDb: there the
    // phase is that of the stop band's floor and says nothing a user can hear.
    std::vector<double> magnitudeDb;
    std::vector<double> groupDelayMs;
    // On the same grid, relative to the analysis' bulk delay (the delay every band shares,
    // which a listener does not hear): the phase [deg] wrapped to (-180, 180], the same phase
    // unwrapped (followed along the group delay from the lowest frequency where it is shown;
    // the sum starts there in (-180, 180], and a band is moved by whole turns to lie within
    // half a turn of the sum where the band is loudest), and the group delay less the bulk
    // delay [ms]. NaN where groupDelayMs is.
    std::vector<double> phaseDeg;
    std::vector<double> unwrappedPhaseDeg;
    std::vector<double> relativeDelayMs;
    // Where the taps are symmetric (linear phase), their centre [samples]: a whole sample, or
    // a half one for a symmetric pair in the middle. Nothing for taps that are not symmetric
    // and for silent ones.
    std::optional<double> symmetryCentre;
};

inline constexpr double GroupDelayRangeDb = 40.0;

struct AnalysisOptions {
    // Points of the zero-padded transform, a power of two >= the number of taps: 2^18
    // resolves 0.17 Hz at 44100 Hz, fine enough for the 10 Hz end of the axis.
    std::size_t transformSize = std::size_t{1} << 18;
    // Points of the logarithmic frequency grid from lowestHz to fs/2.
    int gridPoints = 800;
    double lowestHz = 10.0;
    // The flatness of the sum is judged over this range [Hz], cut at fs/2.
    double flatFromHz = 20.0;
    double flatToHz = 20000.0;
};

// A sum's largest deviation from 0 dB and where it occurs (LargestDeviation).
struct Deviation {
    double db = 0;
    double hz = 0;
};

// What the sums are called in the table, the legends and the CSV file: "Sum" alone where no
// band has a level, delay or polarity of its own; else the sum as written (what an engine
// puts out) and the crossover's own sum (every trim taken back out).
inline constexpr const char* SumTitle = "Sum";
inline constexpr const char* WrittenSumTitle = "Sum as written";
inline constexpr const char* OwnSumTitle = "Crossover's own sum";

struct ResponseAnalysis {
    double sampleRate = 0;           // [Hz]
    std::size_t transformSize = 0;   // M
    std::vector<double> frequencies; // the logarithmic grid [Hz]
    std::vector<BandResponse> bands; // lowest first
    BandResponse sum;                // the complex sum of all bands, as written
    // The level, delay and polarity each band was written with (one per band, neutral where
    // the caller knew none), and where a band has one, the crossover's own sum: each band
    // with its trim taken back out (UntrimmedSum), described as the sum is on the grid, and
    // its deviation from flat. It is formed on the bins alone, where a trim's fraction of a
    // sample comes out exactly, and has no impulse.
    std::vector<BandTrim> trims;
    std::optional<BandResponse> ownSum;
    Deviation ownDeviation;
    std::vector<double> step; // step response of the sum, per sample
    double deviationDb = 0;   // the sum's largest deviation from 0 dB, signed
    double deviationHz = 0;   // where it occurs
    // The samples that hold the energy of every band and of the sum, with a margin: where
    // an impulse chart should look.
    int firstSample = 0;
    int lastSample = 0;
    // The bulk delay [samples]: when a band is symmetric (the set is linear phase), the
    // smallest centre of the symmetric bands - 32768 for the sets a run writes at full
    // length, more for a band delayed on purpose; linearPhase is then true, and a band a
    // fractional delay has made asymmetric shows that delay against it. When none is
    // (minimum phase) 0, and phase and group delay are shown as they are.
    double bulkDelaySamples = 0;
    bool linearPhase = false;

    double BinHz() const { return sampleRate / static_cast<double>(transformSize); }
    // Magnitude [dB] at hz, interpolated between bins; 0 <= hz <= fs/2.
    double MagnitudeDbAt(const BandResponse& response, double hz) const;
    // Group delay [ms] at hz from the phase step between the two bins around it.
    double GroupDelayMsAt(const BandResponse& response, double hz) const;
    double BulkDelayMs() const { return 1000.0 * bulkDelaySamples / sampleRate; }
    // The group delay less the bulk delay [ms] at hz.
    double RelativeDelayMsAt(const BandResponse& response, double hz) const;
    // The phase [deg] relative to the bulk delay at hz, wrapped to (-180, 180]: followed from
    // the bin below hz along the phase step to the bin above.
    double PhaseDegAt(const BandResponse& response, double hz) const;
};

// bands: at least one, taps of any length up to options.transformSize. trims: the level,
// delay and polarity the bands were written with, lowest first; a band beyond them has none.
ResponseAnalysis AnalyseResponses(std::vector<NamedTaps> bands, double sampleRate,
                                  const AnalysisOptions& options = {},
                                  std::span<const BandTrim> trims = {});

// Reads the left file of each band of the set and analyses them: CoefficientFileError for a
// file that does not read or a WAV whose rate is not the tag's. (ReadSet judges the whole set,
// both sides.)
ResponseAnalysis AnalyseSet(const CoefficientSet& set, const AnalysisOptions& options = {},
                            std::span<const BandTrim> trims = {});
// Analyses the bands of a set that ReadSet has read: taps as it returned them.
ResponseAnalysis AnalyseSet(const CoefficientSet& set, std::vector<std::vector<double>> taps,
                            const AnalysisOptions& options = {},
                            std::span<const BandTrim> trims = {});

// The trim of band `band` in a list that may hold fewer: neutral beyond its end.
BandTrim TrimAt(std::span<const BandTrim> trims, std::size_t band);
// Whether any band of the list has a level, delay or polarity of its own.
bool AnyTrim(std::span<const BandTrim> trims);
// A trim's delay in samples at sampleRate [Hz], fractions kept.
double DelaySamples(const BandTrim& trim, double sampleRate);

// The crossover's own sum on the analysis' bins: each band's spectrum divided by its trim's
// gain (negative for an inverted band) and its delay taken off as a linear phase. What
// tarn-cli report and the response view judge the crossover by, trims apart.
std::vector<std::complex<double>> UntrimmedSum(const ResponseAnalysis& analysis,
                                               std::span<const BandTrim> trims);

// The largest deviation from 0 dB of a spectrum (bins 0..M/2, binHz apart) over the
// options' flat range, signed, and where it occurs: how a sum of bands is judged.
Deviation LargestDeviation(const std::vector<std::complex<double>>& spectrum, double binHz,
                           const AnalysisOptions& options = {});

// A figure as the table writes it: fixed decimals, and no "-0.000" for one that rounds to zero.
std::string DecimalText(double value, int decimals);
// Rows of texts as lines of aligned columns: the first left-aligned, the others right-aligned,
// two blanks apart, no trailing blanks.
std::string AlignedColumns(const std::vector<std::vector<std::string>>& lines);

// The table: one row per band and one for the sum (then one for the crossover's own sum,
// where the analysis has it), as texts. Edges a band does not have read "-", as do the peak
// and its delay of the crossover's own sum, which has no impulse; the deviation columns are
// filled only for the sums.
std::vector<std::string> TableHeadings();
std::vector<std::vector<std::string>> TableRows(const ResponseAnalysis& analysis);
// The table as plain text with aligned columns, one line per row, headings first.
std::string FormatTable(const ResponseAnalysis& analysis);

// A band's level [dB], delay [ms], the same delay as a distance [mm] (SpeedOfSound), and
// polarity ("normal" or "inverted"), as tarn-cli report and the response view write them.
std::vector<std::string> TrimTexts(const BandTrim& trim);

// The curves as comma-separated values, for a spreadsheet or another plotting tool: a
// heading line, then one line per grid frequency: "Hz", then per band (lowest first), for
// the sum and for the crossover's own sum where the analysis has it, its magnitude [dB], phase
// [deg, wrapped] and group delay [ms], the last two relative to the bulk delay. A field is empty
// where the curve has no value (NaN).
std::string CurvesCsv(const ResponseAnalysis& analysis);

// What tarn-cli report prints: a line naming the set (and the others found), then the table.
std::string ReportText(const CoefficientSet& shown, const std::vector<CoefficientSet>& all,
                       const ResponseAnalysis& analysis);

} // namespace tarn
