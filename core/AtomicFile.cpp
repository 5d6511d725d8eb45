#include "core/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <random>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarn {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view TempPrefix = ".tarn-";
constexpr std::string_view TempSuffix = ".tmp";
constexpr std::size_t TagLength = 12;

// The journal of a commit under way, and its first line.
constexpr const char* JournalName = ".tarn-commit";
constexpr std::string_view JournalHeader = "tarn commit 1\n";

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

// What stands under the target's name, seen through a symbolic link: a directory, or a
// file the user protects, cannot be replaced.
int ReplaceProblem(int directory, const std::string& name) {
    struct stat st {};
    if (::fstatat(directory, name.c_str(), &st, 0) != 0) return 0;
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (S_ISREG(st.st_mode) &&
        IsReadOnly(
            fs::file_status(fs::file_type::regular, static_cast<fs::perms>(st.st_mode & 07777))))
        return EACCES;
    return 0;
}

// Whether a rename may replace what stands under the name: in a directory with the sticky
// bit, only the file's owner, the directory's owner and root may.
bool Replaceable(int directory, const std::string& name) {
    struct stat dir {
    }, target{};
    if (::fstat(directory, &dir) != 0 || !(dir.st_mode & S_ISVTX)) return true;
    if (::fstatat(directory, name.c_str(), &target, AT_SYMLINK_NOFOLLOW) != 0) return true;
    const uid_t me = ::geteuid();
    return me == 0 || me == dir.st_uid || me == target.st_uid;
}

// A plain file this process may write, which a write in place can overwrite.
bool WritableInPlace(int directory, const std::string& name) {
    struct stat st {};
    return ::fstatat(directory, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISREG(st.st_mode) && ::faccessat(directory, name.c_str(), W_OK, AT_EACCESS) == 0;
}

// Writes all of data to fd, carrying on after partial writes and interruptions; the
// system's error number, or 0 for a write that made no progress, or -1 for success.
int WriteAll(int fd, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return n < 0 ? errno : 0;
    }
    return -1;
}

// fdatasync, retried when interrupted; the system's error number, or 0.
int SyncData(int fd) {
    int synced;
    do
        synced = ::fdatasync(fd);
    while (synced != 0 && errno == EINTR);
    return synced == 0 ? 0 : errno;
}

// close; after EINTR the descriptor is closed all the same (Linux): not a failure.
int CloseFile(int fd) {
    return ::close(fd) != 0 && errno != EINTR ? errno : 0;
}

// The whole of a small file in the directory, or nothing.
std::optional<std::string> ReadSmall(int directory, const char* name) {
    const int fd = ::openat(directory, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || text.size() > (1 << 20)) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

} // namespace

AtomicFileError::AtomicFileError(FileStep step, int error, std::string file)
    : std::runtime_error(std::string("cannot ") + StepName(step) + " " + file + ": " +
                         (error ? std::strerror(error) : "no progress")),
      step_(step), error_(error), file_(std::move(file)) {}

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

// ---------------------------------------------------------------------------------------
// Directory

Directory::Directory(fs::path path) : path_(std::move(path)) {
    const std::string name = path_.empty() ? std::string(".") : path_.string();
    do
        fd_ = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0 && errno == EACCES) {
        // A directory one may enter and write but not list: enough for every file operation,
        // not for a lock.
        fd_ = ::open(name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        readable_ = false;
    }
    if (fd_ < 0) throw AtomicFileError(FileStep::Open, errno);
}

Directory::~Directory() {
    ::close(fd_);
}

Directory::Lock Directory::TryLock() {
    if (!readable_) return Lock::Unsupported;
    int locked;
    do
        locked = ::flock(fd_, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) return Lock::Held;
    return errno == EWOULDBLOCK ? Lock::Busy : Lock::Unsupported;
}

void Directory::Sync() const {
    if (readable_) ::fsync(fd_);
}

// ---------------------------------------------------------------------------------------
// AtomicFile

AtomicFile::AtomicFile(const fs::path& target)
    : targetPath_(target), name_(target.filename().string()) {}

