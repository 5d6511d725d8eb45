#include "tests/HardenSupport.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "crossover/Bands.h"
#include "tests/TestSupport.h"

namespace tarn::test {

namespace fs = std::filesystem;

namespace {

std::string Slurp(int fd) {
    std::string text;
    char buffer[4096];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    return text;
}

int Scratch() {
    std::string pattern = (fs::temp_directory_path() / "tarn-output-XXXXXX").string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) throw std::runtime_error("no scratch file");
    ::unlink(pattern.c_str());
    return fd;
}

// FNV-1a: enough to tell whether a file's bytes changed.
std::uint64_t Hash(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::uint64_t h = 1469598103934665603ull;
    for (std::istreambuf_iterator<char> it(in), end; it != end; ++it)
        h = (h ^ static_cast<unsigned char>(*it)) * 1099511628211ull;
    return h;
}

} // namespace

Child::Child(const std::vector<std::string>& argv, const fs::path& cwd,
             const std::vector<std::string>& environment, const std::function<void()>& inChild)
    : out_(Scratch()), err_(Scratch()) {
    std::fflush(nullptr);
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::dup2(out_, 1);
        ::dup2(err_, 2);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        for (const auto& entry : environment)
            ::putenv(const_cast<char*>(entry.c_str()));
        std::signal(SIGXFSZ, SIG_DFL);
        if (inChild) inChild();
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
}

Child::~Child() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        Wait();
    }
    ::close(out_);
    ::close(err_);
}

void Child::Signal(int signal) const {
    if (pid_ > 0) ::kill(pid_, signal);
}

ProcessResult Child::Wait() {
    ProcessResult r;
    if (pid_ <= 0) return r;
    int raw = 0;
    while (::waitpid(pid_, &raw, 0) < 0) {
    }
    pid_ = -1;
    if (WIFEXITED(raw)) r.status = WEXITSTATUS(raw);
    if (WIFSIGNALED(raw)) r.signal = WTERMSIG(raw);
    r.out = Slurp(out_);
    r.err = Slurp(err_);
    return r;
}

ProcessResult RunProcess(const std::vector<std::string>& argv, const fs::path& cwd,
                         const std::vector<std::string>& environment,
                         const std::function<void()>& inChild) {
    return Child(argv, cwd, environment, inChild).Wait();
}

ProcessResult RunWords(const std::string& program, const std::string& arguments,
                       const fs::path& cwd) {
    std::vector<std::string> argv{program};
    std::istringstream words(arguments);
    for (std::string word; words >> word;)
        argv.push_back(word);
    return RunProcess(argv, cwd);
}

TreePicture PictureOf(const fs::path& root) {
    TreePicture picture;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const auto status = it->symlink_status();
        std::string what = std::to_string(static_cast<int>(status.type()));
        what += ' ';
        what += std::to_string(static_cast<int>(status.permissions()));
        if (fs::is_regular_file(status)) {
            what += ' ';
            what += std::to_string(fs::file_size(it->path()));
            what += ' ';
            what += std::to_string(Hash(it->path()));
        }
        picture[fs::relative(it->path(), root).string()] = what;
    }
    return picture;
}

bool IsCoefficientName(const std::string& name) {
    return IsCoefficientFileName(name);
}

std::vector<std::string>
BrokenFiles(const fs::path& dir, const std::map<std::string, std::vector<unsigned char>>& expected,
            const std::map<std::string, std::vector<unsigned char>>& kept) {
    std::vector<std::string> problems;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.ends_with(".tmp") || name.starts_with(".tarn-")) {
            problems.push_back("temporary file left: " + name);
            continue;
        }
        if (!IsCoefficientName(name)) continue;
        if (!entry.is_regular_file()) {
            if (!kept.count(name)) problems.push_back("not a file: " + name);
            continue;
        }
        const auto bytes = ReadBytes(entry.path());
        const auto e = expected.find(name);
        const auto k = kept.find(name);
        if (e != expected.end() && bytes == e->second) continue;
        if (k != kept.end() && bytes == k->second) continue;
        problems.push_back("broken file: " + name + " (" + std::to_string(bytes.size()) +
                           " bytes)");
    }
    return problems;
}

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

int OpenDescriptors() {
    int n = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++n;
    }
    return n;
}

} // namespace tarn::test
