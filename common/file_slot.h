#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tarnis {

/// The length of the file at `path`, measured by name before it is opened. Fails with an Error
/// for a missing file, a folder or anything else that is not a regular file.
[[nodiscard]] std::int64_t fileLengthByName(const std::string& path);

/// What tells one file from another whatever names lead to it: on a file system that ignores
/// letter case, "M31_R.fit" and "m31_r.FIT" are one file.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t file = 0;
    // Spelt out rather than defaulted with <=>: Qt's moc, which reads this header through the
    // window's, cannot parse <compare>.
    friend bool operator==(const FileIdentity& a, const FileIdentity& b)
    {
        return a.volume == b.volume && a.file == b.file;
    }
    friend bool operator<(const FileIdentity& a, const FileIdentity& b)
    {
        return a.volume < b.volume || (a.volume == b.volume && a.file < b.file);
    }
};

/// The identity of the file at `path`, or nothing when no file can be found there.
[[nodiscard]] std::optional<FileIdentity> fileIdentityByName(const std::string& path);

/// Where a write keeps its bytes until they are complete.
enum class TemporaryFiles {
    /// A file without a name where the file system has them (Linux), so that a crash can never
    /// leave one behind; a hidden named file elsewhere.
    UnnamedWherePossible,
    /// Always a hidden named file, as on file systems without unnamed ones.
    Named,
};

/// The single slot through which every file is read or written: at most one file is open in it.
///
/// Reading: the file is opened for reading only, and a file that another program changes while it
/// is read (even at the same length) is an error rather than a mix of old and new bytes.
///
/// Writing never touches the file of the given name until the data is complete. The bytes go to a
/// temporary file in the same folder; commit() makes them durable and then puts the file in place
/// under its name in one step, so a reader, a crash or a full disk sees either the old file whole
/// or the new file whole. A hidden temporary file that a killed process left behind is removed by
/// the next write into that folder, unless another running process is still writing it. An
/// existing file that its user may not write is never replaced.
///
/// Paths are UTF-8 texts. Every failure is an Error that names the file and the cause. The file
/// size limit of the process is reported as such an error, never as a signal that ends it.
///
/// Reading is virtual so that tests can change a file at the moments another program might.
class FileSlot {
public:
    explicit FileSlot(TemporaryFiles temporaryFiles = TemporaryFiles::UnnamedWherePossible);
    virtual ~FileSlot();
    FileSlot(const FileSlot&) = delete;
    FileSlot& operator=(const FileSlot&) = delete;

    [[nodiscard]] bool isOpen() const;

    /// Opens a regular file for binary reading. A special file such as a FIFO is refused rather
    /// than waited on.
    virtual void openForReading(const std::string& path);
    /// The length in bytes of the file open for reading.
    [[nodiscard]] std::int64_t length() const;
    /// Fills `buffer` from the file's first byte. A file that turns out longer or shorter than the
    /// buffer, or that another program changed in any way since it was opened, is an error.
    virtual void readAll(std::span<std::uint8_t> buffer);

    /// Prepares a write that will replace `path` (or create it). Fails at once when `path` names a
    /// folder, a special file or a file its user may not write.
    void openForWriting(const std::string& path);
    /// Writes `data` from the file's first byte.
    void writeAll(std::span<const std::uint8_t> data);
    /// Makes the written data durable and puts it in place under the name given to openForWriting,
    /// replacing an existing file of that name whole; then closes the slot.
    void commit();

    /// Closes the slot; an uncommitted write is abandoned and its temporary file removed. Does
    /// nothing when nothing is open.
    void close() noexcept;

    /// The platform's half of the slot: the open file and what the write needs until commit().
    struct Native;

private:
    std::unique_ptr<Native> native_;
};

} // namespace tarnis
