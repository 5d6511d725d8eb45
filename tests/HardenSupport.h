// Helpers of the hardening tests (faults, soak, limits): child processes, pictures of a
// directory tree, the check that no coefficient file is broken, and the process's own
// resident memory and open files.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Defined in a build with AddressSanitizer, whose shadow memory rules out address-space
// limits and skews memory figures.
#if defined(__SANITIZE_ADDRESS__)
#define TARN_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARN_ADDRESS_SANITIZER 1
#endif
#endif

namespace tarn::test {

struct ProcessResult {
    int status = -1; // exit status, or -1 when ended by a signal
    int signal = 0;  // the signal that ended it, or 0
    std::string out;
    std::string err;
};

// A program started in the background, its output kept until it ends.
class Child {
  public:
    // Starts argv[0] with the arguments in cwd, with extra "NAME=value" environment entries
    // and SIGXFSZ at its default; inChild runs in the child just before the program starts.
    Child(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
          const std::vector<std::string>& environment = {},
          const std::function<void()>& inChild = {});
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void Signal(int signal) const;
    // Waits for the end; the result once.
    ProcessResult Wait();

  private:
    int pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

// Runs a Child to its end.
ProcessResult RunProcess(const std::vector<std::string>& argv, const std::filesystem::path& cwd,
                         const std::vector<std::string>& environment = {},
                         const std::function<void()>& inChild = {});

// RunProcess for program with arguments given as one text of blank-separated words (no
// quoting: for arguments without blanks).
ProcessResult RunWords(const std::string& program, const std::string& arguments,
                       const std::filesystem::path& cwd);

// Every entry under root (relative path -> type, permissions, size and a hash of the
// contents), so that two pictures differ when anything under root was written.
using TreePicture = std::map<std::string, std::string>;
TreePicture PictureOf(const std::filesystem::path& root);

// True for a name the program writes coefficients under (crossover/Bands.h).
bool IsCoefficientName(const std::string& name);

// What is wrong in a project directory after a run: a temporary file left (of the
// coefficient writer or of the settings store), or a file under a coefficient name that is
// neither byte for byte the file a clean run writes (expected) nor the one that was there
// before (kept). Empty when everything is in order.
std::vector<std::string>
BrokenFiles(const std::filesystem::path& dir,
            const std::map<std::string, std::vector<unsigned char>>& expected,
            const std::map<std::string, std::vector<unsigned char>>& kept = {});

// Resident set size of this process [bytes] and the number of its open file descriptors.
long ResidentBytes();
int OpenDescriptors();

} // namespace tarn::test
