#include "app/WindowOperations.h"

#include <cctype>
#include <climits>
#include <exception>
#include <new>

#include "crossover/Tarndef.h"

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

std::optional<int> IntegerFromText(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    } else {
        while (i < text.size() && text[i] == ' ')
            ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
            negative = text[i] == '-';
            ++i;
        }
        if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
            base = 16;
            ++i;
        }
    }
    if (i >= text.size()) return std::nullopt;
    long long value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        int digit;
        if (std::isdigit(c))
            digit = c - '0';
        else if (base == 16 && std::isxdigit(c))
            digit = std::tolower(c) - 'a' + 10;
        else
            return std::nullopt;
        value = value * base + digit;
        // One past INT_MAX still fits, for "-2147483648"; beyond that no int can hold it.
        if (value > static_cast<long long>(INT_MAX) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > INT_MAX || value < INT_MIN) return std::nullopt;
    return static_cast<int>(value);
}

int SpinEditRead(const std::string& text) {
    return IntegerFromText(text).value_or(1);
}

int SpinEditLimit(int value) {
    return value < 1 ? 1 : (value > 50 ? 50 : value);
}

} // namespace tarn
