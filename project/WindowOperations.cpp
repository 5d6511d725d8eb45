#include "project/WindowOperations.h"

#include <exception>
#include <new>

#include "crossover/Tarndef.h"
#include "project/IniFile.h"

namespace tarn {

namespace {

// Answers for the computing code when no window is attached (a library user, a test that
// does not care): nothing is shown and nothing waits.
class SilentWindow final : public WindowOperations {
  public:
    void ProcessMessages() override {}
    void ShowMessage(const std::string&) override {}
    void ShowError(const std::string&) override {}
    int GetCursor() override { return 0; }
    void SetBusyCursor() override {}
    void SetCursor(int) override {}
    bool MinimumPhaseOption() override { return false; }
    bool Radio44Checked() override { return true; }
    bool Radio48Checked() override { return false; }
    std::string FieldText(int) override { return {}; }
    void SetFieldText(int, const std::string&) override {}
    int FilterOrderValue() override { return 10; }
    void SetFilterOrderValue(int) override {}
    void SetCaption(const std::string&) override {}
    void SetTimerEnabled(bool) override {}
    void SetProgress(int) override {}
    std::optional<std::string> ChooseDirectory(const std::string&) override { return std::nullopt; }
};

SilentWindow silentWindow;
WindowOperations* currentWindow = nullptr;

} // namespace

WindowOperations& Window() {
    return currentWindow ? *currentWindow : silentWindow;
}

WindowOperations* SetWindow(WindowOperations* window) {
    WindowOperations* previous = currentWindow;
    currentWindow = window;
    SetHost(window);
    return previous;
}

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
    return message;
}

bool RunHandler(const std::function<void()>& handler) {
    try {
        handler();
        return true;
    } catch (const std::bad_alloc&) {
        Window().ShowError(ErrorBoxText("Out of memory"));
    } catch (const std::exception& e) {
        Window().ShowError(ErrorBoxText(e.what()));
    } catch (...) {
        Window().ShowError(ErrorBoxText("Unknown error"));
    }
    return false;
}

int SpinEditRead(const std::string& text) {
    return IntegerFromText(text).value_or(1);
}

int SpinEditLimit(int value) {
    return value < 1 ? 1 : (value > 50 ? 50 : value);
}

} // namespace tarn
