// The file system calls of file slot 1 on POSIX systems (Linux first). The Windows half is
// file_system_win32.cpp; the protocol over both is file_slot.cpp.
#include "common/file_system.h"

#include "common/cause.h"
#include "common/file_names.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ctime>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/vfs.h>
#endif

namespace tarnis::detail {

namespace {

// One read or write call moves at most 4 MiB. Writing a 48 MB image in one call made the kernel's
// copy into newly allocated cache pages several times slower (150 ms against 25 ms per image, on the
// first run after start); small calls also stay far below the 2 GiB that Linux moves in one.
constexpr std::size_t kChunkBytes = std::size_t{1} << 22;

int descriptor(const SystemFile& file) { return static_cast<int>(file.get()); }

std::string nativeName(const std::string& path) { return pathFromUtf8(path).native(); }

[[noreturn]] void failWith(const Subject& who, int errorNumber)
{
    throw systemError(who.action, who.path, errorNumber);
}

bool before(const timespec& a, const timespec& b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

std::int64_t nanoseconds(const timespec& time)
{
    return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
}

FileInfo infoOf(const struct stat& status)
{
    FileInfo info;
    info.stamp = {
        {static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)},
        static_cast<std::int64_t>(status.st_size),
        nanoseconds(status.st_mtim),
        nanoseconds(status.st_ctim),
        static_cast<std::uint32_t>(status.st_mode & 07777)};
    info.kind = S_ISREG(status.st_mode)   ? FileKind::Regular
                : S_ISDIR(status.st_mode) ? FileKind::Folder
                                          : FileKind::Other;
    info.readOnly = (status.st_mode & 0222) == 0;
    return info;
}

// The kernel stamps a write with a clock that moves in steps of a few milliseconds, so two writes
// within one step leave the same times behind. A file last changed in the current step could thus
// be changed again unseen; looking at it once the clock has moved on rules that out. Waits a few
// milliseconds at most, and only for a file that was written just now.
struct stat settledStatus(int file, const Subject& who)
{
    struct stat status {};
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (::fstat(file, &status) != 0)
            failWith(who, errno);
        timespec now{};
#ifdef CLOCK_REALTIME_COARSE
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
#else
        ::clock_gettime(CLOCK_REALTIME, &now);
#endif
        if (before(status.st_ctim, now) && before(status.st_mtim, now))
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return status;
}

// Whether a read lease refused with EAGAIN means that another program has the file open for
// writing. Network file systems refuse leases so when the server has not handed the file over, which
// says nothing about writers.
bool refusalMeansAWriter([[maybe_unused]] int file)
{
#ifdef __linux__
    struct statfs system {};
    if (::fstatfs(file, &system) != 0)
        return false;
    constexpr long kNfs = 0x6969, kSmb = 0x517B, kCifs = 0xFF534D42, kSmb2 = 0xFE534D42;
    const long type = static_cast<long>(system.f_type);
    return type != kNfs && type != kSmb
           && type != static_cast<long>(static_cast<unsigned long>(kCifs))
           && type != static_cast<long>(static_cast<unsigned long>(kSmb2));
#else
    return true;
#endif
}

// Whether every writer of the open file goes through this kernel, so that a lease on it tells of them
// all. Not on network file systems, whose other clients write on the server, nor on file systems in
// user space (sshfs, rclone mounts), whose daemons write as they please: the kernel may grant a lease
// there that no such writer ever breaks.
bool kernelSeesEveryWriter([[maybe_unused]] int file)
{
#ifdef __linux__
    struct statfs system {};
    if (::fstatfs(file, &system) != 0)
        return false;
    constexpr unsigned long kRemoteOrUserSpace[] = {
        0x65735546, // FUSE
        0x6969,     // NFS
        0x517B,     // SMB
        0xFF534D42, // CIFS
        0xFE534D42, // SMB2
        0x01021997, // 9P (virtual machines' shared folders)
        0x00C36400, // Ceph
        0x5346414F, // AFS
        0x73757245, // Coda
        0x0BD00BD0, // Lustre
        0x564C,     // NCP
        0x01161970, // GFS2
        0x7461636F, // OCFS2
        0x786F4256, // VirtualBox shared folders
        0x47504653, // GPFS
        0x20030528, // OrangeFS
    };
    const auto type = static_cast<unsigned long>(system.f_type) & 0xFFFFFFFFUL;
    return std::find(std::begin(kRemoteOrUserSpace), std::end(kRemoteOrUserSpace), type)
           == std::end(kRemoteOrUserSpace);
#else
    return true;
#endif
}

std::size_t readDescriptor(int file, std::int64_t offset, std::span<std::uint8_t> buffer,
                           const Subject& who)
{
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t wanted = std::min(buffer.size() - done, kChunkBytes);
        const ssize_t got = ::pread(file, buffer.data() + done, wanted,
                                    static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            failWith(who, errno);
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return done;
}

void writeDescriptor(int file, std::int64_t offset, std::span<const std::uint8_t> data,
                     const Subject& who)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t wanted = std::min(data.size() - done, kChunkBytes);
        const ssize_t written = ::pwrite(
            file, data.data() + done, wanted,
            static_cast<off_t>(offset + static_cast<std::int64_t>(done)));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            failWith(who, errno);
        if (written == 0)
            failWith(who, ENOSPC);
        done += static_cast<std::size_t>(written);
    }
}

// Copies from `from` to `to` through memory, from `done` on; returns the bytes copied in all.
std::int64_t copyThroughMemory(int from, int to, std::int64_t done, std::int64_t length,
                               const Subject& who)
{
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::int64_t>(length - done, kChunkBytes)));
    while (done < length) {
        const std::span<std::uint8_t> piece(
            buffer.data(),
            static_cast<std::size_t>(std::min<std::int64_t>(length - done, kChunkBytes)));
        const std::size_t got = readDescriptor(from, done, piece, who);
        writeDescriptor(to, done, piece.first(got), who);
        done += static_cast<std::int64_t>(got);
        if (got < piece.size())
            break;
    }
    return done;
}

} // namespace

