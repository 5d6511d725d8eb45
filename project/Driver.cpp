#include "project/Driver.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Host.h"
#include "crossover/BandTrim.h"
#include "crossover/Bands.h"
#include "crossover/LinkwitzRiley.h"
#include "crossover/Shorten.h"
#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"
#include "project/WindowOperations.h"
#include "spectral/FastFourier.h"

namespace tarn {

namespace {

bool running = false;

// Puts the window back to idle whichever way the run ends. On the regular path the driver
// does this itself before the completion message; on an error the guard does it, so that
// the busy cursor and the running bar never outlive a failed run.
class RunGuard {
  public:
    explicit RunGuard(int savedCursor) : savedCursor_(savedCursor) { running = true; }
    ~RunGuard() {
        if (!idle_) {
            // Nothing in here may throw while an error is on its way to the error box.
            FreeSpectrum();
            Window().SetCursor(savedCursor_);
            Window().SetTimerEnabled(false);
            Window().SetProgress(0);
        }
        running = false;
    }
    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;
    void Idle() { idle_ = true; }

  private:
    int savedCursor_;
    bool idle_ = false;
};

// The project directory, opened: every file of the run is created in it. One that cannot
// be opened fails the run where its first file, the settings, would have failed.
std::shared_ptr<Directory> OpenProject() {
    try {
        return std::make_shared<Directory>(ProjectPath);
    } catch (const AtomicFileError&) {
        throw IniWriteError(ProjectPath + ProjectIniName);
    }
}

// The files of a project that a run writes: what its commits and recoveries may touch.
bool IsProjectFile(std::string_view name) {
    return name == ProjectIniName || IsCoefficientFileName(name);
}

std::string Decibels(double db) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.2f dB", db);
    return text;
}

// The bands of one set at the run's current rate (SampleRate, RateTag): each designed on
// the grid its tap count needs, trimmed, shortened and staged in files; what the user should
// hear about it goes into warnings.
void WriteSet(const ProjectSettings& design, const double* f, const std::vector<BandTrim>& trims,
              AtomicFileSet& files, std::vector<std::string>& written,
              std::vector<std::string>& warnings) {
    WindowOperations& w = Window();
    const int ways = design.ways;
    const bool linkwitzRiley = design.alignment == Alignment::LinkwitzRiley && ways > 1;
    const BandPhase phase = design.minimumPhase ? BandPhase::Minimum : BandPhase::Linear;
    const std::int32_t n = DesignLength(design.taps);
    const std::vector<double> crossovers(f, f + ways - 1);
    const std::string at = design.sampleRate == AllRates ? " at " + std::string(RateTag) : "";

    AllocSpectrum(n);
    TapsMeter meter(design.minimumPhase);
    // The cost of shortening, measured band by band while each full-length design is at hand.
    const bool measureShortening = design.taps < n && ways > 1;
    ShorteningMeter shortening(phase, design.taps, SampleRate);
    std::vector<std::string> names;
    const auto bands = BandsFor(ways);
    for (std::size_t i = 0; i < bands.size(); ++i) {
        if (w.RunInterrupted()) throw InterruptedError();
        const Band& band = bands[i];
        const std::string name(BandName(band.word));
        names.push_back(name);
        if (linkwitzRiley)
            DesignLinkwitzRiley(design.filterOrder, crossovers, static_cast<int>(i),
                                design.minimumPhase);
        else
            DesignBand(band, design.filterOrder, f);
        const std::span<const double> response(SpecRe.data(), static_cast<std::size_t>(n));
        if (linkwitzRiley) meter.Add({response.begin(), response.end()});

        const BandTrim& trim = trims[i];
        if (trim.levelDb > 0.0) {
            const double peak = PeakGainDb() + trim.levelDb;
            if (peak > 0.0)
                warnings.push_back("The " + name + " band's level of " + Decibels(trim.levelDb) +
                                   " lets a full-scale signal reach " + Decibels(peak) +
                                   " at its loudest frequency" + at + ": it can clip.");
        }
        const DelaySplit delay = SplitDelay(trim.delayMs, SampleRate);
        if (measureShortening) shortening.Add(response);
        if (delay.frac > 0.0) {
            CheckDelayFits(response, trim, delay, name);
            DelayByFraction(delay.frac);
        }

        std::vector<double> taps;
        if (band.shape == BandShape::FullRange || design.taps == n) {
            taps.assign(SpecRe.begin(), SpecRe.begin() + design.taps);
            if (!trim.IsNeutral()) ShiftAndScale(taps, trim, delay, name);
        } else {
            // Delayed at full length, where the response has room to move, then shortened
            // around where it has moved to.
            const std::span<double> full(SpecRe.data(), static_cast<std::size_t>(n));
            if (delay.whole > 0) ShiftAndScale(full, {0.0, trim.delayMs, false}, delay, name);
            try {
                taps = phase == BandPhase::Linear
                           ? ShortenLinearAround(full, design.taps, delay.whole + delay.frac)
                           : ShortenBand(full, phase, design.taps);
            } catch (const std::invalid_argument&) {
                throw TarnError("The delay of the " + name + " band does not fit into " +
                                std::to_string(design.taps) +
                                " taps; choose a shorter delay or more taps");
            }
            if (const double gain = TrimGain(trim); gain != 1.0)
                for (double& t : taps)
                    t *= gain;
        }

        for (const char side : Sides)
            written.push_back(StageCoefficients(files,
                                                CoefficientFileName(band.word, side, RateTag), taps,
                                                design.format == FileFormat::Wav, SampleRate));
    }

    if (linkwitzRiley) {
        const std::string warning = TapsWarning(meter.Finish(), names);
        if (!warning.empty()) warnings.push_back(warning);
    }
    if (measureShortening) {
        const ShorteningCost cost = shortening.Finish();
        std::string text;
        for (std::size_t i = 0; i < cost.bands.size(); ++i)
            if (cost.bands[i].Exceeds())
                text += "The " + names[i] + " band departs " + Decibels(cost.bands[i].deviationDb) +
                        " from its full-length design; " +
                        std::to_string(cost.bands[i].fewestTaps) + " taps keep it within 0.1 dB.\n";
        if (cost.sum.Exceeds())
            text += "The sum departs " + Decibels(cost.sum.deviationDb) +
                    " from the full-length sum; " + std::to_string(cost.sum.fewestTaps) +
                    " taps keep it within 0.1 dB.\n";
        if (!text.empty())
            warnings.push_back(std::to_string(design.taps) + " taps" + at +
                               " are too few for this design:\n" + text +
                               "The files are written all the same.");
    }
}

} // namespace

