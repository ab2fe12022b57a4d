// File slot 1 on POSIX systems (Linux first). The Windows half is file_slot_win32.cpp.
#include "common/file_slot.h"

#include "common/error.h"
#include "common/file_slot_internal.h"
#include "common/text.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnis {

namespace {

using detail::folderOf;
using detail::nameOf;

// Owns one open file descriptor.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int value) : value_(value) {}
    Descriptor(Descriptor&& other) noexcept : value_(std::exchange(other.value_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        reset(std::exchange(other.value_, -1));
        return *this;
    }
    ~Descriptor() { reset(); }

    [[nodiscard]] int get() const { return value_; }
    [[nodiscard]] bool valid() const { return value_ >= 0; }
    [[nodiscard]] int release() { return std::exchange(value_, -1); }
    void reset(int value = -1) noexcept
    {
        if (value_ >= 0)
            ::close(value_);
        value_ = value;
    }

private:
    int value_ = -1;
};

std::string nativePath(const std::string& path)
{
    return pathFromUtf8(path).native();
}

bool sameTime(const timespec& a, const timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// Whether anything about a file changed between two looks at it: another program writing it in
// place changes its times even where it keeps its length, and replacing it changes its number.
bool sameState(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size
           && sameTime(a.st_mtim, b.st_mtim) && sameTime(a.st_ctim, b.st_ctim);
}

// The kernel stamps a write with a clock that moves in steps of a few milliseconds, so two writes
// within one step leave the same times behind. A file last changed in the current step could thus
// be changed again unseen; looking at it once the clock has moved on rules that out. Waits a few
// milliseconds at most, and only for a file that was written just now. Returns 0 or an errno.
int settledStatus(int descriptor, struct stat& status)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::fstat(descriptor, &status) != 0)
            return errno;
        timespec now {};
#ifdef CLOCK_REALTIME_COARSE
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
#else
        ::clock_gettime(CLOCK_REALTIME, &now);
#endif
        if (before(status.st_ctim, now) && before(status.st_mtim, now))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 0;
}

// A process that writes more than its file size limit allows gets SIGXFSZ, which ends it without
// a word and leaves its files half written. Ignored, the write fails with EFBIG instead, which the
// slot reports like any other failure.
void ignoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

