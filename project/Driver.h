// The crossover calculation driver: one press of "Calc Crossover", from the entered values
// to the coefficient files of every band.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace tarn {

class Directory;

// One complete run against Window(). Returns false without doing anything when a run is
// already in progress (a second press while the first one pumps messages). An error ends
// the run after the window has been put back to idle (cursor, timer, bar, workspace) and
// is then thrown on to the caller, which shows it in the error box.
bool XOButtonClick();

// Takes the project's lock, waiting up to `wait` for another calculation that holds it;
// after that throws ProjectBusyError naming shownPath, and InterruptedError as soon as
// interrupted() says so. False where the file system offers no lock: the caller goes on
// without.
bool LockProject(Directory& project, std::chrono::milliseconds wait, const std::string& shownPath,
                 const std::function<bool()>& interrupted = {});

// True from the start of a run to its end, message box included.
bool CalculationRunning();

// Number of ways for the four frequency values (-1 marks an unusable field).
int NumberOfWays(double f1, double f2, double f3, double f4);

// What is wrong with the usable frequencies [Hz] of a run of this many ways, as the error
// box says it: they must rise strictly and lie below half the sample rate. Nothing when
// they are right.
std::optional<std::string> FrequencyProblem(const double* frequencies, int ways, double sampleRate);

// "Calculation N-way XO done".
std::string CompletionMessage(int ways);

} // namespace tarn
