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

/// A file as it was when it was looked at: which file, how long, when last written or changed. A
/// file that is replaced, or written or changed in place, gets another stamp.
struct FileStamp {
    FileIdentity identity;
    std::int64_t length = 0;
    std::int64_t lastWrite = 0;  // in the system's own units
    std::int64_t lastChange = 0; // of the data or the file's attributes, where the system keeps it
    /// The permission bits (POSIX mode & 07777); 0 on Windows, which has none.
    std::uint32_t permissions = 0;

    friend bool operator==(const FileStamp& a, const FileStamp& b)
    {
        return a.identity == b.identity && a.length == b.length && a.lastWrite == b.lastWrite
               && a.lastChange == b.lastChange && a.permissions == b.permissions;
    }
};

/// Where a write keeps its bytes until they are complete.
enum class TemporaryFiles {
    /// A file without a name where the file system has them (Linux), so that a crash can never
    /// leave one behind; a hidden named file elsewhere, which Windows removes if the process dies.
    UnnamedWherePossible,
    /// Always a hidden named file, as on file systems without unnamed ones.
    Named,
};

/// How a read or a copy notices another program writing the file.
enum class ChangeWatch {
    /// Where the system can tell (a read lease on Linux, sharing modes on Windows): a file that another
    /// program has open for writing is in use, and one that a program opens for writing meanwhile has
    /// changed. Elsewhere as ReadTwice.
    WherePossible,
    /// What was read or copied is read again and compared, as where the system cannot tell.
    ReadTwice,
};

/// The single slot through which every file is read or written: one file open for reading, or one
/// write in the making.
///
/// Reading: the file is opened for reading only, and a file that another program changes while it
/// is read (even at the same length, even through a memory mapping that leaves its times as they
/// were) is an error rather than a mix of old and new bytes: readAt() and then confirmUnchanged().
///
/// Writing never touches the file of the given name until the data is complete. The new file is a
/// temporary file in the same folder, which starts empty or as a copy of another file that the file
/// system makes itself (sharing the blocks where it can, so that only what is then written takes
/// room of its own); commit() makes it durable and then puts it in place under its name in one
/// step, so a reader, a crash or a full disk sees either the old file whole or the new file whole.
/// Only the file the caller looked at and expects under the name is ever replaced: whatever else
/// is there, or appears there meanwhile, stays. A hidden temporary file that a killed process left
/// behind is removed by the next write into that folder, unless another running process is still
/// writing it. An existing file that is write-protected, or that its user may not write, is never
/// replaced.
///
/// Paths are UTF-8 texts. Every failure is an Error that names the file and the cause. The file
/// size limit of the process is reported as such an error, never as a signal that ends it.
///
/// Opening, copying and confirming are virtual so that tests can change a file at the moments
/// another program might.
class FileSlot {
public:
    explicit FileSlot(TemporaryFiles temporaryFiles = TemporaryFiles::UnnamedWherePossible,
                      ChangeWatch changeWatch = ChangeWatch::WherePossible);
    virtual ~FileSlot();
    FileSlot(const FileSlot&) = delete;
    FileSlot& operator=(const FileSlot&) = delete;

    [[nodiscard]] bool isOpen() const;

    /// Opens a regular file for binary reading. A special file such as a FIFO is refused rather
    /// than waited on, and one that another program has open for writing, where the system tells,
    /// as in use.
    virtual void openForReading(const std::string& path);
    /// The length in bytes of the file open for reading.
    [[nodiscard]] std::int64_t length() const;
    /// Whether the system tells of every program that writes the file open for reading, so that
    /// it is read only once; where it cannot (no lease granted, a network or FUSE file system,
    /// ChangeWatch::ReadTwice), confirmUnchanged() reads it again.
    [[nodiscard]] bool watched() const;
    /// The file open for reading as it was when it was opened.
    [[nodiscard]] FileStamp stamp() const;
    /// Fills `buffer` from the bytes at `offset`, which the file must hold: of the file open for
    /// reading, or of the new file of a write.
    void readAt(std::int64_t offset, std::span<std::uint8_t> buffer);
    /// After the reads of a file open for reading, or the copy that starts a write: fails when what
    /// was read or copied is not, or may not be, the file as it was when it was opened, because
    /// another program wrote it meanwhile. Where the system cannot tell, the file is read again
    /// and compared. A write's copy is then final, whatever becomes of its source.
    virtual void confirmUnchanged();

    /// Prepares a write to `path`. `replacing` is the file the caller expects under that name, as
    /// looked at through this slot (stamp()), or nothing when it expects none: anything else there,
    /// now or when the write is committed, is an error and stays as it is. Fails at once when `path`
    /// names a folder or a special file, or the file to replace is write-protected or its user may
    /// not write it. A new file gets `permissions` less the process's umask (POSIX).
    void openForWriting(const std::string& path, const std::optional<FileStamp>& replacing,
                        std::uint32_t permissions = 0666);
    /// Makes the new file a copy of the file at `source`, which must still be the file `expected`
    /// describes (as stamp() gave it when it was read); confirmUnchanged() then says whether the
    /// copy is the file as it was. Where the file system shares blocks the copy is a clone;
    /// copyMade() says which.
    virtual void copyFrom(const std::string& source, const FileStamp& expected);
    /// What copyFrom() made of the new file.
    enum class CopyMade {
        Shared,  ///< a clone, sharing every block with the source until it is written
        Whole,   ///< a copy of every byte, of its own
        Nothing, ///< an empty file, to be written whole: the clone was dropped
    };
    [[nodiscard]] CopyMade copyMade() const;
    /// Replaces a clone by an empty new file, to be written whole from the source read through
    /// readAt(), which fails once a writer comes, where the source may still be read (no writer
    /// has come since the clone); false, keeping the clone, where it may not.
    bool dropCopy();
    /// Writes `data` at `offset` of the new file (after a copy, once it is confirmed).
    void writeAt(std::int64_t offset, std::span<const std::uint8_t> data);
    /// Says that the new file's bytes before `end` are final, so that the system may start writing
    /// them to the disk while the rest is worked on.
    void finishedUpTo(std::int64_t end);
    /// Says that the new file is written: the source, and its lease, are let go, so that a write
    /// that waits for its commit holds up no program that wants to write the source. What is not
    /// yet on its way to the disk is left to sync(): started here, the write-back of a clone's
    /// scattered changes would take the caller's time, where a sync on another thread overlaps it.
    void finishWriting();
    /// Makes the new file durable, not yet under its name: the first step of commit(), taken on
    /// its own where several writes are committed together, so that the journal makes all their
    /// data durable in one go rather than in one commit each.
    void sync();
    /// Puts the durable new file in place under the name given to openForWriting, replacing the
    /// file expected there whole, and only that: the second step of commit(), taken on its own
    /// where several writes are committed together, so that their folder's sync, which commit()
    /// then does, records all their names in one go.
    void name();
    /// Makes the new file durable and puts it in place under the name given to openForWriting,
    /// replacing the file expected there whole, and only that, each step where sync() and name()
    /// have not yet taken it; then syncs the folder, so that the name survives a power cut, and
    /// closes the slot. Returns the identity of the file now under the name.
    FileIdentity commit();

    /// Closes the slot; an uncommitted write is abandoned and its temporary file removed. Does
    /// nothing when nothing is open.
    void close() noexcept;

    /// What the slot holds open, and what a write needs until commit().
    struct State;

private:
    std::unique_ptr<State> state_;
};

} // namespace tarnis
