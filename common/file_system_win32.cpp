// The file system calls of file slot 1 on Windows. The POSIX half is file_system_posix.cpp; the
// protocol over both is file_slot.cpp.
#include "common/file_system.h"

#include "common/file_names.h"
#include "common/utf16.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winioctl.h>

namespace tarnis::detail {

namespace {

// One read or write call moves at most 4 MiB, as on POSIX.
constexpr std::size_t kChunkBytes = std::size_t{1} << 22;

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

HANDLE handle(const SystemFile& file) { return reinterpret_cast<HANDLE>(file.get()); }

SystemFile owned(HANDLE value) { return SystemFile(reinterpret_cast<std::intptr_t>(value)); }

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
    case ERROR_BAD_NET_NAME: return Cause::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
    case ERROR_CANT_ACCESS_FILE: return Cause::NoPermission;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded: return Cause::DiskFull;
    case ERROR_FILE_TOO_LARGE:
    case kFileSystemLimitation: // a file past 4 GiB on FAT32
        return Cause::FileSizeLimit;
    case ERROR_WRITE_PROTECT: return Cause::ReadOnlyFileSystem;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW: // "the file name is too long"
        return Cause::NameTooLong;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME: return Cause::InvalidName;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES: return Cause::OutOfMemory;
    case ERROR_CRC:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_WRITE_FAULT:
    case ERROR_READ_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE: return Cause::DeviceError;
    case ERROR_TOO_MANY_OPEN_FILES: return Cause::TooManyOpenFiles;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
    case ERROR_DRIVE_LOCKED: return Cause::InUse;
    case ERROR_CANT_RESOLVE_FILENAME: return Cause::SymlinkLoop;
    case ERROR_INVALID_DRIVE:
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NO_MEDIA_IN_DRIVE: return Cause::NoDevice;
    case ERROR_ARITHMETIC_OVERFLOW: return Cause::ValueTooLarge;
    case ERROR_FILE_INVALID: // the volume changed under an open file
        return Cause::StaleNetworkFile;
    case ERROR_NOT_SAME_DEVICE: return Cause::CrossDevice;
    case ERROR_SEM_TIMEOUT:
    case ERROR_TIMEOUT: return Cause::TimedOut;
    case ERROR_BAD_NETPATH:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_BAD_NET_RESP:
    case ERROR_REM_NOT_LIST:
    case ERROR_NO_NETWORK:
    case ERROR_NETWORK_UNREACHABLE:
    case ERROR_HOST_UNREACHABLE:
    case ERROR_CONNECTION_ABORTED: return Cause::NetworkUnavailable;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED: return Cause::Unsupported;
    default: return Cause::UnknownSystemError;
    }
}

