#include "project/Driver.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
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
#include "project/BandJobs.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"
#include "project/WindowOperations.h"
#include "spectral/FastFourier.h"
#include "spectral/MinimumPhase.h"

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

// One band of one set: designed, trimmed and shortened on whichever thread takes it, then
// staged by the window's thread.
struct BandJob {
    std::size_t set = 0;  // index of the rate
    std::size_t band = 0; // index in the set's bands
    std::vector<double> taps;
    std::vector<double> design; // the full-length response, where the set's checks need it
    std::vector<std::string> warnings;
};

// The host of a thread computing bands: the phase chosen when the run started (a box ticked
// halfway through must not give a set of mixed phases), the window pumped from its own thread
// only, and the computation's messages kept as the band's warnings.
class BandHost final : public Host {
  public:
    BandHost(bool minimumPhase, Host* window) : minimumPhase_(minimumPhase), window_(window) {}
    void ProcessMessages() override {
        if (window_) window_->ProcessMessages();
    }
    void ShowMessage(const std::string& text) override {
        if (warnings) warnings->push_back(text);
    }
    bool MinimumPhaseOption() override { return minimumPhase_; }

    std::vector<std::string>* warnings = nullptr;

  private:
    bool minimumPhase_;
    Host* window_;
};

thread_local BandHost* bandHost = nullptr;

// Makes the thread's rate (SampleRate, SamplePeriod, RateTag) and workspace those of a set.
void EnterSet(double rate, std::int32_t n) {
    if (SampleRate != rate || RateTag.empty()) {
        SampleRate = rate;
        SamplePeriod = 1.0 / rate;
        RateTag = TagOfRate(rate);
    }
    if (SpecLength != n || SpecRe.size() != static_cast<std::size_t>(n)) AllocSpectrum(n);
}

// The band of job.band at the thread's current rate, designed on the grid its tap count needs,
// trimmed and shortened into job.taps; what the user should hear about it goes into warnings.
void ComputeBand(const ProjectSettings& design, const double* f, const BandTrim& trim,
                 BandJob& job) {
    const int ways = design.ways;
    const bool linkwitzRiley = design.alignment == Alignment::LinkwitzRiley && ways > 1;
    const BandPhase phase = design.minimumPhase ? BandPhase::Minimum : BandPhase::Linear;
    const std::int32_t n = DesignLength(design.taps);
    const std::vector<double> crossovers(f, f + ways - 1);
    const std::string at = design.sampleRate == AllRates ? " at " + std::string(RateTag) : "";
    const Band& band = BandsFor(ways)[job.band];
    const std::string name(BandName(band.word));

    if (linkwitzRiley)
        DesignLinkwitzRiley(design.filterOrder, crossovers, static_cast<int>(job.band),
                            design.minimumPhase);
    else
        DesignBand(band, design.filterOrder, f);
    const std::span<const double> response(SpecRe.data(), static_cast<std::size_t>(n));
    if (linkwitzRiley || (design.taps < n && ways > 1))
        job.design.assign(response.begin(), response.end());

    if (trim.levelDb > 0.0) {
        const double peak = PeakGainDb() + trim.levelDb;
        if (peak > 0.0)
            job.warnings.push_back("The " + name + " band's level of " + Decibels(trim.levelDb) +
                                   " lets a full-scale signal reach " + Decibels(peak) +
                                   " at its loudest frequency" + at + ": it can clip.");
    }
    const DelaySplit delay = SplitDelay(trim.delayMs, SampleRate);
    if (delay.frac > 0.0) {
        CheckDelayFits(response, trim, delay, name);
        DelayByFraction(delay, phase);
    }

    if (band.shape == BandShape::FullRange || design.taps == n) {
        job.taps.assign(SpecRe.begin(), SpecRe.begin() + design.taps);
        if (!trim.IsNeutral()) ShiftAndScale(job.taps, trim, delay, name);
        return;
    }
    // Delayed at full length, where the response has room to move, then shortened around
    // where it has moved to.
    const std::span<double> full(SpecRe.data(), static_cast<std::size_t>(n));
    if (delay.whole > 0) ShiftAndScale(full, {0.0, trim.delayMs, false}, delay, name);
    try {
        job.taps = phase == BandPhase::Linear
                       ? ShortenLinearAround(full, design.taps, delay.whole + delay.frac)
                       : ShortenBand(full, phase, design.taps);
    } catch (const std::invalid_argument&) {
        throw TarnError("The delay of the " + name + " band does not fit into " +
                        std::to_string(design.taps) + " taps; choose a shorter delay or more taps");
    }
    if (const double gain = TrimGain(trim); gain != 1.0)
        for (double& t : job.taps)
            t *= gain;
}

