// Tarndef: the program-wide values the modules share by name, and the errors they raise.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

namespace tarn {

#ifdef _WIN32
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// Number of taps of every coefficient file.
inline constexpr int CoefficientCount = 65536;

// The rate of the set being computed. Like the spectrum workspace, each thread that designs
// bands has its own: a run that computes several rates at once sets them per thread.
// Sample rate [Hz], one of the six rates; set by the driver for each set it computes.
inline thread_local double SampleRate = 44100.0;
// 1 / SampleRate [s]; 0 until the first run. The band designs read it.
inline thread_local double SamplePeriod = 0.0;
// "44" or "48": ends every coefficient file's base name. Empty until the first run.
inline thread_local std::string RateTag;

// Directory of the executable, ending in PathSeparator.
inline std::string AppDir;
// Current project directory: a prefix ending in PathSeparator, file names appended directly.
inline std::string ProjectPath;

// True: coefficient files are 64-bit ".dbl"; false: 32-bit ".pcm".
inline bool DoublePrecision = true;

// Staging buffers of WriteCoefficients: exactly one file record each, so a write
// allocates nothing.
inline std::array<double, CoefficientCount> OutDouble{};
inline std::array<float, CoefficientCount> OutSingle{};

// Every failure that ends a handler is one of these; what() is the text of the error box.
class TarnError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// A coefficient file that could not be created, written or closed. Code: 2, 3, 4, 5,
// 101 (a full disk), 29 (a failing device) or 1000 + the system's error number.
class InOutError : public TarnError {
  public:
    explicit InOutError(int code);
    int Code() const { return code_; }

  private:
    int code_;
};

// A frequency text whose number does not fit a 32-bit float.
class FloatOverflowError : public TarnError {
  public:
    FloatOverflowError() : TarnError("Floating point overflow") {}
};

// A settings file that could not be written; the message names the file.
class IniWriteError : public TarnError {
  public:
    explicit IniWriteError(const std::string& fileName);
};

// Crossover frequencies that do not rise, or that reach half the sample rate; the message
// names the field.
class FrequencyError : public TarnError {
  public:
    using TarnError::TarnError;
};

// Another calculation holds the project (in this process or another one).
class ProjectBusyError : public TarnError {
  public:
    explicit ProjectBusyError(const std::string& projectPath);
};

// A run stopped on request (a signal), before anything was changed.
class InterruptedError : public TarnError {
  public:
    InterruptedError() : TarnError("Calculation interrupted") {}
};

// A settings file that is not 8-bit text (UTF-16, NUL bytes): reading it would lose its
// keys, writing it would add a second section.
class IniReadError : public TarnError {
  public:
    explicit IniReadError(const std::string& fileName);
    IniReadError(const std::string& fileName, const std::string& why);
};

// "Unable to create directory" and the like.
class DirectoryError : public TarnError {
  public:
    using TarnError::TarnError;
};

// The message of an input/output error with the given code.
std::string InOutMessage(int code);

} // namespace tarn
