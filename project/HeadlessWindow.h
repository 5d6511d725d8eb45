// A window without a screen: holds the controls' state in plain members and records what
// would have been shown. It serves the command-line tool and the tests.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "project/WindowOperations.h"

namespace tarn {

class HeadlessWindow : public WindowOperations {
  public:
    // Controls, in their initial states.
    std::string fields[4];
    std::string filterOrderText = "10";
    bool radio48 = false;
    bool minimumPhase = true;
    std::string caption = "Tarn";
    bool timerEnabled = false;
    int progress = 0;
    int cursor = 0; // 0: normal, 1: busy
    std::chrono::milliseconds busyWait{0};
    bool interrupted = false;

    // The design panel; nothing for the rate goes by radio48.
    std::optional<int> rate;
    FileFormat format = FileFormat::Raw;
    Alignment alignment = Alignment::Tarn;
    int taps = CoefficientCount;
    std::map<std::string, BandTrim, std::less<>> trims; // by band word, "" the full range

    // What was shown, in order.
    std::vector<std::string> messages;
    std::vector<std::string> errors;
    std::vector<std::string> filesWritten;
    std::vector<std::string> warnings;
    long pumpCount = 0;

    // Answers of the directory chooser, taken front first; empty: cancel.
    std::deque<std::optional<std::string>> chooserAnswers;
    std::vector<std::string> chooserStarts;

    // Hooks a test or the tool may set.
    std::function<void()> onPump;
    std::function<void(const std::string&)> onMessage;

    // The four frequency fields at once, fg1Edit first.
    void SetFields(const std::string& f1, const std::string& f2, const std::string& f3,
                   const std::string& f4);

    void ProcessMessages() override;
    void ShowMessage(const std::string& text) override;
    void ShowError(const std::string& text) override;
    int GetCursor() override { return cursor; }
    void SetBusyCursor() override { cursor = 1; }
    void SetCursor(int saved) override { cursor = saved; }
    bool MinimumPhaseOption() override { return minimumPhase; }
    bool Radio44Checked() override { return !radio48; }
    bool Radio48Checked() override { return radio48; }
    std::string FieldText(int field) override;
    void SetFieldText(int field, const std::string& text) override;
    int FilterOrderValue() override { return SpinEditRead(filterOrderText); }
    void SetFilterOrderValue(int value) override;
    void SetCaption(const std::string& text) override { caption = text; }
    void SetTimerEnabled(bool enabled) override { timerEnabled = enabled; }
    void SetProgress(int position) override { progress = position; }
    std::optional<std::string> ChooseDirectory(const std::string& start) override;
    void FileWritten(const std::string& path) override;
    std::optional<int> RateChoice() override { return rate; }
    FileFormat FormatChoice() override { return format; }
    Alignment AlignmentChoice() override { return alignment; }
    int TapsChoice() override { return taps; }
    BandTrim TrimChoice(std::string_view word) override;
    void ShowDesign(const ProjectSettings& design) override;
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    std::chrono::milliseconds BusyProjectWait() override { return busyWait; }
    bool RunInterrupted() override { return interrupted; }
};

} // namespace tarn
