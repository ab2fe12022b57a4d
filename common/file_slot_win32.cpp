// File slot 1 on Windows. The POSIX half is file_slot_posix.cpp; both keep the promises of
// file_slot.h, each with its own system's calls.
#include "common/file_slot.h"

#include "common/error.h"
#include "common/file_slot_internal.h"

#include <algorithm>
#include <utility>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tarnis {

namespace {

using detail::folderOf;
using detail::nameOf;

// Owns one open file handle.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE value) : value_(value) {}
    Handle(Handle&& other) noexcept : value_(std::exchange(other.value_, INVALID_HANDLE_VALUE)) {}
    Handle& operator=(Handle&& other) noexcept
    {
        reset(std::exchange(other.value_, INVALID_HANDLE_VALUE));
        return *this;
    }
    ~Handle() { reset(); }

    [[nodiscard]] HANDLE get() const { return value_; }
    [[nodiscard]] bool valid() const { return value_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE value = INVALID_HANDLE_VALUE) noexcept
    {
        if (valid())
            ::CloseHandle(value_);
        value_ = value;
    }

private:
    HANDLE value_ = INVALID_HANDLE_VALUE;
};

// Owns one search of a folder.
class Search {
public:
    explicit Search(HANDLE value) : value_(value) {}
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;
    ~Search()
    {
        if (valid())
            ::FindClose(value_);
    }

    [[nodiscard]] HANDLE get() const { return value_; }
    [[nodiscard]] bool valid() const { return value_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE value_;
};

// Access rights that sharing modes do not govern: opened with only these, a file can be looked at
// even while another program holds it without sharing.
constexpr DWORD kLookOnly = FILE_READ_ATTRIBUTES;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// No Windows file system (NTFS, FAT, exFAT, ReFS) takes a name longer than this, in UTF-16 units.
constexpr std::size_t kLongestName = 255;

// Paths at least this long take the \\?\ form. MAX_PATH (260) holds a file's path; a folder's
// must leave room for an 8.3 name (12) besides.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// Codes that MinGW's headers lack.
constexpr DWORD kFileSystemLimitation = 665; // ERROR_FILE_SYSTEM_LIMITATION
constexpr DWORD kDiskQuotaExceeded = 1295;   // ERROR_DISK_QUOTA_EXCEEDED

Cause causeOfSystemError(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NET_NAME:
        return Cause::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_CANT_ACCESS_FILE:
        return Cause::NoPermission;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
        return Cause::DiskFull;
    case ERROR_FILE_TOO_LARGE:
    case kFileSystemLimitation: // a file past 4 GiB on FAT32
        return Cause::FileSizeLimit;
    case ERROR_WRITE_PROTECT:
        return Cause::ReadOnlyFileSystem;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: // "the file name is too long"
        return Cause::NameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
        return Cause::InvalidName;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
        return Cause::OutOfMemory;
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
        return Cause::DeviceError;
    case ERROR_TOO_MANY_OPEN_FILES:
        return Cause::TooManyOpenFiles;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_DRIVE_LOCKED:
        return Cause::InUse;
    case ERROR_CANT_RESOLVE_FILENAME:
        return Cause::SymlinkLoop;
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NO_MEDIA_IN_DRIVE:
        return Cause::NoDevice;
    case ERROR_ARITHMETIC_OVERFLOW:
        return Cause::ValueTooLarge;
    case ERROR_FILE_INVALID: // the volume changed under an open file
        return Cause::StaleNetworkFile;
    case ERROR_NOT_SAME_DEVICE:
        return Cause::CrossDevice;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT:
        return Cause::TimedOut;
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_BAD_NET_RESP:
    case ERROR_REM_NOT_LIST:
    case ERROR_NO_NETWORK:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_CONNECTION_ABORTED:
        return Cause::NetworkUnavailable;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
        return Cause::Unsupported;
    default:
        return Cause::UnknownSystemError;
    }
}

Error systemError(FileAction action, const std::string& path, DWORD error)
{
    const Cause cause = causeOfSystemError(error);
    return cause == Cause::UnknownSystemError ? windowsError(action, path, error) : Error(action, path, cause);
}

