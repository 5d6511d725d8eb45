// tarn-cli: one crossover calculation from the command line, through the same driver and
// settings code as the window. See README.md for the options.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "app/Driver.h"
#include "app/HeadlessWindow.h"
#include "app/IniFile.h"
#include "app/Settings.h"
#include "app/WindowOperations.h"
#include "crossover/Tarndef.h"

namespace {

// The window of a terminal: messages go to standard output, the error box to standard
// error, and each band is reported on standard error once both its files are written.
class TerminalWindow : public tarn::HeadlessWindow {
  public:
    void ShowMessage(const std::string& text) override {
        HeadlessWindow::ShowMessage(text);
        std::cout << text << std::endl;
    }
    void ShowError(const std::string& text) override {
        HeadlessWindow::ShowError(text);
        std::cerr << text << std::endl;
    }
    void FileWritten(const std::string& path) override {
        HeadlessWindow::FileWritten(path);
        pending_.push_back(std::filesystem::path(path).filename().string());
        if (pending_.size() == 2) {
            std::cerr << "written: " << pending_[0] << ", " << pending_[1] << std::endl;
            pending_.clear();
        }
    }

  private:
    std::vector<std::string> pending_;
};

std::string AsProjectPath(const std::string& dir) {
    std::string path = std::filesystem::absolute(dir).lexically_normal().string();
    if (path.empty() || path.back() != tarn::PathSeparator) path += tarn::PathSeparator;
    return path;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Tarn: designs the FIR filters of a multi-way loudspeaker crossover and writes "
                 "one left and one right coefficient file per band into the project directory.",
                 "tarn-cli"};
    std::string project = ".";
    int rate = 44100;
    std::string order;
    std::string phase = "minimum";
    int precision = 64;
    std::vector<std::string> frequencies;
    app.add_option("--project", project, "Project directory (default: the current directory)");
    app.add_option("--rate", rate, "Sample rate in Hz")
        ->check(CLI::IsMember({44100, 48000}))
        ->capture_default_str();
    app.add_option("--order", order,
                   "Filter order 1..50 (default: the project's stored order, else 10)");
    app.add_option("--phase", phase, "Filter phase")
        ->check(CLI::IsMember({"minimum", "linear"}))
        ->capture_default_str();
    app.add_option("--precision", precision, "64: \".dbl\" files, 32: \".pcm\" files")
        ->check(CLI::IsMember({64, 32}))
        ->capture_default_str();
    app.add_option("frequencies", frequencies,
                   "F1 [F2 [F3 [F4]]]: crossover frequencies in Hz, lowest first; the first "
                   "unusable one (empty, not a number, not positive) ends the list. Without "
                   "any, the project's stored frequencies are used.")
        ->expected(0, 4);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }

    TerminalWindow window;
    tarn::ScopedWindow scoped(window);
    tarn::ProjectPath = AsProjectPath(project);
    tarn::DoublePrecision = precision == 64;
    window.radio48 = rate == 48000;
    window.minimumPhase = phase == "minimum";

    // Without frequencies, the stored design as the window would show it at start.
    const tarn::IniFile stored(tarn::ProjectPath + tarn::ProjectIniName);
    if (frequencies.empty()) {
        for (int i = 1; i <= 4; ++i)
            window.SetFieldText(
                i, stored.ReadString("Crossover", "Frequency" + std::to_string(i), ""));
    } else {
        for (std::size_t i = 0; i < frequencies.size(); ++i)
            window.SetFieldText(static_cast<int>(i) + 1, frequencies[i]);
    }
    if (order.empty())
        window.SetFilterOrderValue(stored.ReadInteger("Crossover", "FilterOrder", 10));
    else
        window.SetFilterOrderValue(tarn::SpinEditRead(order));

    bool completed = false;
    const bool ok = tarn::RunHandler([&] { completed = tarn::XOButtonClick(); });
    return ok && completed ? 0 : 1;
}
