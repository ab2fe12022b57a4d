#include "common/file_slot.h"

#include "common/error.h"
#include "common/text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnis {

namespace {

// One read or write call moves at most 4 MiB. Writing a 48 MB image in one call made the kernel's
// copy into newly allocated cache pages several times slower (150 ms against 25 ms per image, on the
// first run after start); small calls also stay far below the 2 GiB that Linux moves in one.
constexpr std::size_t kChunkBytes = std::size_t{1} << 22;

constexpr std::string_view kNotRegularFile = "通常のファイルではありません（デバイスやパイプなど）。";
constexpr std::string_view kFolderInTheWay = "同じ名前のフォルダがあるため、ファイルを作れません。";
constexpr std::string_view kSlotBusy = "別のファイルが開いたままです。";

std::string nativePath(const std::string& path)
{
    return pathFromUtf8(path).native();
}

// The folder part of a path including its separator, or an empty text for a bare name.
std::string folderOf(const std::string& path)
{
    const auto separator = path.rfind(kPathSeparator);
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string randomSuffix()
{
    static std::mt19937_64 generator{std::random_device{}()};
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

// Makes a completed rename survive a power cut. Failing here changes nothing the user can act on:
// the new file is already in place, so this is done on a best-effort basis.
void syncFolder(const std::string& folder)
{
    const std::string name = folder.empty() ? std::string(".") : nativePath(folder);
    const int descriptor = ::open(name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

} // namespace

std::int64_t fileLengthByName(const std::string& path)
{
    struct stat status {};
    if (::stat(nativePath(path).c_str(), &status) != 0)
        throw fileError(FileAction::Read, path, errno);
    if (S_ISDIR(status.st_mode))
        throw fileError(FileAction::Read, path, EISDIR);
    if (!S_ISREG(status.st_mode))
        throw fileError(FileAction::Read, path, kNotRegularFile);
    return status.st_size;
}

FileSlot::~FileSlot()
{
    close();
}

void FileSlot::fail(int errorNumber)
{
    throw fileError(mode_ == Mode::Writing ? FileAction::Write : FileAction::Read, path_, errorNumber);
}

void FileSlot::openForReading(const std::string& path)
{
    if (isOpen())
        throw fileError(FileAction::Read, path, kSlotBusy);
    // Non-blocking, so that a FIFO given as input fails below instead of waiting for a writer.
    const int descriptor = ::open(nativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        throw fileError(FileAction::Read, path, errno);
    struct stat status {};
    const bool statusKnown = ::fstat(descriptor, &status) == 0;
    const int statusError = errno;
    if (!statusKnown || !S_ISREG(status.st_mode)) {
        ::close(descriptor);
        if (!statusKnown)
            throw fileError(FileAction::Read, path, statusError);
        if (S_ISDIR(status.st_mode))
            throw fileError(FileAction::Read, path, EISDIR);
        throw fileError(FileAction::Read, path, kNotRegularFile);
    }
    descriptor_ = descriptor;
    mode_ = Mode::Reading;
    path_ = path;
}

std::int64_t FileSlot::length() const
{
    struct stat status {};
    if (mode_ != Mode::Reading || ::fstat(descriptor_, &status) != 0)
        throw fileError(FileAction::Read, path_, mode_ != Mode::Reading ? EBADF : errno);
    return status.st_size;
}

void FileSlot::readAll(std::span<std::uint8_t> buffer)
{
    if (mode_ != Mode::Reading)
        throw fileError(FileAction::Read, path_, EBADF);
    std::size_t done = 0;
    while (done < buffer.size()) {
        const std::size_t wanted = std::min(buffer.size() - done, kChunkBytes);
        const ssize_t got = ::pread(descriptor_, buffer.data() + done, wanted, static_cast<off_t>(done));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (got == 0)
            throw fileError(FileAction::Read, path_, kFileChangedWhileReading);
        done += static_cast<std::size_t>(got);
    }
    // One byte more than expected means the file grew after it was measured.
    std::uint8_t extra = 0;
    ssize_t got = 0;
    do {
        got = ::pread(descriptor_, &extra, 1, static_cast<off_t>(done));
    } while (got < 0 && errno == EINTR);
    if (got < 0)
        fail(errno);
    if (got > 0)
        throw fileError(FileAction::Read, path_, kFileChangedWhileReading);
}

void FileSlot::openForWriting(const std::string& path)
{
    if (isOpen())
        throw fileError(FileAction::Write, path, kSlotBusy);

    struct stat existing {};
    const bool exists = ::stat(nativePath(path).c_str(), &existing) == 0;
    if (!exists && errno != ENOENT)
        throw fileError(FileAction::Write, path, errno);
    if (exists && S_ISDIR(existing.st_mode))
        throw fileError(FileAction::Write, path, kFolderInTheWay);
    if (exists && !S_ISREG(existing.st_mode))
        throw fileError(FileAction::Write, path, kNotRegularFile);

    // The temporary name is short and fixed in form, so that it fits wherever the output's name fits,
    // and hidden, so that nobody takes it for a result while it is being written.
    const std::string folder = folderOf(path);
    int descriptor = -1;
    std::string temporaryPath;
    for (int attempt = 0; descriptor < 0 && attempt < 100; ++attempt) {
        temporaryPath = folder + ".tarnis-" + randomSuffix() + ".tmp";
        descriptor = ::open(nativePath(temporaryPath).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno != EEXIST)
            throw fileError(FileAction::Write, path, errno);
    }
    if (descriptor < 0)
        throw fileError(FileAction::Write, path, EEXIST);
    // A replaced output keeps the permissions it had; a new one gets the usual ones for new files.
    if (exists)
        ::fchmod(descriptor, existing.st_mode & 07777);

    descriptor_ = descriptor;
    mode_ = Mode::Writing;
    path_ = path;
    temporaryPath_ = temporaryPath;
}

void FileSlot::writeAll(std::span<const std::uint8_t> data)
{
    if (mode_ != Mode::Writing)
        throw fileError(FileAction::Write, path_, EBADF);
    std::size_t done = 0;
    while (done < data.size()) {
        const std::size_t wanted = std::min(data.size() - done, kChunkBytes);
        const ssize_t written = ::pwrite(descriptor_, data.data() + done, wanted, static_cast<off_t>(done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            fail(errno);
        }
        if (written == 0)
            fail(ENOSPC);
        done += static_cast<std::size_t>(written);
    }
}

void FileSlot::commit()
{
    if (mode_ != Mode::Writing)
        throw fileError(FileAction::Write, path_, EBADF);
    // A delayed write error (a full disk, a network share gone away) shows up here or at close.
    if (::fsync(descriptor_) != 0)
        fail(errno);
    const int descriptor = descriptor_;
    descriptor_ = -1;
    int error = ::close(descriptor) == 0 ? 0 : errno;
    if (error == 0 && ::rename(nativePath(temporaryPath_).c_str(), nativePath(path_).c_str()) != 0)
        error = errno;
    if (error != 0) {
        const std::string path = path_;
        close(); // removes the temporary file
        // rename() refuses to put a file over a folder that appeared under the output's name.
        const bool folderInTheWay = error == EISDIR || error == ENOTEMPTY || error == EEXIST;
        throw folderInTheWay ? fileError(FileAction::Write, path, kFolderInTheWay)
                             : fileError(FileAction::Write, path, error);
    }
    syncFolder(folderOf(path_));
    temporaryPath_.clear(); // now the output's own name: close() must not remove it
    close();
}

void FileSlot::close() noexcept
{
    if (descriptor_ >= 0)
        ::close(descriptor_);
    if (mode_ == Mode::Writing && !temporaryPath_.empty())
        ::unlink(nativePath(temporaryPath_).c_str());
    descriptor_ = -1;
    mode_ = Mode::Closed;
    path_.clear();
    temporaryPath_.clear();
}

} // namespace tarnis
