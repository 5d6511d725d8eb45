#include "core/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view TempPrefix = ".tarn-";
constexpr std::string_view TempSuffix = ".tmp";
constexpr std::size_t TagLength = 12;

const char* StepName(FileStep step) {
    switch (step) {
    case FileStep::Open:
        return "open the directory";
    case FileStep::Create:
        return "create";
    case FileStep::Write:
        return "write";
    case FileStep::Sync:
        return "sync";
    case FileStep::Close:
        return "close";
    case FileStep::Rename:
        return "rename";
    }
    return "?";
}

int OpenDirectory(const fs::path& target) {
    const fs::path parent = target.parent_path();
    const std::string dir = parent.empty() ? std::string(".") : parent.string();
    int fd;
    do
        fd = ::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    return fd;
}

// What stands under the target's name, seen through a symbolic link: a directory, or a
// file the user protects, cannot be replaced.
int ReplaceProblem(int directory, const std::string& name) {
    struct stat st {};
    if (::fstatat(directory, name.c_str(), &st, 0) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISREG(st.st_mode) && (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return EACCES;
    return 0;
}

} // namespace

AtomicFileError::AtomicFileError(FileStep step, int error)
    : std::runtime_error(std::string("cannot ") + StepName(step) + ": " +
                         (error ? std::strerror(error) : "no progress")),
      step_(step), error_(error) {}

bool IsReadOnly(const fs::file_status& status) {
    const auto writeBits =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    return (status.permissions() & writeBits) == fs::perms::none;
}

std::string TemporaryName(std::string_view name) {
    static std::mt19937_64 random{std::random_device{}()};
    static constexpr char hex[] = "0123456789abcdef";
    std::string tag(TagLength, '0');
    auto bits = random();
    for (char& c : tag) {
        c = hex[bits & 15];
        bits >>= 4;
    }
    std::string temp(TempPrefix);
    temp.append(name).append("-").append(tag).append(TempSuffix);
    return temp;
}

std::optional<std::string> TemporaryTarget(std::string_view leaf) {
    const std::size_t fixed = TempPrefix.size() + 1 + TagLength + TempSuffix.size();
    if (leaf.size() <= fixed || !leaf.starts_with(TempPrefix) || !leaf.ends_with(TempSuffix))
        return std::nullopt;
    const std::string_view tag =
        leaf.substr(leaf.size() - TempSuffix.size() - TagLength, TagLength);
    if (leaf[leaf.size() - TempSuffix.size() - TagLength - 1] != '-') return std::nullopt;
    for (const char c : tag)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return std::nullopt;
    return std::string(leaf.substr(TempPrefix.size(), leaf.size() - fixed));
}

AtomicFile::AtomicFile(fs::path target)
    : target_(std::move(target)), name_(target_.filename().string()) {}

AtomicFile::~AtomicFile() {
    Discard();
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : target_(std::move(other.target_)), name_(std::move(other.name_)),
      temporary_(std::exchange(other.temporary_, {})),
      directory_(std::exchange(other.directory_, -1)), file_(std::exchange(other.file_, -1)) {}

void AtomicFile::Discard() noexcept {
    if (file_ >= 0) ::close(std::exchange(file_, -1));
    if (directory_ < 0) return;
    if (!temporary_.empty()) ::unlinkat(directory_, temporary_.c_str(), 0);
    temporary_.clear();
    ::close(directory_);
    directory_ = -1;
}

void AtomicFile::Write(const void* data, std::size_t size, const AtomicFileOptions& options) {
    Discard();
    directory_ = OpenDirectory(target_);
    if (directory_ < 0) throw AtomicFileError(FileStep::Open, errno);
    auto fail = [&](FileStep step, int error, int fd) {
        if (fd >= 0) ::close(fd);
        Discard();
        throw AtomicFileError(step, error);
    };
    if (const int problem = ReplaceProblem(directory_, name_)) fail(FileStep::Create, problem, -1);

    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        const std::string temp = TemporaryName(name_);
        // Mode 0666 lets the umask decide, as for any new file.
        fd = ::openat(directory_, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            temporary_ = temp;
        else if (errno != EEXIST && errno != EINTR)
            break;
    }
    if (fd < 0) fail(FileStep::Create, errno, -1);

    const char* bytes = static_cast<const char*>(data);
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            fail(FileStep::Write, n < 0 ? errno : 0, fd);
    }

    if (options.keepPermissions) {
        struct stat old {};
        if (::fstatat(directory_, name_.c_str(), &old, 0) == 0) {
            if (::fchmod(fd, old.st_mode & 07777) != 0) fail(FileStep::Write, errno, fd);
            // Keeps the owner too where that is allowed (root editing a user's file); for
            // anybody else the new file is theirs, as any file they write.
            const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
    }

    // The disk starts on the data now; Sync then mostly waits for what is already under way,
    // and a caller that computes between Write and Sync does not wait at all.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    file_ = fd;
}

void AtomicFile::Sync() {
    if (file_ < 0) return;
    const int fd = std::exchange(file_, -1);
    int synced;
    do
        synced = ::fdatasync(fd);
    while (synced != 0 && errno == EINTR);
    if (synced != 0) {
        const int error = errno;
        ::close(fd);
        Discard();
        throw AtomicFileError(FileStep::Sync, error);
    }
    // After EINTR the descriptor is closed all the same (Linux): not a failure.
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        Discard();
        throw AtomicFileError(FileStep::Close, error);
    }
}

void AtomicFile::Commit() {
    Sync();
    if (temporary_.empty()) throw AtomicFileError(FileStep::Rename, ENOENT);
    int renamed;
    do
        renamed = ::renameat(directory_, temporary_.c_str(), directory_, name_.c_str());
    while (renamed != 0 && errno == EINTR);
    if (renamed != 0) {
        const int error = errno;
        Discard();
        throw AtomicFileError(FileStep::Rename, error);
    }
    temporary_.clear();
    Discard();
}

void ReplaceFile(const fs::path& target, std::string_view bytes, const AtomicFileOptions& options) {
    AtomicFile file(target);
    file.Write(bytes.data(), bytes.size(), options);
    file.Commit();
}

} // namespace tarn