AtomicFile::AtomicFile(std::shared_ptr<Directory> directory, std::string name)
    : directory_(std::move(directory)), name_(std::move(name)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

AtomicFile::AtomicFile(AtomicFile&& other) noexcept
    : directory_(std::move(other.directory_)), targetPath_(std::move(other.targetPath_)),
      name_(std::move(other.name_)), temporary_(std::exchange(other.temporary_, {})),
      unsynced_(std::exchange(other.unsynced_, false)), inPlace_(std::move(other.inPlace_)),
      writtenInPlace_(std::exchange(other.writtenInPlace_, false)) {}

fs::path AtomicFile::Target() const {
    return (directory_ ? directory_->Path() : targetPath_.parent_path()) / name_;
}

void AtomicFile::OpenDirectory() {
    if (directory_) return;
    try {
        directory_ = std::make_shared<Directory>(targetPath_.parent_path());
    } catch (const AtomicFileError& e) {
        throw AtomicFileError(e.Step(), e.Error(), name_);
    }
}

void AtomicFile::Discard() noexcept {
    unsynced_ = false;
    if (!temporary_.empty() && directory_)
        ::unlinkat(directory_->Descriptor(), temporary_.c_str(), 0);
    temporary_.clear();
    inPlace_.clear();
    writtenInPlace_ = false;
}

void AtomicFile::Write(const void* data, std::size_t size, const AtomicFileOptions& options) {
    Discard();
    OpenDirectory();
    const int dir = directory_->Descriptor();
    auto fail = [&](FileStep step, int error, int fd) {
        if (fd >= 0) ::close(fd);
        Discard();
        throw AtomicFileError(step, error, name_);
    };
    if (const int problem = ReplaceProblem(dir, name_)) fail(FileStep::Create, problem, -1);

    auto keepForInPlace = [&] {
        if (!options.inPlaceFallback || !WritableInPlace(dir, name_)) return false;
        const char* bytes = static_cast<const char*>(data);
        inPlace_.assign(bytes, bytes + size);
        writtenInPlace_ = true;
        return true;
    };
    if (!Replaceable(dir, name_)) {
        if (keepForInPlace()) return;
        fail(FileStep::Create, EPERM, -1);
    }

    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        const std::string temp = TemporaryName(name_);
        // Mode 0666 lets the umask decide, as for any new file.
        fd = ::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            temporary_ = temp;
        else if (errno != EEXIST && errno != EINTR)
            break;
    }
    if (fd < 0) {
        // A directory where this user may create nothing: a shared folder of another user.
        const int error = errno;
        if ((error == EACCES || error == EPERM) && keepForInPlace()) return;
        fail(FileStep::Create, error, -1);
    }

    if (const int error = WriteAll(fd, static_cast<const char*>(data), size); error >= 0)
        fail(FileStep::Write, error, fd);

    if (options.keepPermissions) {
        struct stat old {};
        if (::fstatat(dir, name_.c_str(), &old, 0) == 0) {
            if (::fchmod(fd, old.st_mode & 07777) != 0) fail(FileStep::Write, errno, fd);
            // Keeps the owner too where that is allowed (root editing a user's file); for
            // anybody else the new file is theirs, as any file they write.
            const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
            (void)ignored;
        }
    }
    // The disk starts on the data now; Sync then mostly waits for what is already under way,
    // and a caller that computes between Write and Sync does not wait at all. The file is
    // closed meanwhile, so that a run of many files holds one descriptor at a time.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
    if (const int error = CloseFile(fd)) fail(FileStep::Close, error, -1);
    unsynced_ = true;
}

void AtomicFile::Sync() {
    if (!unsynced_) return;
    // The data of a file is synced through any descriptor of it.
    const int fd = ::openat(directory_->Descriptor(), temporary_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        Discard();
        throw AtomicFileError(FileStep::Sync, error, name_);
    }
    const int error = SyncData(fd);
    ::close(fd);
    if (error) {
        Discard();
        throw AtomicFileError(FileStep::Sync, error, name_);
    }
    unsynced_ = false;
}

void AtomicFile::WriteInPlace() {
    const int fd = ::openat(directory_->Descriptor(), name_.c_str(),
                            O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) throw AtomicFileError(FileStep::Create, errno, name_);
    if (const int error = WriteAll(fd, inPlace_.data(), inPlace_.size()); error >= 0) {
        ::close(fd);
        throw AtomicFileError(FileStep::Write, error, name_);
    }
    if (const int error = SyncData(fd)) {
        ::close(fd);
        throw AtomicFileError(FileStep::Sync, error, name_);
    }
    if (const int error = CloseFile(fd)) throw AtomicFileError(FileStep::Close, error, name_);
}

int AtomicFile::Rename() noexcept {
    const int dir = directory_->Descriptor();
    int renamed;
    do
        renamed = ::renameat(dir, temporary_.c_str(), dir, name_.c_str());
    while (renamed != 0 && errno == EINTR);
    if (renamed != 0) return errno;
    temporary_.clear();
    return 0;
}

void AtomicFile::Commit() {
    if (writtenInPlace_) {
        WriteInPlace();
        Discard();
        return;
    }
    Sync();
    if (temporary_.empty()) throw AtomicFileError(FileStep::Rename, ENOENT, name_);
    if (const int error = Rename()) {
        Discard();
        throw AtomicFileError(FileStep::Rename, error, name_);
    }
}