[[noreturn]] void failWith(const Subject& who, DWORD error)
{
    const Cause cause = causeOfSystemError(error);
    throw cause == Cause::UnknownSystemError ? windowsError(who.action, who.path, error)
                                             : Error(who.action, who.path, cause);
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

std::uint64_t combined(DWORD high, DWORD low) { return std::uint64_t{high} << 32 | low; }

std::uint64_t ticks(const FILETIME& time)
{
    return combined(time.dwHighDateTime, time.dwLowDateTime);
}

// What the protocol needs to know of an open file: another program writing it in place changes
// its times even where it keeps its length, and replacing it changes its index. Zero where the
// system does not say.
FileInfo infoOf(HANDLE file, const Subject& who)
{
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandle(file, &info)
        || !::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
        failWith(who, ::GetLastError());
    FileInfo result;
    result.stamp = {{info.dwVolumeSerialNumber, combined(info.nFileIndexHigh, info.nFileIndexLow)},
                    static_cast<std::int64_t>(combined(info.nFileSizeHigh, info.nFileSizeLow)),
                    static_cast<std::int64_t>(ticks(info.ftLastWriteTime)),
                    basic.ChangeTime.QuadPart,
                    0};
    result.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? FileKind::Folder
                  : ::GetFileType(file) != FILE_TYPE_DISK                 ? FileKind::Other
                                                                          : FileKind::Regular;
    result.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return result;
}

// Opens `path` only to look at it: a folder too, and a file that another program holds.
SystemFile openToLook(const std::wstring& path)
{
    return owned(::CreateFileW(path.c_str(), kLookOnly, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The name of the file at `path` when it is one: "not found" where no file has it, or the file
// when one has. Anything else the system reports is the failure.
std::optional<FileInfo> looked(const SystemFile& file, const Subject& who)
{
    if (file.valid())
        return infoOf(handle(file), who);
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return std::nullopt;
    failWith(who, error);
}

// Reads or writes (`call`) `count` bytes from `offset` on in calls of at most kChunkBytes, each
// at its own offset. Returns the bytes moved: fewer where a call moved nothing.
template <typename Call, typename Byte>
std::size_t inPieces(HANDLE file, Call call, Byte* data, std::size_t count, std::int64_t offset,
                     const Subject& who)
{
    std::size_t done = 0;
    while (done < count) {
        const auto wanted = static_cast<DWORD>(std::min(count - done, kChunkBytes));
        const auto at = static_cast<std::uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD moved = 0;
        if (!call(file, data + done, wanted, &moved, &where)
            && ::GetLastError() != ERROR_HANDLE_EOF)
            failWith(who, ::GetLastError());
        if (moved == 0)
            break;
        done += moved;
    }
    return done;
}

// A file that is being removed cannot be given another name, so the mark is taken off just before
// the move and put back where the move fails. Returns whether the file is marked.
bool markForRemoval(const Temporary& temporary, bool remove)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    const bool done = ::SetFileInformationByHandle(handle(temporary.file), FileDispositionInfo,
                                                   &disposition, sizeof disposition);
    return done ? remove : !remove;
}

// The block cloning calls of ReFS, as the Windows SDK declares them (MinGW's headers lack them).
constexpr DWORD kGetIntegrityInformation = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 159, METHOD_BUFFERED,
                                                    FILE_ANY_ACCESS);
constexpr DWORD kSetIntegrityInformation = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 160, METHOD_BUFFERED,
                                                    FILE_READ_DATA | FILE_WRITE_DATA);
constexpr DWORD kDuplicateExtentsToFile = CTL_CODE(FILE_DEVICE_FILE_SYSTEM, 209, METHOD_BUFFERED,
                                                   FILE_WRITE_DATA);
struct IntegrityInformation {
    WORD checksumAlgorithm;
    WORD reserved;
    DWORD flags;
    DWORD checksumChunkSizeInBytes;
    DWORD clusterSizeInBytes;
};
struct SetIntegrityInformation {
    WORD checksumAlgorithm;
    WORD reserved;
    DWORD flags;
};
struct DuplicateExtents {
    HANDLE fileHandle;
    LARGE_INTEGER sourceFileOffset;
    LARGE_INTEGER targetFileOffset;
    LARGE_INTEGER byteCount;
};

// ReFS (and Dev Drives) share blocks between files: a copy of its clusters costs no room until one
// of the files changes them. Anything else refuses the calls, and is copied.
bool cloneOnReFS(HANDLE from, HANDLE to, std::int64_t length)
{
    IntegrityInformation integrity{};
    DWORD returned = 0;
    BY_HANDLE_FILE_INFORMATION source{};
    if (!::DeviceIoControl(from, kGetIntegrityInformation, nullptr, 0, &integrity, sizeof integrity,
                           &returned, nullptr)
        || integrity.clusterSizeInBytes == 0 || !::GetFileInformationByHandle(from, &source)
        || (source.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0)
        return false;
    // The copy keeps checksums where its source does, and takes whole clusters, the last one
    // reaching past the end, which is then set back.
    SetIntegrityInformation same{integrity.checksumAlgorithm, 0, integrity.flags};
    const std::int64_t cluster = integrity.clusterSizeInBytes;
    const std::int64_t rounded = (length + cluster - 1) / cluster * cluster;
    const auto endAt = [&](std::int64_t end) {
        FILE_END_OF_FILE_INFO info{};
        info.EndOfFile.QuadPart = end;
        return ::SetFileInformationByHandle(to, FileEndOfFileInfo, &info, sizeof info) != FALSE;
    };
    bool cloned = ::DeviceIoControl(to, kSetIntegrityInformation, &same, sizeof same, nullptr, 0,
                                    &returned, nullptr)
                  && endAt(rounded);
    constexpr std::int64_t kMostPerCall = std::int64_t{1} << 30;
    for (std::int64_t at = 0; cloned && at < rounded; at += kMostPerCall) {
        DuplicateExtents extents{};
        extents.fileHandle = from;
        extents.sourceFileOffset.QuadPart = at;
        extents.targetFileOffset.QuadPart = at;
        extents.byteCount.QuadPart = std::min(kMostPerCall, rounded - at);
        cloned = ::DeviceIoControl(to, kDuplicateExtentsToFile, &extents, sizeof extents, nullptr,
                                   0, &returned, nullptr)
                 != FALSE;
    }
    return endAt(cloned ? length : 0) && cloned;
}

} // namespace

void SystemFile::reset(std::intptr_t value) noexcept
{
    if (valid())
        ::CloseHandle(handle(*this));
    value_ = value;
}

std::optional<FileInfo> lookAt(const std::string& path, const Subject& who)
{
    // A device name opens the device, or fails in ways that say nothing of it (Wine: "not found").
    if (isWindowsDeviceName(nameOf(path))) {
        FileInfo device;
        device.kind = FileKind::Other;
        return device;
    }
    // Said as such rather than as whatever a file system makes of it (Wine: "not found").
    if (utf16(nameOf(path)).size() > kLongestName)
        throw Error(who.action, who.path, Cause::NameTooLong);
    return looked(openToLook(nativePath(path)), who);
}

void checkMayReplace(const std::string& path, const Subject& who)
{
    // Whoever could not open it for writing and deleting may not have it replaced either; opened
    // without sharing, it also shows whether anybody else has it open, since Windows renames over
    // no open file.
    const SystemFile probe = owned(::CreateFileW(nativePath(path).c_str(), FILE_WRITE_DATA | DELETE,
                                                 0, nullptr, OPEN_EXISTING, 0, nullptr));
    const DWORD error = probe.valid() ? 0 : ::GetLastError();
    if (error == ERROR_ACCESS_DENIED)
        throw Error(who.action, who.path, Cause::WriteProtected);
    if (error != 0 && error != ERROR_FILE_NOT_FOUND)
        failWith(who, error);
}

OpenedFile openToRead(const std::string& path, bool watch, const Subject& who)
{
    if (isWindowsDeviceName(nameOf(path)))
        throw Error(who.action, who.path, Cause::NotRegularFile);
    const std::wstring native = nativePath(path);
    // Others may go on reading the file, but nobody may write, truncate, rename or delete it while
    // it is open here; one that is being written already cannot be opened (InUse).
    OpenedFile opened;
    opened.file = owned(::CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!opened.file.valid()) {
        const DWORD error = ::GetLastError();
        // A folder cannot be opened as a file at all, and says so as a lack of access.
        const DWORD attributes = error == ERROR_ACCESS_DENIED ? ::GetFileAttributesW(native.c_str())
                                                              : INVALID_FILE_ATTRIBUTES;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            throw Error(who.action, who.path, Cause::IsFolder);
        failWith(who, error);
    }
    opened.info = infoOf(handle(opened.file), who);
    // The sharing keeps writers out, mappings included; a second read is made only where asked for.
    opened.watched = watch;
    return opened;
}

FileInfo statusOf(const SystemFile& file, const Subject& who) { return infoOf(handle(file), who); }

bool writerCameBy(const SystemFile&)
{
    return false; // the sharing keeps every writer out
}

std::size_t readAt(const SystemFile& file, std::int64_t offset, std::span<std::uint8_t> buffer,
                   const Subject& who)
{
    return inPieces(handle(file), ::ReadFile, buffer.data(), buffer.size(), offset, who);
}

Folder openFolder(const std::string& outputPath, const Subject& who)
{
    // The folder's full path, so that the temporary file lies on the output's own volume even for
    // a path relative to another drive's working folder ("C:x_R.fit" run from D:).
    const std::wstring wide = utf16(outputPath);
    std::wstring full(::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr), L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()),
                                            full.data(), nullptr);
    if (length == 0 || length >= full.size())
        failWith(who, length == 0 ? ::GetLastError() : ERROR_BUFFER_OVERFLOW);
    full.resize(length);
    const std::string fullPath = utf8(full);
    Folder folder;
    folder.path = folderOf(fullPath);
    folder.outputName = nameOf(fullPath);
    return folder;
}