void SystemFile::reset(std::intptr_t value) noexcept
{
    if (valid())
        ::close(static_cast<int>(value_));
    value_ = value;
}

std::optional<FileInfo> lookAt(const std::string& path, const Subject& who)
{
    struct stat status {};
    if (::stat(nativeName(path).c_str(), &status) == 0)
        return infoOf(status);
    if (errno == ENOENT || errno == ENOTDIR)
        return std::nullopt;
    failWith(who, errno);
}

void checkMayReplace(const std::string& path, const Subject& who)
{
    if (::faccessat(AT_FDCWD, nativeName(path).c_str(), W_OK, AT_EACCESS) == 0)
        return;
    if (errno == EACCES || errno == EPERM)
        throw Error(who.action, who.path, Cause::WriteProtected);
    if (errno != ENOENT)
        failWith(who, errno);
}

OpenedFile openToRead(const std::string& path, bool watch, const Subject& who)
{
    // Non-blocking, so that a FIFO given as input fails later instead of waiting for a writer.
    OpenedFile opened;
    opened.file.reset(
        ::open(nativeName(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!opened.file.valid())
        failWith(who, errno);
    const int file = descriptor(opened.file);
    // Taken before the file is looked at, so that whatever a writer does after the look is told.
    // Refused, the lease says that a program has the file open for writing; or the file system, or
    // the file's owner being another, grants none, and a second read has to tell instead.
#ifdef F_SETLEASE
    if (watch) {
        opened.watched = ::fcntl(file, F_SETLEASE, F_RDLCK) == 0;
        if (!opened.watched && errno == EAGAIN && refusalMeansAWriter(file))
            throw Error(who.action, who.path, Cause::InUse);
        // Granted, it still told that no program here has the file open for writing; where not
        // every writer goes through this kernel, a second read has to tell of the others.
        if (opened.watched && !kernelSeesEveryWriter(file)) {
            (void)::fcntl(file, F_SETLEASE, F_UNLCK);
            opened.watched = false;
        }
    }
#endif
    opened.info = infoOf(settledStatus(file, who));
    return opened;
}

FileInfo statusOf(const SystemFile& file, const Subject& who)
{
    struct stat status {};
    if (::fstat(descriptor(file), &status) != 0)
        failWith(who, errno);
    return infoOf(status);
}

bool writerCameBy([[maybe_unused]] const SystemFile& file)
{
    // A program that opens the file for writing breaks the lease, and waits for it to be given up.
#ifdef F_GETLEASE
    return ::fcntl(descriptor(file), F_GETLEASE) != F_RDLCK;
#else
    return false;
#endif
}

std::size_t readAt(const SystemFile& file, std::int64_t offset, std::span<std::uint8_t> buffer,
                   const Subject& who)
{
    return readDescriptor(descriptor(file), offset, buffer, who);
}

Folder openFolder(const std::string& outputPath, const Subject& who)
{
    Folder folder;
    folder.path = folderOf(outputPath);
    folder.outputName = nameOf(outputPath);
    folder.file.reset(::open(folder.path.empty() ? "." : nativeName(folder.path).c_str(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.file.valid())
        failWith(who, errno);
    return folder;
}

std::optional<Temporary> createUnnamed(const Folder& folder, std::uint32_t permissions,
                                       const Subject& who)
{
#ifdef O_TMPFILE
    Temporary temporary;
    temporary.file.reset(::openat(descriptor(folder.file), ".", O_TMPFILE | O_RDWR | O_CLOEXEC,
                                  static_cast<mode_t>(permissions)));
    temporary.vanishes = true;
    if (temporary.file.valid())
        return temporary;
    // File systems without unnamed files (FAT and exFAT cards and drives, many network shares)
    // refuse them in one of these ways; any other error is the folder's own.
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
        failWith(who, errno);
#endif
    return std::nullopt;
}

std::optional<Temporary> createNamed(const Folder& folder, const std::string& name,
                                     std::uint32_t permissions, const Subject& who)
{
    Temporary temporary;
    temporary.file.reset(::openat(descriptor(folder.file), name.c_str(),
                                  O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC,
                                  static_cast<mode_t>(permissions)));
    if (!temporary.file.valid() && errno == EEXIST)
        return std::nullopt;
    if (!temporary.file.valid())
        failWith(who, errno);
    // Held until the file has its final name, so that no other process takes it for abandoned.
    ::flock(descriptor(temporary.file), LOCK_EX);
    temporary.name = name;
    return temporary;
}

void setPermissions(const SystemFile& file, std::uint32_t permissions)
{
    ::fchmod(descriptor(file), static_cast<mode_t>(permissions));
}

Copied copyFile(const SystemFile& from, const SystemFile& to, std::int64_t length,
                const Subject& who)
{
    const int source = descriptor(from);
    const int target = descriptor(to);
    if (length == 0)
        return Copied::Whole;
#ifdef FICLONE
    // xfs, btrfs and others share the blocks: nothing is copied until one of the files changes them.
    struct stat cloned {};
    if (::ioctl(target, FICLONE, source) == 0 && ::fstat(target, &cloned) == 0) {
#ifdef FS_XFLAG_COWEXTSIZE
        // xfs gives a block written into a clone room for the 31 blocks after it too, as if more
        // writes were to follow; patches are few and far apart, so each gets its one block alone.
        struct fsxattr attributes {};
        if (::ioctl(target, FS_IOC_FSGETXATTR, &attributes) == 0) {
            attributes.fsx_xflags |= FS_XFLAG_COWEXTSIZE;
            attributes.fsx_cowextsize = static_cast<std::uint32_t>(cloned.st_blksize);
            (void)::ioctl(target, FS_IOC_FSSETXATTR, &attributes);
        }
#endif
        return cloned.st_size == length ? Copied::Shared : Copied::Short;
    }
#endif
    std::int64_t done = 0;
#ifdef __linux__
    // In the kernel, without a copy through memory. Refused across file systems on older kernels
    // and by some FUSE file systems, which are then copied through memory.
    while (done < length) {
        loff_t in = done;
        loff_t out = done;
        const ssize_t copied = ::copy_file_range(
            source, &in, target, &out,
            static_cast<std::size_t>(std::min<std::int64_t>(length - done, 1 << 30)), 0);
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0
            && (errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP || errno == ENOSYS))
            break;
        if (copied < 0)
            failWith(who, errno);
        if (copied == 0)
            return Copied::Short;
        done += copied;
    }
#endif
    return copyThroughMemory(source, target, done, length, who) == length ? Copied::Whole
                                                                          : Copied::Short;
}

void writeAt(const SystemFile& file, std::int64_t offset, std::span<const std::uint8_t> data,
             const Subject& who)
{
    writeDescriptor(descriptor(file), offset, data, who);
}

void startWriteBack([[maybe_unused]] const SystemFile& file, [[maybe_unused]] std::int64_t offset,
                    [[maybe_unused]] std::int64_t length)
{
#ifdef SYNC_FILE_RANGE_WRITE
    ::sync_file_range(descriptor(file), offset, length, SYNC_FILE_RANGE_WRITE);
#endif
}

void syncFile(const SystemFile& file, const Subject& who)
{
    if (::fsync(descriptor(file)) != 0)
        failWith(who, errno);
}

void unhide(const Temporary&, const Subject&)
{
    // Its name, with a dot in front, is what hides it.
}

std::optional<FileInfo> lookAtName(const Folder& folder, const std::string& name,
                                   const Subject& who)
{
    struct stat status {};
    if (::fstatat(descriptor(folder.file), nativeName(name).c_str(), &status, AT_SYMLINK_NOFOLLOW)
        == 0)
        return infoOf(status);
    if (errno == ENOENT)
        return std::nullopt;
    failWith(who, errno);
}

Named nameUnnamed(const Folder& folder, Temporary& temporary, const std::string& name,
                  const Subject& who)
{
    const std::string self = "/proc/self/fd/" + std::to_string(descriptor(temporary.file));
    int error = ::linkat(AT_FDCWD, self.c_str(), descriptor(folder.file), nativeName(name).c_str(),
                         AT_SYMLINK_FOLLOW)
                        == 0
                    ? 0
                    : errno;
    if (error == ENOENT && ::access("/proc/self/fd", F_OK) != 0) {
        // Without /proc: a way that needs more privileges, so it is only the second choice.
        error = ::linkat(descriptor(temporary.file), "", descriptor(folder.file),
                         nativeName(name).c_str(), AT_EMPTY_PATH)
                        == 0
                    ? 0
                    : errno;
    }
    if (error == EEXIST)
        return Named::Taken;
    if (error != 0)
        failWith(who, error);
    return Named::Done;
}

Named moveTo(const Folder& folder, Temporary& temporary, const std::string& name, bool replace,
             const Subject& who)
{
    const int at = descriptor(folder.file);
    const std::string target = nativeName(name);
    const char* const from = temporary.name.c_str();
    int error = 0;
    if (replace) {
        error = ::renameat(at, from, at, target.c_str()) == 0 ? 0 : errno;
    } else {
#ifdef RENAME_NOREPLACE
        error = ::renameat2(at, from, at, target.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
        if (error == EINVAL || error == ENOSYS || error == ENOTSUP)
#endif
        {
            // A second name, then the first removed: also never over another file.
            error = ::linkat(at, from, at, target.c_str(), 0) == 0 ? 0 : errno;
            if (error == 0)
                ::unlinkat(at, from, 0);
            // FAT and exFAT through FUSE take neither: the look just before the rename is what is left.
            if (error == EPERM || error == ENOTSUP || error == EOPNOTSUPP)
                error = ::renameat(at, from, at, target.c_str()) == 0 ? 0 : errno;
        }
    }
    if (error == EEXIST)
        return Named::Taken;
    // rename() refuses to put a file over a folder that appeared under the output's name.
    if (error == EISDIR || error == ENOTEMPTY)
        throw Error(who.action, who.path, Cause::FolderInTheWay);
    if (error != 0)
        failWith(who, error);
    return Named::Done;
}

void syncFolder(const Folder& folder, const Temporary&) { ::fsync(descriptor(folder.file)); }

void removeTemporary(const Folder& folder, Temporary& temporary) noexcept
{
    if (!temporary.name.empty() && !temporary.vanishes)
        ::unlinkat(descriptor(folder.file), temporary.name.c_str(), 0);
    temporary.file.reset();
}

std::vector<std::string> namesIn(const Folder& folder)
{
    std::vector<std::string> names;
    const int listing = ::openat(descriptor(folder.file), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* const directory = listing < 0 ? nullptr : ::fdopendir(listing);
    if (directory == nullptr) {
        if (listing >= 0)
            ::close(listing);
        return names;
    }
    while (const dirent* entry = ::readdir(directory))
        names.emplace_back(entry->d_name);
    ::closedir(directory);
    return names;
}

void removeIfAbandoned(const Folder& folder, const std::string& name, int seconds) noexcept
{
    const SystemFile file(::openat(descriptor(folder.file), name.c_str(),
                                   O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (!file.valid() || ::fstat(descriptor(file), &status) != 0 || !S_ISREG(status.st_mode)
        || status.st_mtime >= std::time(nullptr) - seconds
        || ::flock(descriptor(file), LOCK_EX | LOCK_NB) != 0)
        return;
    // Still the same file under that name, now that it is ours to remove.
    struct stat named {};
    if (::fstatat(descriptor(folder.file), name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0
        && named.st_ino == status.st_ino && named.st_dev == status.st_dev)
        ::unlinkat(descriptor(folder.file), name.c_str(), 0);
}

// Two signals would end the process without a word and leave its files half written. A process that
// writes more than its file size limit allows gets SIGXFSZ; ignored, the write fails with EFBIG
// instead, which the slot reports like any other failure. A program that opens a file for writing
// while a read lease is held on it sends the lease's holder SIGIO, whose default is to end it; the
// slot asks the lease itself, so the signal is ignored unless the program has a use for it.
void prepareProcess()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::signal(SIGXFSZ, SIG_IGN);
        struct sigaction current {};
        if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGIO, SIG_IGN);
    });
}

} // namespace tarnis::detail