bool LockProject(Directory& project, std::chrono::milliseconds wait, const std::string& shownPath,
                 const std::function<bool()>& interrupted) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const Directory::Lock lock = project.TryLock();
        if (lock != Directory::Lock::Busy) return lock == Directory::Lock::Held;
        if (std::chrono::steady_clock::now() >= deadline) throw ProjectBusyError(shownPath);
        if (interrupted && interrupted()) throw InterruptedError();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool CalculationRunning() {
    return running;
}

int NumberOfWays(double f1, double f2, double f3, double f4) {
    int ways = 5;
    if (f4 == -1) ways = 4;
    if (f3 == -1) ways = 3;
    if (f2 == -1) ways = 2;
    if (f1 == -1) ways = 1;
    return ways;
}

std::optional<std::string> FrequencyProblem(const double* frequencies, int ways,
                                            double sampleRate) {
    auto hz = [](double f) {
        char text[32];
        std::snprintf(text, sizeof text, "%g Hz", f);
        return std::string(text);
    };
    const double nyquist = sampleRate / 2;
    for (int i = 0; i + 1 < ways; ++i) {
        const std::string field =
            "Frequency " + std::to_string(i + 1) + " (" + hz(frequencies[i]) + ")";
        if (frequencies[i] >= nyquist)
            return field + " must be below half the sample rate (" + hz(nyquist) + ").";
        if (i > 0 && frequencies[i] <= frequencies[i - 1])
            return field + " must be above frequency " + std::to_string(i) + " (" +
                   hz(frequencies[i - 1]) + ").";
    }
    return std::nullopt;
}

std::string CompletionMessage(int ways) {
    return "Calculation " + std::to_string(ways) + "-way XO done";
}