// What a set's checks measure of its bands as the window's thread stages them, in order, so
// that this work overlaps the bands still being computed instead of following them all.
struct SetChecks {
    std::optional<TapsMeter> fit;              // a Linkwitz-Riley set: do its taps hold it
    std::optional<ShorteningMeter> shortening; // a shortened set: what shortening cost

    SetChecks(const ProjectSettings& design, double rate) {
        if (design.alignment == Alignment::LinkwitzRiley && design.ways > 1)
            fit.emplace(design.minimumPhase);
        if (design.taps < DesignLength(design.taps) && design.ways > 1)
            shortening.emplace(design.minimumPhase ? BandPhase::Minimum : BandPhase::Linear,
                               design.taps, rate);
    }
    // The band's full-length design, lowest band first.
    void Add(const std::vector<double>& response) {
        if (fit) fit->Add(response);
        if (shortening) shortening->Add(response);
    }
};

// The checks of a whole set, once its last band is staged: whether a Linkwitz-Riley set fits
// its taps, and what shortening cost.
void CheckSet(const ProjectSettings& design, SetChecks& checks,
              const std::vector<std::string>& names, std::vector<std::string>& warnings) {
    const std::string at = design.sampleRate == AllRates ? " at " + std::string(RateTag) : "";
    if (checks.fit) {
        const std::string warning = TapsWarning(checks.fit->Finish(), names);
        if (!warning.empty()) warnings.push_back(warning);
    }
    if (checks.shortening) {
        const ShorteningCost cost = checks.shortening->Finish();
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

// Every set of the run, its bands computed on CalculationThreads() threads and staged in files
// in the order of a one-thread run, so the files and warnings are the same however many
// threads computed them.
void WriteSets(const ProjectSettings& design, const double* f, const std::vector<BandTrim>& trims,
               const std::vector<double>& rates, AtomicFileSet& files,
               std::vector<std::string>& written, std::vector<std::string>& warnings) {
    WindowOperations& w = Window();
    const std::int32_t n = DesignLength(design.taps);
    const auto bands = BandsFor(design.ways);
    std::vector<std::string> names;
    for (const Band& band : bands)
        names.emplace_back(BandName(band.word));

    std::vector<BandJob> jobs;
    for (std::size_t set = 0; set < rates.size(); ++set)
        for (std::size_t band = 0; band < bands.size(); ++band)
            jobs.push_back({.set = set, .band = band, .taps = {}, .design = {}, .warnings = {}});
    std::optional<SetChecks> checks; // of the set being staged

    const std::thread::id window = std::this_thread::get_id();
    RunBandJobs({
        .count = jobs.size(),
        .threads = CalculationThreads(),
        .onThread =
            [&](const std::function<void()>& body) {
                BandHost host(design.minimumPhase,
                              std::this_thread::get_id() == window ? &w : nullptr);
                const ThreadHost scoped(host);
                bandHost = &host;
                const KeepConversionTables keep;
                body();
                bandHost = nullptr;
            },
        .compute =
            [&](std::size_t i) {
                BandJob& job = jobs[i];
                EnterSet(rates[job.set], n);
                if (bandHost) bandHost->warnings = &job.warnings;
                ComputeBand(design, f, trims[job.band], job);
            },
        .consume =
            [&](std::size_t i) {
                BandJob& job = jobs[i];
                const Band& band = bands[job.band];
                const double rate = rates[job.set];
                for (const char side : Sides)
                    written.push_back(StageCoefficients(
                        files, CoefficientFileName(band.word, side, TagOfRate(rate)), job.taps,
                        design.format == FileFormat::Wav, rate));
                warnings.insert(warnings.end(), job.warnings.begin(), job.warnings.end());
                if (job.band == 0) {
                    EnterSet(rate, n);
                    checks.emplace(design, rate);
                }
                if (!job.design.empty()) checks->Add(job.design);
                std::vector<double>().swap(job.design);
                std::vector<double>().swap(job.taps);
                if (job.band + 1 == bands.size()) {
                    EnterSet(rate, n);
                    CheckSet(design, *checks, names, warnings);
                    checks.reset();
                }
            },
        .idle = [&w] { w.ProcessMessages(); },
        .interrupted = [&w] { return w.RunInterrupted(); },
    });
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
    WriteSets(design, f, trims, rates, files, written, warnings);
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