void ReplaceFile(const fs::path& target, std::string_view bytes, const AtomicFileOptions& options) {
    AtomicFile file(target);
    file.Write(bytes.data(), bytes.size(), options);
    file.Commit();
}

// ---------------------------------------------------------------------------------------
// AtomicFileSet

AtomicFileSet::AtomicFileSet(std::shared_ptr<Directory> directory)
    : directory_(std::move(directory)) {}

AtomicFile& AtomicFileSet::Add(std::string name) {
    return files_.emplace_back(directory_, std::move(name));
}

void AtomicFileSet::Commit(const Tidy& tidy) {
    // All files are synced at once: the file system then commits its journal for several of
    // them together (on ext4 this halves the time the syncs of a five-way run take).
    {
        std::vector<std::exception_ptr> errors(files_.size());
        std::vector<std::jthread> syncs;
        for (std::size_t i = 0; i < files_.size(); ++i) {
            auto sync = [file = &files_[i], error = &errors[i]] {
                try {
                    file->Sync();
                } catch (...) {
                    *error = std::current_exception();
                }
            };
            try {
                syncs.emplace_back(sync);
            } catch (const std::system_error&) {
                sync(); // no thread to spare: in turn
            }
        }
        syncs.clear();
        for (const std::exception_ptr& error : errors)
            if (error) std::rethrow_exception(error);
    }
    std::vector<std::string> names;
    std::string journal(JournalHeader);
    bool renames = false;
    for (AtomicFile& file : files_) {
        names.push_back(file.Name());
        if (!file.TemporaryFile().empty()) {
            journal.append(file.TemporaryFile()).append("\t").append(file.Name()).append("\n");
            renames = true;
        }
    }
    // Written in place, the files cannot appear together anyway, and where nothing can be
    // created there is no room for a journal either.
    if (renames) {
        AtomicFile record(directory_, JournalName);
        record.Write(journal.data(), journal.size());
        record.Commit();
    }

    // From here on the journal stands for the new set. A failing first rename has changed
    // nothing yet and takes the journal back; after that, the files not yet renamed stay
    // where they are, for RecoverFileSet to finish.
    const int dir = directory_->Descriptor();
    bool first = true;
    for (AtomicFile& file : files_) {
        if (file.writtenInPlace_) {
            file.Commit();
        } else if (const int error = file.Rename()) {
            if (first) {
                ::unlinkat(dir, JournalName, 0);
            } else {
                for (AtomicFile& rest : files_)
                    rest.temporary_.clear();
            }
            throw AtomicFileError(FileStep::Rename, error, file.Name());
        }
        first = false;
    }
    tidy(names);
    if (renames) {
        directory_->Sync();
        ::unlinkat(dir, JournalName, 0);
    }
}

void RecoverFileSet(Directory& directory, const std::function<bool(std::string_view)>& owned,
                    const AtomicFileSet::Tidy& tidy) {
    const int dir = directory.Descriptor();
    if (const auto journal = ReadSmall(dir, JournalName)) {
        // Only what a commit writes is acted on: a pair of a temporary name and the name it
        // stands for, which must be one of ours.
        std::vector<std::pair<std::string, std::string>> renames;
        std::size_t at =
            journal->starts_with(JournalHeader) ? JournalHeader.size() : journal->size();
        while (at < journal->size()) {
            const std::size_t end = journal->find('\n', at);
            if (end == std::string::npos) break;
            const std::string line = journal->substr(at, end - at);
            at = end + 1;
            const std::size_t tab = line.find('\t');
            if (tab == std::string::npos) continue;
            std::string temp = line.substr(0, tab);
            std::string name = line.substr(tab + 1);
            if (TemporaryTarget(temp) == name && owned(name))
                renames.emplace_back(std::move(temp), std::move(name));
        }
        if (!renames.empty()) {
            std::vector<std::string> names;
            for (const auto& rename : renames)
                names.push_back(rename.second);
            for (const auto& [temp, name] : renames)
                ::renameat(dir, temp.c_str(), dir, name.c_str());
            tidy(names);
            directory.Sync();
        }
        ::unlinkat(dir, JournalName, 0);
    }

    std::error_code ec;
    for (fs::directory_iterator it(directory.Path(), ec), last; !ec && it != last;
         it.increment(ec)) {
        const std::string leaf = it->path().filename().string();
        const auto target = TemporaryTarget(leaf);
        if (target && (*target == JournalName || owned(*target))) ::unlinkat(dir, leaf.c_str(), 0);
    }
}

} // namespace tarn
