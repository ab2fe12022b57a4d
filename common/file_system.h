#pragma once

// The file system as file slot 1 uses it: small calls, one half per platform (file_system_posix.cpp,
// file_system_win32.cpp). The slot's protocol over them, the same on every platform, is in
// file_slot.cpp. Only these three files include this.
//
// Each call throws the Error its failure means for the file the user knows (`who`), and returns
// what the protocol tells apart itself: a name that is free, a name that is taken, a file held for
// a moment.

#include "common/error.h"
#include "common/file_slot.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tarnis::detail {

/// The file a failure is reported for, and what was being done to it.
struct Subject {
    FileAction action;
    const std::string& path;
};

/// An open file or folder of the system (a descriptor on POSIX, a handle on Windows), closed with
/// its owner. Both systems spell "no file" as -1.
class SystemFile {
public:
    static constexpr std::intptr_t kNone = -1;
    SystemFile() = default;
    explicit SystemFile(std::intptr_t value) : value_(value) {}
    SystemFile(SystemFile&& other) noexcept : value_(std::exchange(other.value_, kNone)) {}
    SystemFile& operator=(SystemFile&& other) noexcept
    {
        reset(std::exchange(other.value_, kNone));
        return *this;
    }
    ~SystemFile() { reset(); }

    [[nodiscard]] std::intptr_t get() const { return value_; }
    [[nodiscard]] bool valid() const { return value_ != kNone; }
    void reset(std::intptr_t value = kNone) noexcept;

private:
    std::intptr_t value_ = kNone;
};

enum class FileKind { Regular, Folder, Other };

/// A file as the protocol needs to know it.
struct FileInfo {
    FileStamp stamp;
    FileKind kind = FileKind::Regular;
    /// Nobody may write it: no write permission for anyone (POSIX, so root too), or the read-only
    /// attribute (Windows).
    bool readOnly = false;
};

// Looking at files by name.

/// The file at `path`, following links; nothing where there is none (no file, or no folder on the
/// way to it).
[[nodiscard]] std::optional<FileInfo> lookAt(const std::string& path, const Subject& who);
/// Fails (WriteProtected, InUse, ...) unless the existing file at `path` may be replaced by its
/// user now: the user may write it, and on Windows, no other program has it open.
void checkMayReplace(const std::string& path, const Subject& who);

// Reading.

struct OpenedFile {
    SystemFile file;
    FileInfo info;
    /// The system tells of any other program writing the file from now on (a read lease on Linux,
    /// a handle that shares only reading on Windows). A file that another program has open for
    /// writing already is refused as in use instead.
    bool watched = false;
};
/// Opens `path` for reading only, watched where `watch` asks and the system can. A FIFO is not
/// waited on. Its info is read once the system's clock has moved past its last change, so that a
/// later write always changes its times.
[[nodiscard]] OpenedFile openToRead(const std::string& path, bool watch, const Subject& who);
/// How the open file is now.
[[nodiscard]] FileInfo statusOf(const SystemFile& file, const Subject& who);
/// Whether a program has opened the watched file for writing since it was opened.
[[nodiscard]] bool writerCameBy(const SystemFile& file);
/// Reads `buffer.size()` bytes at `offset`; returns fewer only where the file ends first.
std::size_t readAt(const SystemFile& file, std::int64_t offset, std::span<std::uint8_t> buffer,
                   const Subject& who);

// Writing, in the output's folder.

/// The folder of the output `path`, how the system reaches files in it, and the output's name there.
struct Folder {
    SystemFile file; // POSIX: the folder open, for calls relative to it
    std::string
        path; // as the output's path gives it (POSIX) or in full (Windows), ending with a separator
    std::string outputName;
};
[[nodiscard]] Folder openFolder(const std::string& outputPath, const Subject& who);

/// A write's file until it has its final name.
struct Temporary {
    SystemFile file;
    std::string name;      // in the folder; empty while it has none
    bool vanishes = false; // the system removes it when it is closed, or a process killed
};
/// A new file without a name in the folder, open for reading and writing, with `permissions` less
/// the umask; nothing where the file system has no such files.
[[nodiscard]] std::optional<Temporary> createUnnamed(const Folder& folder,
                                                     std::uint32_t permissions, const Subject& who);
/// A new hidden file `name` in the folder, open for reading and writing, that other processes can
/// tell is in use until it is closed; nothing where that name is taken.
[[nodiscard]] std::optional<Temporary> createNamed(const Folder& folder, const std::string& name,
                                                   std::uint32_t permissions, const Subject& who);
/// Gives the file exactly these permission bits (POSIX; Windows files have none).
void setPermissions(const SystemFile& file, std::uint32_t permissions);

/// How a copy was made.
enum class Copied {
    Shared,  ///< a clone: the file system shares the blocks until one of the files changes them
    Whole,   ///< every byte copied (in the kernel where it can)
    Short,   ///< the source ended before `length` bytes: it changed
    Nothing, ///< nothing copied: the file is written whole
};
/// Fills `to` with the first `length` bytes of `from`, by the file system itself where it can.
/// Failures are reported as writing `who`'s file.
Copied copyFile(const SystemFile& from, const SystemFile& to, std::int64_t length,
                const Subject& who);
void writeAt(const SystemFile& file, std::int64_t offset, std::span<const std::uint8_t> data,
             const Subject& who);
/// Lets the system start writing bytes [offset, offset + length) to the disk now: a hint, which
/// syncFile() does not need.
void startWriteBack(const SystemFile& file, std::int64_t offset, std::int64_t length);
/// Makes the file's data durable. A delayed write error (a full disk, a network share gone away)
/// shows up here.
void syncFile(const SystemFile& file, const Subject& who);
/// Makes the temporary file look as the output should (on Windows: no longer hidden, whatever else
/// it took from its folder kept).
void unhide(const Temporary& temporary, const Subject& who);

/// The file under `name` in the folder, not following a last link; nothing where there is none.
[[nodiscard]] std::optional<FileInfo> lookAtName(const Folder& folder, const std::string& name,
                                                 const Subject& who);

enum class Named {
    Done,
    Taken, ///< another file has the name
    Held,  ///< another program holds the file under the name for a moment (Windows)
};
/// Gives the unnamed temporary file the name `name`, where no file has it.
[[nodiscard]] Named nameUnnamed(const Folder& folder, Temporary& temporary, const std::string& name,
                                const Subject& who);
/// Moves the named temporary file to `name`: over the file there where `replace`, otherwise only
/// where no file has the name (on file systems that cannot tell in one step, such as FAT through
/// FUSE, the caller's look just before is what is left). The temporary file is then the output.
[[nodiscard]] Named moveTo(const Folder& folder, Temporary& temporary, const std::string& name,
                           bool replace, const Subject& who);
/// Makes the folder's new name for the output survive a power cut. Failing changes nothing the
/// user can act on: the complete file is in place.
void syncFolder(const Folder& folder, const Temporary& output);
/// Removes an uncommitted temporary file (closing it first).
void removeTemporary(const Folder& folder, Temporary& temporary) noexcept;

/// The names of the folder's entries, as UTF-8; those that are not found are left out.
[[nodiscard]] std::vector<std::string> namesIn(const Folder& folder);
/// Removes the file `name` in the folder where it is a regular file that no process has open (or
/// locked) and nobody has written for `seconds`.
void removeIfAbandoned(const Folder& folder, const std::string& name, int seconds) noexcept;

/// Once per process, before the first file: signals that would end the process in the middle of a
/// write are made errors (POSIX).
void prepareProcess();

} // namespace tarnis::detail