bool XOButtonClick() {
    if (running) return false;
    WindowOperations& w = Window();

    // The two radios form one group, so exactly one of them is checked; the design panel's
    // rates, where the window has them, come on top.
    if (w.Radio44Checked()) SampleRate = 44100.0;
    if (w.Radio48Checked()) SampleRate = 48000.0;
    const std::optional<int> rateChoice = w.RateChoice();
    if (rateChoice && *rateChoice != AllRates) SampleRate = *rateChoice;
    SamplePeriod = 1.0 / SampleRate;
    RateTag = TagOfRate(SampleRate);

    const int savedCursor = w.GetCursor();
    RunGuard guard(savedCursor);
    w.SetBusyCursor();
    w.ProcessMessages();
    w.SetTimerEnabled(true);

    double f[4];
    for (int i = 0; i < 4; ++i)
        f[i] = ParseFrequency(w.FieldText(i + 1));

    ProjectSettings design;
    for (int i = 0; i < 4; ++i)
        design.frequencies[i] = w.FieldText(i + 1);
    design.filterOrder = w.FilterOrderValue();
    design.ways = NumberOfWays(f[0], f[1], f[2], f[3]);
    const int ways = design.ways;
    design.sampleRate =
        rateChoice && *rateChoice == AllRates ? AllRates : static_cast<int>(SampleRate);
    design.minimumPhase = w.MinimumPhaseOption();
    design.precision = DoublePrecision ? 64 : 32;
    design.format = w.FormatChoice();
    design.alignment = w.AlignmentChoice();
    design.taps = w.TapsChoice();
    if (design.taps < MinTapCount || design.taps > MaxTapCount)
        throw TarnError("The tap count must lie between " + std::to_string(MinTapCount) + " and " +
                        std::to_string(MaxTapCount));
    std::vector<BandTrim> trims;
    for (const Band& band : BandsFor(ways)) {
        const BandTrim trim = w.TrimChoice(band.word);
        trims.push_back(trim);
        if (!trim.IsNeutral()) design.trims[std::string(BandName(band.word))] = trim;
    }

    std::vector<double> rates;
    if (design.sampleRate == AllRates)
        for (const SampleRateTag& rate : SampleRateTags())
            rates.push_back(rate.rate);
    else
        rates.push_back(SampleRate);
    // The lowest rate bounds the frequencies of a set written at every rate.
    if (const auto problem = FrequencyProblem(f, ways, rates.front()))
        throw FrequencyError(*problem);

    // Nothing in the project changes before the commit below, and nobody else's run
    // changes it while this one holds the lock.
    const std::shared_ptr<Directory> project = OpenProject();
    // Only a run that holds the lock knows that the temporary files it finds are dead.
    if (LockProject(*project, w.BusyProjectWait(), ProjectPath,
                    [&w] { return w.RunInterrupted(); }))
        RecoverFileSet(*project, IsProjectFile, DeleteOutputs);

    // The settings first: a file that cannot be written ends the run before any band.
    AtomicFileSet files(project);
    const std::string text = design.StoredText(IniFile(ProjectPath + ProjectIniName));
    try {
        files.Add(ProjectIniName)
            .Write(text.data(), text.size(), {.keepPermissions = true, .inPlaceFallback = true});
    } catch (const AtomicFileError&) {
        throw IniWriteError(ProjectPath + ProjectIniName);
    }

    std::vector<std::string> written, warnings;
    for (const double rate : rates) {
        SampleRate = rate;
        SamplePeriod = 1.0 / rate;
        RateTag = TagOfRate(rate);
        WriteSet(design, f, trims, files, written, warnings);
    }
    if (w.RunInterrupted()) throw InterruptedError();

    // The commit: the settings and the new files appear under their names, stale files go.
    try {
        files.Commit(DeleteOutputs);
    } catch (const AtomicFileError& e) {
        if (e.File() == ProjectIniName) throw IniWriteError(ProjectPath + ProjectIniName);
        throw InOutError(InOutCode(e));
    }
    // Told only now, so that nothing the window does with it (tarn-cli's output into a
    // closed pipe, say) can stop a commit halfway.
    for (const std::string& name : written)
        CurrentHost().FileWritten(ProjectPath + name);
    for (int i = ways; i <= 4; ++i)
        w.SetFieldText(i, "");

    FreeSpectrum();
    w.SetCursor(savedCursor);
    guard.Idle();
    w.SetTimerEnabled(false);
    w.SetProgress(100);
    w.ShowMessage(CompletionMessage(ways));
    w.SetProgress(0);
    for (const std::string& warning : warnings)
        w.ShowWarning(warning);
    return true;
}

} // namespace tarn
