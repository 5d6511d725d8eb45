#include "project/Driver.h"

#include <vector>

#include "crossover/TarnRoutinen.h"
#include "crossover/Tarndef.h"
#include "project/IniFile.h"
#include "project/Settings.h"
#include "project/WindowOperations.h"
#include "spectral/FastFourier.h"

namespace tarn {

namespace {

bool running = false;

enum class Response { LowPass, BandPass, HighPass };

struct Band {
    const char* word; // "Sub", "Low", ...
    Response response;
    int lower; // index 0..3 of the frequency that is the band's lower edge (band-pass/high)
    int upper; // index of its upper edge (low-pass/band-pass)
};

// Bands of each number of ways, lowest first, with the fields their edges come from.
const std::vector<Band>& BandsFor(int ways) {
    static const std::vector<Band> table[6] = {
        {},
        {},
        {{"Low", Response::LowPass, -1, 0}, {"High", Response::HighPass, 0, -1}},
        {{"Low", Response::LowPass, -1, 0},
         {"Mid", Response::BandPass, 0, 1},
         {"High", Response::HighPass, 1, -1}},
        {{"Sub", Response::LowPass, -1, 0},
         {"Low", Response::BandPass, 0, 1},
         {"Mid", Response::BandPass, 1, 2},
         {"High", Response::HighPass, 2, -1}},
        {{"Sub", Response::LowPass, -1, 0},
         {"Low", Response::BandPass, 0, 1},
         {"LowMid", Response::BandPass, 1, 2},
         {"Mid", Response::BandPass, 2, 3},
         {"High", Response::HighPass, 3, -1}},
    };
    return table[ways];
}

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

    if (w.Radio44Checked()) {
        SampleRate = 44100.0;
        SamplePeriod = 1.0 / SampleRate;
        RateTag = "44";
    }
    if (w.Radio48Checked()) {
        SampleRate = 48000.0;
        SamplePeriod = 1.0 / SampleRate;
        RateTag = "48";
    }

    const int savedCursor = w.GetCursor();
    RunGuard guard(savedCursor);
    w.SetBusyCursor();
    w.ProcessMessages();
    w.SetTimerEnabled(true);

    DeleteOutputs();

    double f[4];
    for (int i = 0; i < 4; ++i)
        f[i] = ParseFrequency(w.FieldText(i + 1));

    IniFile ini(ProjectPath + ProjectIniName);
    for (int i = 0; i < 4; ++i)
        ini.WriteString("Crossover", "Frequency" + std::to_string(i + 1), w.FieldText(i + 1));
    ini.WriteInteger("Crossover", "FilterOrder", w.FilterOrderValue());

    const int ways = NumberOfWays(f[0], f[1], f[2], f[3]);
    ini.WriteInteger("Crossover", "X-way-system", ways);

    for (int i = ways; i <= 4; ++i)
        w.SetFieldText(i, "");

    AllocSpectrum(CoefficientCount);

    if (ways == 1) {
        ClearSpectrum();
        SpecRe[0] = 1.0;
        WriteCoefficients("XOL" + RateTag);
        WriteCoefficients("XOR" + RateTag);
    } else {
        for (const Band& band : BandsFor(ways)) {
            const int order = w.FilterOrderValue();
            switch (band.response) {
            case Response::LowPass:
                DesignLowPass(order, f[band.upper]);
                break;
            case Response::BandPass:
                DesignBandPass(order, f[band.lower], f[band.upper]);
                break;
            case Response::HighPass:
                DesignHighPass(order, f[band.lower]);
                break;
            }
            const std::string base = std::string("XO") + band.word;
            WriteCoefficients(base + "L" + RateTag);
            WriteCoefficients(base + "R" + RateTag);
        }
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
