// Files that appear under their name only once complete. The bytes go to a hidden
// temporary file beside the target (so the rename never crosses a file system), reach the
// disk (fdatasync), and the temporary file is then renamed over the target: a reader, or
// the disk after a power cut, sees the old file or the new one, never a part. Coefficient
// files and settings files are both written this way; each maps a failure to its own error.
// The names are used relative to the open directory, so a temporary name, longer than the
// target's, fits wherever the target's path does.
#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

// The step at which a write failed.
enum class FileStep { Open, Create, Write, Sync, Close, Rename };

// A failed step with the system's error number; error 0 means that a write made no
// progress at all (a full disk that did not say so). File: the name of the target.
class AtomicFileError : public std::runtime_error {
  public:
    AtomicFileError(FileStep step, int error, std::string file = {});
    FileStep Step() const { return step_; }
    int Error() const { return error_; }
    const std::string& File() const { return file_; }

  private:
    FileStep step_;
    int error_;
    std::string file_;
};

// A file marked read-only: no write permission for anybody. The user protects such a file,
// as with the read-only attribute on Windows: it is neither replaced nor deleted. Checked
// by hand, because neither root, nor a rename over it, nor unlinking it is stopped by the bits.
bool IsReadOnly(const std::filesystem::file_status& status);

// The hidden name a file called `name` is written under until complete:
// ".tarn-<name>-<12 hex digits>.tmp".
std::string TemporaryName(std::string_view name);
// The name a temporary file stands in for; nothing for a name that is not a temporary one.
std::optional<std::string> TemporaryTarget(std::string_view leaf);

// An open directory: the files of one write are created, renamed and removed relative to
// it, so they all land in the directory that was opened, even if its path is replaced.
class Directory {
  public:
    // Throws AtomicFileError (step Open) when the directory cannot be opened.
    explicit Directory(std::filesystem::path path);
    ~Directory();
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    int Descriptor() const { return fd_; }

    // An advisory lock on the directory, held until the object goes (or the process ends,
    // however it ends). Busy: another process holds it; Unsupported: the file system
    // offers none here (the caller goes on without).
    enum class Lock { Held, Busy, Unsupported };
    Lock TryLock();

    // Makes the renames done in the directory durable.
    void Sync() const;

  private:
    std::filesystem::path path_;
    int fd_ = -1;
    bool readable_ = true; // opened for reading (a lock needs it), not only as a path
};

struct AtomicFileOptions {
    // The new file takes over the permission bits (and, where allowed, the owner) of the
    // file it replaces; otherwise it gets those of any new file (0666 less the umask).
    bool keepPermissions = false;
    // Where the directory lets nobody create a file but the target itself is writable (a
    // shared folder owned by another user), the data is kept and written over the target in
    // place by Commit, rather than failing.
    bool inPlaceFallback = false;
};

// One file written beside its target and renamed over it. Nothing touches the disk before
// Write; a temporary file that was never committed is removed when the object goes.
class AtomicFile {
  public:
    explicit AtomicFile(const std::filesystem::path& target);
    AtomicFile(std::shared_ptr<Directory> directory, std::string name);
    ~AtomicFile();
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Refuses a target that is a directory (EISDIR) or read-only (EACCES), both seen through
    // a symbolic link, or one a rename may not replace (EPERM: another user's file in a
    // directory with the sticky bit); then creates the temporary file, writes all of data
    // into it (partial writes and interruptions are carried on), starts it on its way to
    // the disk and closes it. On failure the temporary file is gone and AtomicFileError
    // says where it failed.
    void Write(const void* data, std::size_t size, const AtomicFileOptions& options = {});
    // Waits until the written data is on the disk (fdatasync) and closes the file. Throws
    // AtomicFileError, the temporary file then removed. Done by Commit when not done before.
    void Sync();
    // Renames the written file over the target; a symbolic link there is replaced, not
    // followed. Throws AtomicFileError (the temporary file is then removed).
    void Commit();

    const std::string& Name() const { return name_; }
    // The temporary file's name; empty when there is none (before Write, after Commit, or
    // for a write in place).
    const std::string& TemporaryFile() const { return temporary_; }
    std::filesystem::path Target() const;

  private:
    friend class AtomicFileSet;
    void OpenDirectory();
    void Discard() noexcept;
    void WriteInPlace();
    // Renames the temporary file over the target; the system's error number, or 0.
    int Rename() noexcept;

    std::shared_ptr<Directory> directory_;
    std::filesystem::path targetPath_; // for the constructor that opens the directory itself
    std::string name_;                 // the target's last component
    std::string temporary_;            // the temporary file's name; empty while none exists
    bool unsynced_ = false;            // written, not yet known to be on the disk
    std::vector<char> inPlace_;        // the data of a write in place, until Commit
    bool writtenInPlace_ = false;
};

// Write and Commit in one.
void ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 const AtomicFileOptions& options = {});

// Several files of one directory that are to appear together. All are written first; Commit
// then renames them into place one after another. While it does, a journal beside them
// names the renames, so that a process killed among them leaves a commit that
// RecoverFileSet completes: the directory then holds the old set or the new one.
class AtomicFileSet {
  public:
    // What else belongs to a commit: called with the names of the set while its journal
    // stands, after the renames (to remove files of an earlier set that this one has not).
    using Tidy = std::function<void(const std::vector<std::string>& names)>;

    explicit AtomicFileSet(std::shared_ptr<Directory> directory);
    // A new file of the set, to be written before Commit.
    AtomicFile& Add(std::string name);
    // Syncs every file, then renames them into place in the order they were added, and
    // then calls tidy. Throws AtomicFileError: a failure before the second rename changes
    // nothing (the files are removed with the set); after it, the journal and the files not
    // yet renamed stay for RecoverFileSet.
    void Commit(const Tidy& tidy);

  private:
    std::shared_ptr<Directory> directory_;
    std::deque<AtomicFile> files_;
};

// Completes a commit that a killed process left (by its journal), then removes the
// temporary files of dead writers whose target `owned` accepts. Call it only while holding
// the directory's lock, so that no living writer's files are touched.
void RecoverFileSet(Directory& directory, const std::function<bool(std::string_view)>& owned,
                    const AtomicFileSet::Tidy& tidy);

} // namespace tarn
