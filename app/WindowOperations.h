// The services of the window that the computing code needs, as an abstract interface.
//
// The driver, the band designs, the transforms and the settings store reach the window
// only through Window(), so the Qt window, the command-line tool and the tests all run
// the same code. Every operation is called on the thread of the window's message loop.
// All texts are UTF-8; the settings files convert to and from Windows-1252 themselves.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarn {

class WindowOperations {
  public:
    virtual ~WindowOperations() = default;

    // Handles every message waiting right now (repaints, timer ticks, input) and returns;
    // never waits for new ones.
    virtual void ProcessMessages() = 0;
    // Modal box with the text and one OK button; returns once dismissed.
    virtual void ShowMessage(const std::string& text) = 0;
    // The application's error box ("Tarn", error icon, OK). text is shown as given;
    // callers pass it through ErrorBoxText first.
    virtual void ShowError(const std::string& text) = 0;

    // Application-wide cursor: read it, show the busy cursor, put a saved one back.
    virtual int GetCursor() = 0;
    virtual void SetBusyCursor() = 0;
    virtual void SetCursor(int saved) = 0;

    // True while "Minimum phase" is ticked, read at the moment of the call.
    virtual bool MinimumPhaseOption() = 0;
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

    // A coefficient file has just been written completely (full path). For reporting only.
    virtual void FileWritten(const std::string& /*path*/) {}
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

// The integer a text holds, by the rule of the settings files and the spin edit:
// decimal with leading blanks and a sign, or hexadecimal behind "0x"/"0X" (text longer
// than two characters), "$", "x" or "X". Nothing for any other text or one out of range.
std::optional<int> IntegerFromText(const std::string& text);

// The spin edit's rules: reading gives IntegerFromText or 1; setting limits to 1..50.
int SpinEditRead(const std::string& text);
int SpinEditLimit(int value);

} // namespace tarn
