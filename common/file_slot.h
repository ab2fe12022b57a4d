#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace tarnis {

/// The length of the file at `path`, measured by name before it is opened. Fails with an Error
/// for a missing file, a folder or anything else that is not a regular file.
[[nodiscard]] std::int64_t fileLengthByName(const std::string& path);

/// The single slot through which every file is read or written: at most one file is open in it.
///
/// A write never touches the file of the given name until it is complete. The bytes go to a
/// temporary file in the same folder; commit() syncs it to disk and renames it over the name, so a
/// reader, a crash or a full disk sees either the old file whole or the new file whole. close()
/// without commit() abandons the write and removes the temporary file.
///
/// Paths are UTF-8 texts. Every failure is an Error whose description names the file and cause.
///
/// Reading is virtual so that tests can change a file at the moments another program might.
class FileSlot {
public:
    FileSlot() = default;
    virtual ~FileSlot();
    FileSlot(const FileSlot&) = delete;
    FileSlot& operator=(const FileSlot&) = delete;

    [[nodiscard]] bool isOpen() const { return descriptor_ >= 0; }

    /// Opens a regular file for binary reading. A special file such as a FIFO is refused rather
    /// than waited on.
    virtual void openForReading(const std::string& path);
    /// The length in bytes of the file open for reading.
    [[nodiscard]] std::int64_t length() const;
    /// Fills `buffer` from the file's first byte. A file that turns out longer or shorter than the
    /// buffer, because another program changed it meanwhile, is an error.
    virtual void readAll(std::span<std::uint8_t> buffer);

    /// Prepares a write that will replace `path` (or create it). Fails at once when `path` names a
    /// folder or a special file.
    void openForWriting(const std::string& path);
    /// Writes `data` from the file's first byte.
    void writeAll(std::span<const std::uint8_t> data);
    /// Makes the written data durable and puts it in place under the name given to openForWriting,
    /// replacing an existing file of that name whole; then closes the slot.
    void commit();

    /// Closes the slot; an uncommitted write is abandoned. Does nothing when nothing is open.
    void close() noexcept;

private:
    enum class Mode { Closed, Reading, Writing };

    [[noreturn]] void fail(int errorNumber);

    int descriptor_ = -1;
    Mode mode_ = Mode::Closed;
    std::string path_;          // the name the user knows, as shown in errors
    std::string temporaryPath_; // where a write goes until commit()
};

} // namespace tarnis
