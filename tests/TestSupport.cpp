#include "tests/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <unistd.h>

#include "crossover/Tarndef.h"
#include "project/BandJobs.h"

namespace tarn::test {

namespace fs = std::filesystem;

CalculationThreadsFor::CalculationThreadsFor(int threads) {
    SetCalculationThreads(threads);
}

CalculationThreadsFor::~CalculationThreadsFor() {
    SetCalculationThreads(0);
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    for (int attempt = 0;; ++attempt) {
        path_ = fs::temp_directory_path() /
                ("tarn-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        if (fs::create_directory(path_)) break;
        if (attempt > 1000) throw std::runtime_error("no temporary directory");
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Tests may leave read-only files or directories behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

std::string TempDir::Prefix() const {
    return path_.string() + PathSeparator;
}

std::vector<unsigned char> ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<double> ReadDoubles(const fs::path& file) {
    const auto bytes = ReadBytes(file);
    std::vector<double> values(bytes.size() / sizeof(double));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(double));
    return values;
}

std::vector<float> ReadFloats(const fs::path& file) {
    const auto bytes = ReadBytes(file);
    std::vector<float> values(bytes.size() / sizeof(float));
    std::memcpy(values.data(), bytes.data(), values.size() * sizeof(float));
    return values;
}

std::string ReadText(const fs::path& file) {
    const auto bytes = ReadBytes(file);
    return {bytes.begin(), bytes.end()};
}

void WriteText(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + file.string());
}

std::vector<std::string> FileNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::map<std::string, std::vector<unsigned char>> Contents(const fs::path& dir) {
    std::map<std::string, std::vector<unsigned char>> files;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.is_regular_file())
            files[entry.path().filename().string()] = ReadBytes(entry.path());
    return files;
}

} // namespace tarn::test