std::optional<Temporary> createUnnamed(const Folder&, std::uint32_t, const Subject&)
{
    return std::nullopt; // Windows has no unnamed files
}

std::optional<Temporary> createNamed(const Folder& folder, const std::string& name, std::uint32_t,
                                     const Subject& who)
{
    // Open, sharing only reading, until it is complete, so that another run's clean-up, opening it
    // without sharing, finds it in use.
    Temporary temporary;
    temporary.file = owned(::CreateFileW(nativePath(folder.path + name).c_str(),
                                         GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!temporary.file.valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            return std::nullopt;
        failWith(who, error);
    }
    temporary.name = name;
    // Marked for removal while it is written, so that the system removes it whenever the process
    // ends before the commit, killed too. A file system that refuses the mark leaves it to the
    // clean-up of abandoned temporary files.
    temporary.vanishes = markForRemoval(temporary, true);
    return temporary;
}

void setPermissions(const SystemFile&, std::uint32_t)
{
    // Windows files have no permission bits: a new file takes its folder's.
}

Copied copyFile(const SystemFile& from, const SystemFile& to, std::int64_t length,
                const Subject& who)
{
    if (length > 0 && cloneOnReFS(handle(from), handle(to), length))
        return Copied::Shared;
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(std::min<std::int64_t>(length, kChunkBytes)));
    for (std::int64_t done = 0; done < length;) {
        const std::span<std::uint8_t> piece(
            buffer.data(),
            static_cast<std::size_t>(std::min<std::int64_t>(length - done, kChunkBytes)));
        const std::size_t got = readAt(from, done, piece, who);
        writeAt(to, done, piece.first(got), who);
        if (got < piece.size())
            return Copied::Short;
        done += static_cast<std::int64_t>(got);
    }
    return Copied::Whole;
}

