// The services of the window that the project logic needs, as an abstract interface.
//
// The driver and the settings store reach the window only through Window(), so the Qt
// window, the command-line tool and the tests all run the same code. The window is also the
// Host of the layers below (core/Host.h): SetWindow makes it theirs too. Every operation
// is called on the thread of the window's message loop.
// All texts are UTF-8; the settings files convert to and from Windows-1252 themselves.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/Host.h"
#include "crossover/BandTrim.h"
#include "crossover/Tarndef.h"
#include "project/ProjectSettings.h"

namespace tarn {

class WindowOperations : public Host {
  public:
    // ProcessMessages, ShowMessage, MinimumPhaseOption and FileWritten come from Host.

    // The application's error box ("Tarn", error icon, OK). text is shown as given;
    // callers pass it through ErrorBoxText first.
    virtual void ShowError(const std::string& text) = 0;

    // Application-wide cursor: read it, show the busy cursor, put a saved one back.
    virtual int GetCursor() = 0;
    virtual void SetBusyCursor() = 0;
    virtual void SetCursor(int saved) = 0;

    virtual bool Radio44Checked() = 0;
    virtual bool Radio48Checked() = 0;

    // Frequency fields fg1Edit..fg4Edit, field = 1..4.
    virtual std::string FieldText(int field) = 0;
    virtual void SetFieldText(int field, const std::string& text) = 0;

    // FilterOrder: get = the integer its text holds, 1 when it holds none (not clamped);
    // set = the value limited to 1..50.
    virtual int FilterOrderValue() = 0;
    virtual void SetFilterOrderValue(int value) = 0;

    virtual void SetCaption(const std::string& caption) = 0;

    // Timer1 (2000 ms ticks, each stepping the bar by 1 up to 100) and ProgressBar1.
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual void SetProgress(int position) = 0;

    // Modal "Select Directory", starting at start. Returns the accepted name-field text
    // (the user has confirmed creating it when it did not exist), or nothing on cancel.
    virtual std::optional<std::string> ChooseDirectory(const std::string& start) = 0;

    // How long a run waits for another calculation on the same project to end before it
    // gives up as busy. A window does not wait: its user sees the error at once.
    virtual std::chrono::milliseconds BusyProjectWait() { return {}; }
    // True once the user asked the run to stop (a signal to tarn-cli); the run then ends
    // before it changes anything.
    virtual bool RunInterrupted() { return false; }

    // The design panel: what a run builds beyond the controls above, read at the start of a
    // run. The defaults are what a window without the panel means, so a run through them
    // writes what it always wrote.
    // The rate [Hz] to write, AllRates for every rate, or nothing to go by Radio44/Radio48.
    virtual std::optional<int> RateChoice() { return std::nullopt; }
    virtual FileFormat FormatChoice() { return FileFormat::Raw; }
    virtual Alignment AlignmentChoice() { return Alignment::Tarn; }
    virtual int TapsChoice() { return CoefficientCount; }
    // The level, delay and polarity of a band, by its word ("" for the full range).
    virtual BandTrim TrimChoice(std::string_view /*word*/) { return {}; }

    // Shows a stored design beyond the fields and the filter order (rate, phase, precision,
    // format, alignment, taps, trims): at start and when a project is opened.
    virtual void ShowDesign(const ProjectSettings& /*design*/) {}
    // What a completed run wants the user to know (taps too few, a level that can clip);
    // the run has written its files all the same.
    virtual void ShowWarning(const std::string& text) { ShowMessage(text); }
};

// The window the computing code talks to. Without one set, a silent stand-in answers
// (no messages, minimum phase off, 44100 Hz, empty fields).
WindowOperations& Window();
// Sets the window; returns the previous one (nullptr for the stand-in).
WindowOperations* SetWindow(WindowOperations* window);

// Sets a window for the lifetime of the guard.
class ScopedWindow {
  public:
    explicit ScopedWindow(WindowOperations& window) : previous_(SetWindow(&window)) {}
    ~ScopedWindow() { SetWindow(previous_); }
    ScopedWindow(const ScopedWindow&) = delete;
    ScopedWindow& operator=(const ScopedWindow&) = delete;

  private:
    WindowOperations* previous_;
};

// The text of the error box for an error's message: a full stop is appended when the
// code of the last character is greater than that of the full stop.
std::string ErrorBoxText(const std::string& message);

// Runs one handler; an error that ends it is shown in the error box and swallowed, so it
// never crosses the message loop. Returns false when an error was shown.
bool RunHandler(const std::function<void()>& handler);

// The spin edit's rules: reading gives IntegerFromText or 1; setting limits to 1..50.
int SpinEditRead(const std::string& text);
int SpinEditLimit(int value);

} // namespace tarn