// Removes the temporary files in `folder` that a killed process left behind: those no process
// holds a lock on and nobody has written for a while. A running writer holds its lock from the
// moment it creates its file until the file has its final name.
void removeAbandonedTemporaries(int folder)
{
    Descriptor listing(::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!listing.valid())
        return;
    DIR* const directory = ::fdopendir(listing.get());
    if (directory == nullptr)
        return;
    (void)listing.release(); // now the DIR's to close
    const std::time_t abandonedBefore = std::time(nullptr) - detail::kAbandonedAfterSeconds;
    while (const dirent* entry = ::readdir(directory)) {
        if (!detail::isTemporaryName(entry->d_name))
            continue;
        Descriptor file(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        struct stat status {};
        if (!file.valid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode)
            || status.st_mtime >= abandonedBefore || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        // Still the same file under that name, now that it is ours to remove.
        struct stat named {};
        if (::fstatat(folder, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == status.st_ino
            && named.st_dev == status.st_dev)
            ::unlinkat(folder, entry->d_name, 0);
    }
    ::closedir(directory);
}

} // namespace

struct FileSlot::Native {
    enum class Mode { Closed, Reading, Writing };

    TemporaryFiles temporaryFiles;
    Mode mode = Mode::Closed;
    Descriptor file;
    std::string path;          // the name the user knows, as shown in errors
    struct stat opened {};     // the input as it was when it was opened
    Descriptor folder;         // the output's folder
    std::string outputName;    // in the folder, as the platform spells it
    std::string temporaryName; // empty while the temporary file has no name
    std::string cleanedFolder; // where abandoned temporary files were last looked for

    [[noreturn]] void fail(Cause cause) const
    {
        throw Error(mode == Mode::Writing ? FileAction::Write : FileAction::Read, path, cause);
    }
    [[noreturn]] void failWith(int errorNumber) const
    {
        throw systemError(mode == Mode::Writing ? FileAction::Write : FileAction::Read, path, errorNumber);
    }

    // Gives the unnamed temporary file the name `name` in the output's folder; 0 or an errno.
    int link(const std::string& name) const
    {
        const std::string self = "/proc/self/fd/" + std::to_string(file.get());
        if (::linkat(AT_FDCWD, self.c_str(), folder.get(), name.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return 0;
        if (errno != ENOENT || ::access("/proc/self/fd", F_OK) == 0)
            return errno;
        // Without /proc: a way that needs more privileges, so it is only the second choice.
        return ::linkat(file.get(), "", folder.get(), name.c_str(), AT_EMPTY_PATH) == 0 ? 0 : errno;
    }

    // Creates the temporary file of a write in the output's folder, unnamed where possible.
    void createTemporary()
    {
        if (temporaryFiles == TemporaryFiles::UnnamedWherePossible) {
            file.reset(::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
            if (file.valid())
                return;
            // File systems without unnamed files (FAT and exFAT cards and drives, many network
            // shares) refuse them in one of these ways; any other error is the folder's own.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
                failWith(errno);
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = detail::newTemporaryName();
            file.reset(::openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
            if (file.valid()) {
                temporaryName = name;
                return;
            }
            if (errno != EEXIST)
                failWith(errno);
        }
        failWith(EEXIST);
    }

    // Puts the complete temporary file in place under the output's name.
    int putInPlace()
    {
        if (temporaryName.empty()) {
            // A new output gets its name in one step, with no other name ever seen.
            const int error = link(outputName);
            if (error != EEXIST)
                return error;
            // An existing one can only be replaced by a rename, so the file needs a name first.
            const std::string name = detail::newTemporaryName();
            if (const int linkError = link(name); linkError != 0)
                return linkError;
            temporaryName = name;
        }
        if (::renameat(folder.get(), temporaryName.c_str(), folder.get(), outputName.c_str()) != 0)
            return errno;
        temporaryName.clear(); // now the output's own name: close() must not remove it
        return 0;
    }
};

std::int64_t fileLengthByName(const std::string& path)
{
    struct stat status {};
    if (::stat(nativePath(path).c_str(), &status) != 0)
        throw systemError(FileAction::Read, path, errno);
    if (S_ISDIR(status.st_mode))
        throw Error(FileAction::Read, path, Cause::IsFolder);
    if (!S_ISREG(status.st_mode))
        throw Error(FileAction::Read, path, Cause::NotRegularFile);
    return status.st_size;
}

std::optional<FileIdentity> fileIdentityByName(const std::string& path)
{
    struct stat status {};
    if (::stat(nativePath(path).c_str(), &status) != 0)
        return std::nullopt;
    return FileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

FileSlot::FileSlot(TemporaryFiles temporaryFiles) : native_(std::make_unique<Native>())
{
    native_->temporaryFiles = temporaryFiles;
    ignoreFileSizeSignal();
}

FileSlot::~FileSlot()
{
    close();
}

bool FileSlot::isOpen() const
{
    return native_->mode != Native::Mode::Closed;
}

void FileSlot::openForReading(const std::string& path)
{
    Native& n = *native_;
    if (isOpen())
        throw Error(FileAction::Read, path, Cause::SlotBusy);
    // Non-blocking, so that a FIFO given as input fails below instead of waiting for a writer.
    Descriptor file(::open(nativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid())
        throw systemError(FileAction::Read, path, errno);
    struct stat status {};
    if (const int error = settledStatus(file.get(), status); error != 0)
        throw systemError(FileAction::Read, path, error);
    if (S_ISDIR(status.st_mode))
        throw Error(FileAction::Read, path, Cause::IsFolder);
    if (!S_ISREG(status.st_mode))
        throw Error(FileAction::Read, path, Cause::NotRegularFile);
    n.file = std::move(file);
    n.opened = status;
    n.mode = Native::Mode::Reading;
    n.path = path;
}

std::int64_t FileSlot::length() const
{
    const Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    return n.opened.st_size;
}

void FileSlot::readAll(std::span<std::uint8_t> buffer)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t wanted = std::min(buffer.size() - done, detail::kChunkBytes);
        const ssize_t got = ::pread(n.file.get(), buffer.data() + done, wanted, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            n.failWith(errno);
        }
        if (got == 0)
            n.fail(Cause::ChangedWhileReading);
        done += static_cast<std::size_t>(got);
    }
    struct stat now {};
    if (::fstat(n.file.get(), &now) != 0)
        n.failWith(errno);
    if (!sameState(now, n.opened) || static_cast<std::uint64_t>(now.st_size) != buffer.size())
        n.fail(Cause::ChangedWhileReading);
}

void FileSlot::openForWriting(const std::string& path)
{
    Native& n = *native_;
    if (isOpen())
        throw Error(FileAction::Write, path, Cause::SlotBusy);
    const std::string native = nativePath(path);

    struct stat existing {};
    const bool exists = ::stat(native.c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        throw systemError(FileAction::Write, path, errno);
    if (exists && S_ISDIR(existing.st_mode))
        throw Error(FileAction::Write, path, Cause::FolderInTheWay);
    if (exists && !S_ISREG(existing.st_mode))
        throw Error(FileAction::Write, path, Cause::NotRegularFile);
    // A rename needs only the folder's permission; the file's own says whether its user wants it
    // kept. Whoever could not open it for writing may not have it replaced either.
    if (exists && ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0) {
        if (errno == EACCES || errno == EPERM)
            throw Error(FileAction::Write, path, Cause::WriteProtected);
        throw systemError(FileAction::Write, path, errno);
    }

    const std::string folderPath = folderOf(path);
    Descriptor folder(::open(folderPath.empty() ? "." : nativePath(folderPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        throw systemError(FileAction::Write, path, errno);
    if (folderPath != n.cleanedFolder) {
        removeAbandonedTemporaries(folder.get());
        n.cleanedFolder = folderPath;
    }

    n.mode = Native::Mode::Writing;
    n.path = path;
    n.folder = std::move(folder);
    n.outputName = pathFromUtf8(nameOf(path)).native();
    try {
        n.createTemporary();
    } catch (...) {
        close();
        throw;
    }
    // Held until the file has its final name, so that no other process takes it for abandoned.
    ::flock(n.file.get(), LOCK_EX);
    // A replaced output keeps the permissions it had; a new one gets the usual ones for new files.
    if (exists)
        ::fchmod(n.file.get(), existing.st_mode & 07777);
}

void FileSlot::writeAll(std::span<const std::uint8_t> data)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Writing)
        throw Error(FileAction::Write, n.path, Cause::SlotBusy);
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t wanted = std::min(data.size() - done, detail::kChunkBytes);
        const ssize_t written = ::pwrite(n.file.get(), data.data() + done, wanted, static_cast<off_t>(done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            n.failWith(errno);
        }
        if (written == 0)
            n.failWith(ENOSPC);
        done += static_cast<std::size_t>(written);
    }
}

void FileSlot::commit()
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Writing)
        throw Error(FileAction::Write, n.path, Cause::SlotBusy);
    // A delayed write error (a full disk, a network share gone away) shows up here.
    if (::fsync(n.file.get()) != 0)
        n.failWith(errno);
    if (const int error = n.putInPlace(); error != 0) {
        // rename() refuses to put a file over a folder that appeared under the output's name.
        if (error == EISDIR || error == ENOTEMPTY || error == EEXIST)
            n.fail(Cause::FolderInTheWay);
        n.failWith(error);
    }
    // Makes the new name survive a power cut. Failing here changes nothing the user can act on:
    // the complete file is already in place.
    ::fsync(n.folder.get());
    close();
}

void FileSlot::close() noexcept
{
    Native& n = *native_;
    if (n.mode == Native::Mode::Writing && !n.temporaryName.empty())
        ::unlinkat(n.folder.get(), n.temporaryName.c_str(), 0);
    n.file.reset();
    n.folder.reset();
    n.mode = Native::Mode::Closed;
    n.path.clear();
    n.outputName.clear();
    n.temporaryName.clear();
}

} // namespace tarnis