void writeAt(const SystemFile& file, std::int64_t offset, std::span<const std::uint8_t> data,
             const Subject& who)
{
    if (inPieces(handle(file), ::WriteFile, data.data(), data.size(), offset, who) != data.size())
        failWith(who, ERROR_DISK_FULL);
}

void startWriteBack(const SystemFile&, std::int64_t, std::int64_t) {}

void syncFile(const SystemFile& file, const Subject& who)
{
    if (!::FlushFileBuffers(handle(file)))
        failWith(who, ::GetLastError());
}

void unhide(const Temporary& temporary, const Subject& who)
{
    // Whatever else the new file took from its folder (not indexed, compressed, ...) stays. Zero
    // times stay as they are.
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(handle(temporary.file), FileBasicInfo, &basic,
                                        sizeof basic))
        failWith(who, ::GetLastError());
    basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = basic.LastWriteTime.QuadPart =
        basic.ChangeTime.QuadPart = 0;
    basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN);
    if (basic.FileAttributes == 0)
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(handle(temporary.file), FileBasicInfo, &basic, sizeof basic))
        failWith(who, ::GetLastError());
}

std::optional<FileInfo> lookAtName(const Folder& folder, const std::string& name,
                                   const Subject& who)
{
    return looked(openToLook(nativePath(folder.path + name)), who);
}

Named nameUnnamed(const Folder&, Temporary&, const std::string&, const Subject& who)
{
    failWith(who, ERROR_NOT_SUPPORTED); // never called: every temporary file has a name here
}

Named moveTo(const Folder& folder, Temporary& temporary, const std::string& name, bool replace,
             const Subject& who)
{
    // Through the open handle, so that the file moved is surely the one written. A new output is
    // moved only where no file has the name.
    const std::wstring target = nativePath(folder.path + name);
    std::vector<std::byte> buffer(offsetof(FILE_RENAME_INFO, FileName)
                                  + (target.size() + 1) * sizeof(wchar_t));
    auto* const rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::memcpy(buffer.data() + offsetof(FILE_RENAME_INFO, FileName), target.c_str(),
                (target.size() + 1) * sizeof(wchar_t));
    const bool wasMarked = temporary.vanishes;
    if (wasMarked)
        temporary.vanishes = markForRemoval(temporary, false);
    if (::SetFileInformationByHandle(handle(temporary.file), FileRenameInfo, rename,
                                     static_cast<DWORD>(buffer.size())))
        return Named::Done;
    const DWORD error = ::GetLastError();
    if (wasMarked)
        temporary.vanishes = markForRemoval(temporary, true);
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
        return Named::Taken;
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION
        || error == ERROR_ACCESS_DENIED)
        return Named::Held;
    failWith(who, error);
}

void syncFolder(const Folder&, const Temporary& output)
{
    // The move's record, in the file system's journal, goes to the disk with the file's own.
    ::FlushFileBuffers(handle(output.file));
}

void removeTemporary(const Folder& folder, Temporary& temporary) noexcept
{
    temporary.file.reset(); // first: the file cannot be deleted while this handle has it
    if (!temporary.name.empty() && !temporary.vanishes)
        ::DeleteFileW(nativePath(folder.path + temporary.name).c_str());
}

std::vector<std::string> namesIn(const Folder& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found{};
    const Search search(::FindFirstFileExW(nativePath(folder.path + "*").c_str(), FindExInfoBasic,
                                           &found, FindExSearchNameMatch, nullptr, 0));
    for (bool more = search.valid(); more; more = ::FindNextFileW(search.get(), &found))
        names.push_back(utf8(found.cFileName));
    return names;
}

void removeIfAbandoned(const Folder& folder, const std::string& name, int seconds) noexcept
{
    // Opening it without sharing fails as long as a running writer has it open; one that the
    // system is removing cannot be opened at all.
    const SystemFile file = owned(::CreateFileW(nativePath(folder.path + name).c_str(),
                                                DELETE | kLookOnly, 0, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    constexpr std::uint64_t kTicksPerSecond = 10'000'000;
    if (!file.valid() || !::GetFileInformationByHandle(handle(file), &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0
        || ticks(info.ftLastWriteTime)
               >= ticks(now) - static_cast<std::uint64_t>(seconds) * kTicksPerSecond)
        return;
    // Removed through the handle, so that it is surely the file just looked at.
    FILE_DISPOSITION_INFO remove{};
    remove.DeleteFile = TRUE;
    ::SetFileInformationByHandle(handle(file), FileDispositionInfo, &remove, sizeof remove);
}

void prepareProcess() {}

} // namespace tarnis::detail
