// Files that appear under their name only once complete. The bytes go to a hidden
// temporary file beside the target (so the rename never crosses a file system), reach the
// disk (fdatasync), and the temporary file is then renamed over the target: a reader, or
// the disk after a power cut, sees the old file or the new one, never a part. Coefficient
// files and settings files are both written this way; each maps a failure to its own error.
// The names are used relative to the open directory, so a temporary name, longer than the
// target's, fits wherever the target's path does.
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tarn {

// The step at which a write failed.
enum class FileStep { Open, Create, Write, Sync, Close, Rename };

// A failed step with the system's error number; error 0 means that a write made no
// progress at all (a full disk that did not say so).
class AtomicFileError : public std::runtime_error {
  public:
    AtomicFileError(FileStep step, int error);
    FileStep Step() const { return step_; }
    int Error() const { return error_; }

  private:
    FileStep step_;
    int error_;
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

struct AtomicFileOptions {
    // The new file takes over the permission bits (and, where allowed, the owner) of the
    // file it replaces; otherwise it gets those of any new file (0666 less the umask).
    bool keepPermissions = false;
};

// One file written beside its target and renamed over it. Nothing touches the disk before
// Write; a temporary file that was never committed is removed when the object goes.
class AtomicFile {
  public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(AtomicFile&& other) noexcept;
    AtomicFile& operator=(AtomicFile&&) = delete;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Refuses a target that is a directory (EISDIR) or read-only (EACCES), both seen through
    // a symbolic link; then creates the temporary file and writes all of data into it
    // (partial writes and interruptions are carried on). On failure the temporary file is
    // gone and AtomicFileError says where it failed.
    void Write(const void* data, std::size_t size, const AtomicFileOptions& options = {});
    // Waits until the written data is on the disk (fdatasync) and closes the file. Throws
    // AtomicFileError, the temporary file then removed. Done by Commit when not done before.
    void Sync();
    // Renames the written file over the target; a symbolic link there is replaced, not
    // followed. Throws AtomicFileError (the temporary file is then removed).
    void Commit();

    const std::filesystem::path& Target() const { return target_; }

  private:
    void Discard() noexcept;

    std::filesystem::path target_;
    std::string name_;      // the target's last component
    std::string temporary_; // the temporary file's name beside it; empty while none exists
    int directory_ = -1;    // the target's directory, open while a temporary file exists
    int file_ = -1;         // the temporary file, open from Write to Sync
};

// Write and Commit in one.
void ReplaceFile(const std::filesystem::path& target, std::string_view bytes,
                 const AtomicFileOptions& options = {});

} // namespace tarn