std::wstring utf16(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

// A UTF-8 path as the wide-character calls take it. A path that MAX_PATH cannot hold is made full
// and given the \\?\ form, which lifts the limit; since that form is taken literally, the full path
// is what turns "/" into "\" and resolves "." and "..". A shorter path keeps the usual reading.
std::wstring nativePath(const std::string& path)
{
    std::wstring wide = utf16(path);
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed < kLongPath)
        return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return wide;
    full.resize(length);
    if (full.starts_with(L"\\\\?\\") || full.starts_with(L"\\\\.\\"))
        return full;
    if (full.starts_with(L"\\\\")) // \\server\share\...
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::uint64_t combined(DWORD high, DWORD low)
{
    return std::uint64_t{high} << 32 | low;
}

std::uint64_t ticks(const FILETIME& time)
{
    return combined(time.dwHighDateTime, time.dwLowDateTime);
}

// What tells whether a file changed between two looks at it: another program writing it in place
// changes its times even where it keeps its length, and replacing it changes its index.
struct FileState {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::uint64_t lastWrite = 0;
    std::int64_t change = 0;
    DWORD attributes = 0;

    friend bool operator==(const FileState&, const FileState&) = default;
};

// The state of an open file; 0 or the system's error.
DWORD stateOf(HANDLE file, FileState& state)
{
    BY_HANDLE_FILE_INFORMATION info {};
    FILE_BASIC_INFO basic {};
    if (!::GetFileInformationByHandle(file, &info)
        || !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        return ::GetLastError();
    state = {info.dwVolumeSerialNumber,
             combined(info.nFileIndexHigh, info.nFileIndexLow),
             combined(info.nFileSizeHigh, info.nFileSizeLow),
             ticks(info.ftLastWriteTime),
             basic.ChangeTime.QuadPart,
             info.dwFileAttributes};
    return 0;
}

FileStamp stampOf(const FileState& state)
{
    return {{state.volume, state.index},
            static_cast<std::int64_t>(state.size),
            static_cast<std::int64_t>(state.lastWrite),
            state.change,
            0};
}

// Opens `path` only to look at it: a folder too, and a file that another program holds.
Handle openToLook(const std::wstring& path)
{
    return Handle(::CreateFileW(path.c_str(), kLookOnly, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Refuses, with its cause, to replace the existing file at `path`: a folder or a device, a file with
// the read-only attribute or that its user may not write, or one that another program has open,
// since Windows renames over no open file. Does nothing where no file is.
void checkReplaceable(const std::string& path, const std::wstring& native)
{
    Handle existing = openToLook(native);
    if (!existing.valid()) {
        const DWORD error = ::GetLastError();
        // A missing folder is reported when the temporary file cannot be made in it.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return;
        throw systemError(FileAction::Write, path, error);
    }
    if (::GetFileType(existing.get()) != FILE_TYPE_DISK)
        throw Error(FileAction::Write, path, Cause::NotRegularFile);
    FileState state;
    if (const DWORD error = stateOf(existing.get(), state); error != 0)
        throw systemError(FileAction::Write, path, error);
    if ((state.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        throw Error(FileAction::Write, path, Cause::FolderInTheWay);
    if ((state.attributes & FILE_ATTRIBUTE_READONLY) != 0)
        throw Error(FileAction::Write, path, Cause::WriteProtected);
    existing.reset();
    // Whoever could not open it for writing and deleting may not have it replaced either; opened
    // without sharing, it also shows whether anybody else has it open.
    const Handle probe(::CreateFileW(native.c_str(), FILE_WRITE_DATA | DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!probe.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_ACCESS_DENIED)
            throw Error(FileAction::Write, path, Cause::WriteProtected);
        if (error != ERROR_FILE_NOT_FOUND)
            throw systemError(FileAction::Write, path, error);
    }
}

// Removes the temporary files in `folder` that a killed process left behind: those no process has
// open and nobody has written for a while. A running writer keeps its file open from the moment it
// creates it until the file is complete, and opening it without sharing fails as long as it does.
void removeAbandonedTemporaries(const std::string& folder)
{
    const std::string pattern = folder + std::string(detail::kTemporaryPrefix) + "*" + std::string(detail::kTemporarySuffix);
    WIN32_FIND_DATAW found {};
    const Search search(::FindFirstFileExW(nativePath(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
    if (!search.valid())
        return;
    FILETIME now {};
    ::GetSystemTimeAsFileTime(&now);
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    const std::uint64_t abandonedBefore = ticks(now) - detail::kAbandonedAfterSeconds * kTicksPerSecond;
    do {
        // Temporary names are ASCII; anything else is the user's.
        const std::wstring wide = found.cFileName;
        if (std::any_of(wide.begin(), wide.end(), [](wchar_t c) { return c > 0x7F; }))
            continue;
        const std::string name(wide.begin(), wide.end());
        if (!detail::isTemporaryName(name))
            continue;
        const Handle file(::CreateFileW(nativePath(folder + name).c_str(), DELETE | kLookOnly, 0, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FileState state;
        if (!file.valid() || stateOf(file.get(), state) != 0
            || (state.attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0
            || state.lastWrite >= abandonedBefore)
            continue;
        // Removed through the handle, so that it is surely the file just looked at.
        FILE_DISPOSITION_INFO remove {};
        remove.DeleteFile = TRUE;
        ::SetFileInformationByHandle(file.get(), FileDispositionInfo, &remove, sizeof remove);
    } while (::FindNextFileW(search.get(), &found));
}

} // namespace

struct FileSlot::Native {
    enum class Mode { Closed, Reading, Writing };

    ChangeWatch changeWatch = ChangeWatch::WherePossible;
    Mode mode = Mode::Closed;
    Handle file;
    std::string path;            // the name the user knows, as shown in errors
    FileState opened;            // the input as it was when it was opened
    std::wstring outputPath;     // as the platform spells it
    std::wstring temporaryPath;  // empty once the file is in place
    std::optional<FileStamp> replacing;       // what the write may replace; nothing: no file at all
    std::optional<std::string> cleanedFolder; // where abandoned temporary files were last looked for

    [[noreturn]] void fail(Cause cause) const
    {
        throw Error(mode == Mode::Writing ? FileAction::Write : FileAction::Read, path, cause);
    }
    [[noreturn]] void failWith(DWORD error) const
    {
        throw systemError(mode == Mode::Writing ? FileAction::Write : FileAction::Read, path, error);
    }

    // Creates the hidden temporary file of a write in the output's folder. Windows has no unnamed
    // files, so it is named from the start. It stays open, sharing only reading, until it is
    // complete, so that another run's clean-up, opening it without sharing, finds it in use.
    void createTemporary(const std::string& folder)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::wstring name = nativePath(folder + detail::newTemporaryName());
            file.reset(::CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
            if (file.valid()) {
                temporaryPath = name;
                return;
            }
            if (const DWORD error = ::GetLastError(); error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
                failWith(error);
        }
        failWith(ERROR_FILE_EXISTS);
    }

    // Reads or writes (`call`) `count` bytes from `offset` on in calls of at most kChunkBytes, each
    // at its own offset. Returns 0, ERROR_HANDLE_EOF where a call moved nothing, or the error.
    template <typename Call, typename Byte>
    DWORD inPieces(Call call, Byte* data, std::size_t count, std::uint64_t offset = 0)
    {
        std::size_t done = 0;
        while (done < count) {
            const auto wanted = static_cast<DWORD>(std::min(count - done, detail::kChunkBytes));
            OVERLAPPED at {};
            at.Offset = static_cast<DWORD>(offset + done);
            at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
            DWORD moved = 0;
            if (!call(file.get(), data + done, wanted, &moved, &at))
                return ::GetLastError();
            if (moved == 0)
                return ERROR_HANDLE_EOF;
            done += moved;
        }
        return 0;
    }

    // Fails when the input is no longer as it was opened, or not the length read.
    void checkStillAsOpened(std::size_t length) const
    {
        FileState now;
        if (const DWORD error = stateOf(file.get(), now); error != 0)
            failWith(error);
        if (!(now == opened) || now.size != length)
            fail(Cause::ChangedWhileReading);
    }

    // Whether the name is free, or taken by the file the write may replace, unchanged.
    [[nodiscard]] bool nameFreeOrAsExpected() const
    {
        const Handle existing = openToLook(outputPath);
        if (!existing.valid()) {
            // A missing folder is reported when the temporary file cannot be made in it.
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
        }
        FileState state;
        return replacing && stateOf(existing.get(), state) == 0 && stampOf(state) == *replacing;
    }
};

namespace {

// A device name opens the device, or fails in ways that say nothing of it (Wine: "not found").
void refuseDevice(const std::string& path)
{
    if (isWindowsDeviceName(nameOf(path)))
        throw Error(FileAction::Read, path, Cause::NotRegularFile);
}

} // namespace

std::int64_t fileLengthByName(const std::string& path)
{
    refuseDevice(path);
    const Handle file = openToLook(nativePath(path));
    if (!file.valid())
        throw systemError(FileAction::Read, path, ::GetLastError());
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        throw Error(FileAction::Read, path, Cause::NotRegularFile);
    FileState state;
    if (const DWORD error = stateOf(file.get(), state); error != 0)
        throw systemError(FileAction::Read, path, error);
    if ((state.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        throw Error(FileAction::Read, path, Cause::IsFolder);
    return static_cast<std::int64_t>(state.size);
}

std::optional<FileIdentity> fileIdentityByName(const std::string& path)
{
    const Handle file = openToLook(nativePath(path));
    BY_HANDLE_FILE_INFORMATION info {};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info))
        return std::nullopt;
    return FileIdentity{info.dwVolumeSerialNumber, combined(info.nFileIndexHigh, info.nFileIndexLow)};
}

// Windows has no unnamed files: every write goes through a hidden named temporary file.
FileSlot::FileSlot(TemporaryFiles, ChangeWatch changeWatch) : native_(std::make_unique<Native>())
{
    native_->changeWatch = changeWatch;
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
    refuseDevice(path);
    const std::wstring native = nativePath(path);
    // Others may go on reading the file, but nobody may write, truncate, rename or delete it while
    // it is open here; one that is being written already cannot be opened (InUse).
    Handle file(::CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        // A folder cannot be opened as a file at all, and says so as a lack of access.
        if (error == ERROR_ACCESS_DENIED) {
            const DWORD attributes = ::GetFileAttributesW(native.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                throw Error(FileAction::Read, path, Cause::IsFolder);
        }
        throw systemError(FileAction::Read, path, error);
    }
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        throw Error(FileAction::Read, path, Cause::NotRegularFile);
    FileState state;
    if (const DWORD error = stateOf(file.get(), state); error != 0)
        throw systemError(FileAction::Read, path, error);
    n.file = std::move(file);
    n.opened = state;
    n.mode = Native::Mode::Reading;
    n.path = path;
}

std::int64_t FileSlot::length() const
{
    const Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    return static_cast<std::int64_t>(n.opened.size);
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
    const DWORD error = n.inPieces(::ReadFile, buffer.data(), buffer.size());
    if (error == ERROR_HANDLE_EOF)
        n.fail(Cause::ChangedWhileReading);
    if (error != 0)
        n.failWith(error);
    // The sharing above keeps writers out, but a program that opened the file only to change its
    // times, or a file system that ignores sharing, is still noticed here.
    n.checkStillAsOpened(buffer.size());
}

void FileSlot::confirmUnchanged(std::span<const std::uint8_t> buffer)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    // Sharing only reading keeps every writer out, a mapping's too, so a second read is made only
    // where it is asked for.
    if (n.changeWatch == ChangeWatch::ReadTwice) {
        std::vector<std::uint8_t> again(buffer.size());
        const DWORD error = n.inPieces(::ReadFile, again.data(), again.size());
        if (error == ERROR_HANDLE_EOF || (error == 0 && !std::equal(again.begin(), again.end(), buffer.begin())))
            n.fail(Cause::ChangedWhileReading);
        if (error != 0)
            n.failWith(error);
    }
    n.checkStillAsOpened(buffer.size());
}

void FileSlot::readAt(std::int64_t offset, std::span<std::uint8_t> buffer)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Reading)
        throw Error(FileAction::Read, n.path, Cause::SlotBusy);
    const DWORD error = n.inPieces(::ReadFile, buffer.data(), buffer.size(), static_cast<std::uint64_t>(offset));
    if (error == ERROR_HANDLE_EOF)
        n.fail(Cause::ChangedWhileReading);
    if (error != 0)
        n.failWith(error);
}

// Windows files have no permission bits to give a new file: it takes its folder's.
void FileSlot::openForWriting(const std::string& path, const std::optional<FileStamp>& replacing, std::uint32_t)
{
    Native& n = *native_;
    if (isOpen())
        throw Error(FileAction::Write, path, Cause::SlotBusy);
    // Said as such rather than as whatever a file system makes of it (Wine: "not found").
    if (utf16(nameOf(path)).size() > kLongestName)
        throw Error(FileAction::Write, path, Cause::NameTooLong);
    const std::wstring native = nativePath(path);
    checkReplaceable(path, native);

    const std::string folder = folderOf(path);
    n.mode = Native::Mode::Writing;
    n.path = path;
    n.outputPath = native;
    n.replacing = replacing;
    if (!n.nameFreeOrAsExpected() || (replacing && !fileIdentityByName(path))) {
        close();
        throw Error(FileAction::Write, path, Cause::OutputChanged);
    }
    try {
        n.createTemporary(folder);
    } catch (...) {
        close();
        throw;
    }
    // Only now that the folder is known to exist; the new temporary file is too recent to be taken.
    if (folder != n.cleanedFolder) {
        removeAbandonedTemporaries(folder);
        n.cleanedFolder = folder;
    }
}

void FileSlot::writeAll(std::span<const std::uint8_t> data)
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Writing)
        throw Error(FileAction::Write, n.path, Cause::SlotBusy);
    if (const DWORD error = n.inPieces(::WriteFile, data.data(), data.size()); error != 0)
        n.failWith(error == ERROR_HANDLE_EOF ? ERROR_DISK_FULL : error);
}

FileIdentity FileSlot::commit()
{
    Native& n = *native_;
    if (n.mode != Native::Mode::Writing)
        throw Error(FileAction::Write, n.path, Cause::SlotBusy);
    // The temporary file is hidden; the output it becomes is not. Zero times stay as they are.
    FILE_BASIC_INFO basic {};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    if (!::SetFileInformationByHandle(n.file.get(), FileBasicInfo, &basic, sizeof basic))
        n.failWith(::GetLastError());
    // A delayed write error (a full disk, a network share gone away) shows up here.
    if (!::FlushFileBuffers(n.file.get()))
        n.failWith(::GetLastError());
    FileState written;
    if (const DWORD error = stateOf(n.file.get(), written); error != 0)
        n.failWith(error);
    // The move opens the file for deleting, which this handle, sharing only reading, would refuse.
    n.file.reset();
    // Write-through: the new name is on the disk when the call returns, so it survives a power cut.
    // A new output is moved only where no file has the name; an existing one is replaced only while
    // it is still the file expected there. A virus scanner or the search indexer often opens a file
    // for a moment just after it was written, and the move then fails as if another program held
    // it; such a hold passes within a moment, so the move is tried for half a second before it
    // counts as failed.
    const DWORD replace = n.replacing ? MOVEFILE_REPLACE_EXISTING : 0;
    for (int attempt = 1;; ++attempt) {
        if (!n.nameFreeOrAsExpected())
            n.fail(Cause::OutputChanged);
        if (::MoveFileExW(n.temporaryPath.c_str(), n.outputPath.c_str(), replace | MOVEFILE_WRITE_THROUGH))
            break;
        const DWORD error = ::GetLastError();
        if ((error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED) && attempt < 10) {
            ::Sleep(50);
            continue;
        }
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            n.fail(Cause::OutputChanged);
        // Whatever appeared under the output's name since openForWriting says why, if anything does.
        checkReplaceable(n.path, n.outputPath);
        n.failWith(error);
    }
    n.temporaryPath.clear(); // now the output's own name: close() must not remove it
    close();
    return stampOf(written).identity;
}

void FileSlot::close() noexcept
{
    Native& n = *native_;
    n.file.reset(); // first: the file cannot be deleted while this handle has it
    if (n.mode == Native::Mode::Writing && !n.temporaryPath.empty())
        ::DeleteFileW(n.temporaryPath.c_str());
    n.mode = Native::Mode::Closed;
    n.path.clear();
    n.outputPath.clear();
    n.temporaryPath.clear();
    n.replacing.reset();
}

} // namespace tarnis
