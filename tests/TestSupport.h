// Small helpers shared by the tests: a scratch directory and whole-file reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarn::test {

// A fresh, empty directory under the system's temporary directory, removed again with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    // The directory as a project path prefix, ending in the separator.
    std::string Prefix() const;

  private:
    std::filesystem::path path_;
};

// While it lives, runs compute their bands on `threads` threads. The tests that act at the
// n-th pump or the n-th staged file need the order of events of a one-thread run.
class CalculationThreadsFor {
  public:
    explicit CalculationThreadsFor(int threads);
    ~CalculationThreadsFor();
    CalculationThreadsFor(const CalculationThreadsFor&) = delete;
    CalculationThreadsFor& operator=(const CalculationThreadsFor&) = delete;
};

std::vector<unsigned char> ReadBytes(const std::filesystem::path& file);
std::vector<double> ReadDoubles(const std::filesystem::path& file);
std::vector<float> ReadFloats(const std::filesystem::path& file);
std::string ReadText(const std::filesystem::path& file);
void WriteText(const std::filesystem::path& file, const std::string& text);

// Names of the regular files directly in dir, sorted.
std::vector<std::string> FileNames(const std::filesystem::path& dir);

// The regular files directly in dir (hidden ones too) with their contents, by name.
std::map<std::string, std::vector<unsigned char>> Contents(const std::filesystem::path& dir);

} // namespace tarn::test
