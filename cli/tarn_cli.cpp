// tarn-cli: one crossover calculation from the command line, through the same driver and
// settings code as the window. See README.md for the options.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ReportCommand.h"
#include "crossover/Bands.h"
#include "crossover/Shorten.h"
#include "crossover/Tarndef.h"
#include "project/CliOptions.h"
#include "project/Driver.h"
#include "project/HeadlessWindow.h"
#include "project/IniFile.h"
#include "project/ProjectSettings.h"
#include "project/Settings.h"
#include "project/WindowOperations.h"

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
    void ShowWarning(const std::string& text) override {
        HeadlessWindow::ShowWarning(text);
        std::cerr << "warning: " << text << std::endl;
    }
    void FileWritten(const std::string& path) override {
        HeadlessWindow::FileWritten(path);
        pending_.push_back(std::filesystem::path(path).filename().string());
        if (pending_.size() == 2) {
            std::cerr << "written: " << pending_[0] << ", " << pending_[1] << std::endl;
            pending_.clear();
        }
    }

    // Another run on the project (a window, a script) is waited for a while.
    std::chrono::milliseconds BusyProjectWait() override { return std::chrono::seconds(5); }
    bool RunInterrupted() override { return stopSignal != 0; }

    static inline volatile std::sig_atomic_t stopSignal = 0;

  private:
    std::vector<std::string> pending_;
};

// Ctrl-C, a hang-up or a kill request ends the run before it changes anything (or, once
// its files are being moved into place, after it has finished); the process then ends by
// the signal as it would have without the handler.
void RequestStop(int signal) {
    TerminalWindow::stopSignal = signal;
}

// Throws for a name that cannot name a directory: an empty one, or a relative one when the
// working directory itself is gone.
std::string AsProjectPath(const std::string& dir) {
    if (dir.empty()) throw tarn::TarnError("The project directory name is empty");
    std::string path = std::filesystem::absolute(dir).lexically_normal().string();
    if (path.empty() || path.back() != tarn::PathSeparator) path += tarn::PathSeparator;
    return path;
}

int Run(int argc, char** argv) {
    // "tarn-cli report": reads the written files back instead of computing new ones.
    if (argc > 1 && std::string_view(argv[1]) == "report")
        return tarn::ReportCommand(argc - 1, argv + 1, std::cout, std::cerr);

    const tarn::CliParse parsed = tarn::ParseCliOptions(argc, argv, std::cout, std::cerr);
    if (!parsed.options) return parsed.exitStatus;
    const tarn::CliOptions& options = *parsed.options;

    TerminalWindow window;
    tarn::ScopedWindow scoped(window);
    tarn::ProjectPath = AsProjectPath(options.project);

    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, RequestStop);
    bool completed = false;
    const bool ok = tarn::RunHandler([&] {
        // Without frequencies, the stored design as the window would show it at start.
        const tarn::ProjectSettings stored =
            tarn::ProjectSettings::Load(tarn::IniFile(tarn::ProjectPath + tarn::ProjectIniName));
        const std::vector<std::string>& frequencies = options.frequencies;
        if (frequencies.empty()) {
            for (int i = 1; i <= 4; ++i)
                window.SetFieldText(i, stored.frequencies[i - 1]);
        } else {
            for (std::size_t i = 0; i < frequencies.size(); ++i)
                window.SetFieldText(static_cast<int>(i) + 1, frequencies[i]);
        }
        window.SetFilterOrderValue(options.order ? tarn::SpinEditRead(*options.order)
                                                 : stored.filterOrder);
        // The rest of the stored design, then what the command line changes of it.
        window.ShowDesign(stored);
        if (options.rate) {
            window.rate = *options.rate;
            window.radio48 = *options.rate == 48000;
        }
        if (options.minimumPhase) window.minimumPhase = *options.minimumPhase;
        if (options.precision) tarn::DoublePrecision = *options.precision == 64;
        if (options.format) window.format = *tarn::FormatOfName(*options.format);
        if (options.alignment) window.alignment = *tarn::AlignmentOfName(*options.alignment);
        if (options.taps) window.taps = *options.taps;
        for (const tarn::CliTrim& trim : options.trims) {
            tarn::BandTrim& t = window.trims[trim.band];
            if (trim.levelDb) t.levelDb = *trim.levelDb;
            if (trim.delayMs) t.delayMs = *trim.delayMs;
            if (trim.invert) t.invert = true;
        }
        completed = tarn::XOButtonClick();
        if (completed && window.taps != tarn::CoefficientCount) {
            // What the shortened filters delay the sound by, before any per-band delay; at
            // the full length the output stays what it always was.
            const auto phase =
                window.minimumPhase ? tarn::BandPhase::Minimum : tarn::BandPhase::Linear;
            for (const tarn::SampleRateTag& rate : tarn::SampleRateTags())
                if (window.rate == tarn::AllRates ? true : rate.rate == tarn::SampleRate)
                    std::cerr << "latency: " << tarn::LatencyMs(phase, window.taps, rate.rate)
                              << " ms at " << rate.rate << " Hz" << std::endl;
        }
    });
    if (const int signal = TerminalWindow::stopSignal) {
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
    return ok && completed ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // Progress lines on a closed pipe ("tarn-cli ... 2>&1 | head -1") must not kill the run
    // between two bands; a failed write to a stream is harmless, a half-done run is not.
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    // A file-size limit (ulimit -f) then fails the write that crosses it, which the run
    // reports as a full disk, instead of killing the process midway.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    // Whatever escapes (no working directory, no memory) ends with a message and status 1,
    // never with an abort.
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::cerr << "Out of memory." << std::endl;
    } catch (const std::filesystem::filesystem_error& e) {
        std::cerr << e.code().message() << ": " << e.path1().string() << "." << std::endl;
    } catch (const std::exception& e) {
        std::cerr << tarn::ErrorBoxText(e.what()) << std::endl;
    }
    return 1;
}
