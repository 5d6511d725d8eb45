#include "project/Driver.h"

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

    DeleteOutputs();

    double f[4];
    for (int i = 0; i < 4; ++i)
        f[i] = ParseFrequency(w.FieldText(i + 1));

    ProjectSettings design;
    for (int i = 0; i < 4; ++i)
        design.frequencies[i] = w.FieldText(i + 1);
    design.filterOrder = w.FilterOrderValue();
    design.ways = NumberOfWays(f[0], f[1], f[2], f[3]);
    IniFile ini(ProjectPath + ProjectIniName);
    design.Store(ini);
    const int ways = design.ways;

    for (int i = ways; i <= 4; ++i)
        w.SetFieldText(i, "");

    AllocSpectrum(CoefficientCount);

    for (const Band& band : BandsFor(ways)) {
        DesignBand(band, w.FilterOrderValue(), f);
        for (const char side : Sides)
            WriteCoefficients(CoefficientFileName(band.word, side, RateTag));
    }

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
