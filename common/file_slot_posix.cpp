// File slot 1 on POSIX systems (Linux first). The Windows half is file_slot_win32.cpp.
#include "common/file_slot.h"

#include "common/error.h"
#include "common/file_slot_internal.h"
#include "common/file_names.h"

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
#ifdef __linux__
#include <sys/vfs.h>
#endif

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

std::int64_t nanoseconds(const timespec& time)
{
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

FileStamp stampOf(const struct stat& status)
{
    return {{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)},
            static_cast<std::int64_t>(status.st_size),
            nanoseconds(status.st_mtim),
            nanoseconds(status.st_ctim),
            static_cast<std::uint32_t>(status.st_mode & 07777)};
}

// Two signals would end the process without a word and leave its files half written. A process that
// writes more than its file size limit allows gets SIGXFSZ; ignored, the write fails with EFBIG
// instead, which the slot reports like any other failure. A program that opens a file for writing
// while a read lease is held on it sends the lease's holder SIGIO, whose default is to end it; the
// slot asks the lease itself, so the signal is ignored unless the program has a use for it.
void ignoreSignalsThatEndTheProcess()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct sigaction current {};
        if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGIO, SIG_IGN);
    });
}

// Whether a read lease refused with EAGAIN means that another program has the file open for
// writing. Network file systems refuse leases so when the server has not handed the file over, which
// says nothing about writers.
bool refusalMeansAWriter([[maybe_unused]] int descriptor)
{
#ifdef __linux__
    struct statfs system {};
    if (::fstatfs(descriptor, &system) != 0)
        return false;
    constexpr long kNfs = 0x6969, kSmb = 0x517B, kCifs = 0xFF534D42, kSmb2 = 0xFE534D42;
    const long type = static_cast<long>(system.f_type);
    return type != kNfs && type != kSmb && type != static_cast<long>(static_cast<unsigned long>(kCifs))
           && type != static_cast<long>(static_cast<unsigned long>(kSmb2));
#else
    return true;
#endif
}

