#include "project/Driver.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "core/AtomicFile.h"
#include "core/Host.h"
#include "crossover/Bands.h"
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

// Takes the project's lock, waiting as long as the window allows for a run that holds it.
// False where the file system offers no lock: the run goes on without.
bool LockProject(Directory& project, WindowOperations& w) {
    const auto deadline = std::chrono::steady_clock::now() + w.BusyProjectWait();
    for (;;) {
        const Directory::Lock lock = project.TryLock();
        if (lock != Directory::Lock::Busy) return lock == Directory::Lock::Held;
        if (std::chrono::steady_clock::now() >= deadline) throw ProjectBusyError(ProjectPath);
        if (w.RunInterrupted()) throw InterruptedError();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The files of a project that a run writes: what its commits and recoveries may touch.
bool IsProjectFile(std::string_view name) {
    return name == ProjectIniName || IsCoefficientFileName(name);
}

} // namespace

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

    // The two radios form one group, so exactly one of them is checked.
    if (w.Radio44Checked()) SampleRate = 44100.0;
    if (w.Radio48Checked()) SampleRate = 48000.0;
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
    if (const auto problem = FrequencyProblem(f, ways, SampleRate)) throw FrequencyError(*problem);

    // Nothing in the project changes before the commit below, and nobody else's run
    // changes it while this one holds the lock.
    const std::shared_ptr<Directory> project = OpenProject();
    // Only a run that holds the lock knows that the temporary files it finds are dead.
    if (LockProject(*project, w)) RecoverFileSet(*project, IsProjectFile, DeleteOutputs);

    // The settings first: a file that cannot be written ends the run before any band.
    AtomicFileSet files(project);
    const std::string text = design.StoredText(IniFile(ProjectPath + ProjectIniName));
    try {
        files.Add(ProjectIniName)
            .Write(text.data(), text.size(), {.keepPermissions = true, .inPlaceFallback = true});
    } catch (const AtomicFileError&) {
        throw IniWriteError(ProjectPath + ProjectIniName);
    }

    AllocSpectrum(CoefficientCount);
    std::vector<std::string> written;
    for (const Band& band : BandsFor(ways)) {
        if (w.RunInterrupted()) throw InterruptedError();
        DesignBand(band, w.FilterOrderValue(), f);
        for (const char side : Sides)
            written.push_back(
                StageCoefficients(files, CoefficientFileName(band.word, side, RateTag)));
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
    return true;
}

} // namespace tarn