// Reads `buffer.size()` bytes at `offset` in calls of at most kChunkBytes; 0, an errno, or -1 where
// the file ended first or `stop` asked, after any call, to stop.
template <typename Stop>
int readPieces(int descriptor, std::span<std::uint8_t> buffer, std::int64_t offset, Stop stop)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t wanted = std::min(buffer.size() - done, detail::kChunkBytes);
        const ssize_t got = ::pread(descriptor, buffer.data() + done, wanted, static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return errno;
        if (got == 0)
            return -1;
        if (stop())
            return -1;
        done += static_cast<std::size_t>(got);
    }
    return 0;
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
    ChangeWatch changeWatch;
    Mode mode = Mode::Closed;
    Descriptor file;
    std::string path;          // the name the user knows, as shown in errors
    struct stat opened {};     // the input as it was when it was opened
    bool leased = false;       // a read lease tells of any program that opens the input for writing
    std::unique_ptr<std::uint8_t[]> secondRead; // a piece of the file read again, where no lease watches
    Descriptor folder;         // the output's folder
    std::string outputName;    // in the folder, as the platform spells it
    std::string temporaryName; // empty while the temporary file has no name
    std::optional<FileStamp> replacing; // what the write may replace; nothing: no file at all
    std::optional<std::string> cleanedFolder; // where abandoned temporary files were last looked for

    [[noreturn]] void fail(Cause cause) const
    {
        throw Error(mode == Mode::Writing ? FileAction::Write : FileAction::Read, path, cause);
    }
    [[noreturn]] void failWith(int errorNumber) const
    {
        throw systemError(mode == Mode::Writing ? FileAction::Write : FileAction::Read, path, errorNumber);
    }
    // Fails for a read that ended early (-1) or an errno.
    void failOnRead(int result) const
    {
        if (result == -1)
            fail(Cause::ChangedWhileReading);
        if (result != 0)
            failWith(result);
    }

    // Whether a program opened the input for writing since the lease was taken: the lease then
    // waits to be given up.
    [[nodiscard]] bool leaseBroken() const
    {
#ifdef F_GETLEASE
        return leased && ::fcntl(file.get(), F_GETLEASE) != F_RDLCK;
#else
        return false;
#endif
    }

    // Fails when the input is no longer as it was opened, or not the length read.
    void checkStillAsOpened(std::size_t length) const
    {
        struct stat now {};
        if (::fstat(file.get(), &now) != 0)
            failWith(errno);
        if (!sameState(now, opened) || static_cast<std::uint64_t>(now.st_size) != length || leaseBroken())
            fail(Cause::ChangedWhileReading);
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

    // Creates the temporary file of a write in the output's folder, unnamed where possible, with
    // `mode` less the umask.
    void createTemporary(mode_t mode)
    {
        if (temporaryFiles == TemporaryFiles::UnnamedWherePossible) {
            file.reset(::openat(folder.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode));
            if (file.valid())
                return;
            // File systems without unnamed files (FAT and exFAT cards and drives, many network
            // shares) refuse them in one of these ways; any other error is the folder's own.
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
                failWith(errno);
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = detail::newTemporaryName();
            file.reset(::openat(folder.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
            if (file.valid()) {
                temporaryName = name;
                return;
            }
            if (errno != EEXIST)
                failWith(errno);
        }
        failWith(EEXIST);
    }

    // Whether the name is free, or taken by the file the write may replace, unchanged: 0, EEXIST
    // where another file has it, or an errno.
    [[nodiscard]] int checkReplacing() const
    {
        struct stat now {};
        if (::fstatat(folder.get(), outputName.c_str(), &now, 0) != 0)
            return errno == ENOENT ? 0 : errno;
        return replacing && stampOf(now) == *replacing ? 0 : EEXIST;
    }

    // Gives the named temporary file the output's name where no file has it; 0 or an errno, EEXIST
    // where a file has it.
    [[nodiscard]] int renameIfAbsent() const
    {
#ifdef RENAME_NOREPLACE
        if (::renameat2(folder.get(), temporaryName.c_str(), folder.get(), outputName.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return errno;
#endif
        // A second name, then the first removed: also never over another file.
        if (::linkat(folder.get(), temporaryName.c_str(), folder.get(), outputName.c_str(), 0) == 0) {
            ::unlinkat(folder.get(), temporaryName.c_str(), 0);
            return 0;
        }
        if (errno == EEXIST || (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP))
            return errno;
        // FAT and exFAT through FUSE take neither: a look just before the rename is what is left.
        if (const int error = checkReplacing(); error != 0)
            return error;
        return ::renameat(folder.get(), temporaryName.c_str(), folder.get(), outputName.c_str()) == 0 ? 0 : errno;
    }

    // Puts the complete temporary file in place under the output's name, over the file expected
    // there and nothing else; 0 or an errno, EEXIST where another file has the name.
    int putInPlace()
    {
        if (!replacing && temporaryName.empty()) {
            // A new output gets its name in one step, with no other name ever seen, and never over
            // a file that appeared meanwhile.
            return link(outputName);
        }
        if (!replacing) {
            if (const int error = renameIfAbsent(); error != 0)
                return error;
            temporaryName.clear(); // now the output's own name: close() must not remove it
            return 0;
        }
        if (temporaryName.empty()) {
            // An existing file can only be replaced by a rename, so the new one needs a name first.
            const std::string name = detail::newTemporaryName();
            if (const int linkError = link(name); linkError != 0)
                return linkError;
            temporaryName = name;
        }
        // Between this look and the rename, only a program that changes the file in these
        // microseconds goes unseen.
        if (const int error = checkReplacing(); error != 0)
            return error;
        if (::renameat(folder.get(), temporaryName.c_str(), folder.get(), outputName.c_str()) != 0)
            return errno;
        temporaryName.clear();
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

FileSlot::FileSlot(TemporaryFiles temporaryFiles, ChangeWatch changeWatch) : native_(std::make_unique<Native>())
{
    native_->temporaryFiles = temporaryFiles;
    native_->changeWatch = changeWatch;
    ignoreSignalsThatEndTheProcess();
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
    // Taken before the file is looked at, so that whatever a writer does after the look is told.
    // Refused, the lease says that a program has the file open for writing; or the file system, or
    // the file's owner being another, grants none, and a second read has to tell instead.
    bool leased = false;
#ifdef F_SETLEASE
    if (n.changeWatch == ChangeWatch::WherePossible) {
        leased = ::fcntl(file.get(), F_SETLEASE, F_RDLCK) == 0;
        if (!leased && errno == EAGAIN && refusalMeansAWriter(file.get()))
            throw Error(FileAction::Read, path, Cause::InUse);
    }
#endif
    struct stat status {};
    if (const int error = settledStatus(file.get(), status); error != 0)
        throw systemError(FileAction::Read, path, error);
    if (S_ISDIR(status.st_mode))
        throw Error(FileAction::Read, path, Cause::IsFolder);
    if (!S_ISREG(status.st_mode))
        throw Error(FileAction::Read, path, Cause::NotRegularFile);
    n.file = std::move(file);
    n.opened = status;
    n.leased = leased;
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

FileStamp FileSlot::stamp() const
{
    const Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    return stampOf(n.opened);
}

void FileSlot::readAll(std::span<std::uint8_t> buffer)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    // A writer waits for the lease until the read gives up, so it gives up as soon as one comes.
    n.failOnRead(readPieces(n.file.get(), buffer, 0, [&] { return n.leaseBroken(); }));
    n.checkStillAsOpened(buffer.size());
}

void FileSlot::confirmUnchanged(std::span<const std::uint8_t> buffer)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    if (!n.leased) {
        // The file again, piece by piece, from the page cache where the first read left it: a writer
        // that keeps the file's times, as one through a shared memory mapping does, or a file
        // system whose times move in whole seconds, still shows in the bytes.
        if (!n.secondRead)
            n.secondRead.reset(new std::uint8_t[detail::kChunkBytes]);
        for (std::size_t done = 0; done < buffer.size(); done += detail::kChunkBytes) {
            const std::span<std::uint8_t> piece(n.secondRead.get(), std::min(buffer.size() - done, detail::kChunkBytes));
            n.failOnRead(readPieces(n.file.get(), piece, static_cast<std::int64_t>(done), [] { return false; }));
            if (!std::equal(piece.begin(), piece.end(), buffer.begin() + static_cast<std::ptrdiff_t>(done)))
                n.fail(Cause::ChangedWhileReading);
        }
    }
    n.checkStillAsOpened(buffer.size());
}

void FileSlot::readAt(std::int64_t offset, std::span<std::uint8_t> buffer)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    n.failOnRead(readPieces(n.file.get(), buffer, offset, [] { return false; }));
}

void FileSlot::openForWriting(const std::string& path, const std::optional<FileStamp>& replacing, std::uint32_t permissions)
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
    if (exists != replacing.has_value() || (exists && !(stampOf(existing) == *replacing)))
        throw Error(FileAction::Write, path, Cause::OutputChanged);
    // A rename needs only the folder's permission; the file's own says whether its user wants it
    // kept: a file that nobody may write stays, for root too, and whoever could not open it for
    // writing may not have it replaced either.
    if (exists && (existing.st_mode & 0222) == 0)
        throw Error(FileAction::Write, path, Cause::WriteProtected);
    if (exists && ::faccessat(AT_FDCWD, native.c_str(), W_OK, AT_EACCESS) != 0) {
        if (errno == EACCES || errno == EPERM)
            throw Error(FileAction::Write, path, Cause::WriteProtected);
        throw systemError(FileAction::Write, path, errno);
    }

    const std::string folderPath = folderOf(path);
    Descriptor folder(::open(folderPath.empty() ? "." : nativePath(folderPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.valid())
        throw systemError(FileAction::Write, path, errno);
    // A bare name's folder is the working folder, spelt as an empty text: looked at too.
    if (folderPath != n.cleanedFolder) {
        removeAbandonedTemporaries(folder.get());
        n.cleanedFolder = folderPath;
    }

    n.mode = Native::Mode::Writing;
    n.path = path;
    n.folder = std::move(folder);
    n.outputName = pathFromUtf8(nameOf(path)).native();
    n.replacing = replacing;
    try {
        n.createTemporary(exists ? 0666 : static_cast<mode_t>(permissions & 0777));
    } catch (...) {
        close();
        throw;
    }
    // Held until the file has its final name, so that no other process takes it for abandoned.
    ::flock(n.file.get(), LOCK_EX);
    // A replaced output keeps the permissions it had.
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

FileIdentity FileSlot::commit()
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Writing)
        throw Error(FileAction::Write, n.path, Cause::SlotBusy);
    // A delayed write error (a full disk, a network share gone away) shows up here.
    if (::fsync(n.file.get()) != 0)
        n.failWith(errno);
    struct stat written {};
    if (::fstat(n.file.get(), &written) != 0)
        n.failWith(errno);
    if (const int error = n.putInPlace(); error != 0) {
        // rename() refuses to put a file over a folder that appeared under the output's name.
        if (error == EISDIR || error == ENOTEMPTY)
            n.fail(Cause::FolderInTheWay);
        if (error == EEXIST)
            n.fail(Cause::OutputChanged);
        n.failWith(error);
    }
    // Makes the new name survive a power cut. Failing here changes nothing the user can act on:
    // the complete file is already in place.
    ::fsync(n.folder.get());
    close();
    return stampOf(written).identity;
}

void FileSlot::close() noexcept
{
    Native& n = *native_;
    if (n.mode == Native::Mode::Writing && !n.temporaryName.empty())
        ::unlinkat(n.folder.get(), n.temporaryName.c_str(), 0);
    n.file.reset(); // and with it the lease
    n.leased = false;
    n.folder.reset();
    n.mode = Native::Mode::Closed;
    n.path.clear();
    n.outputName.clear();
    n.temporaryName.clear();
    n.replacing.reset();
}

} // namespace tarnis
