// The watch of a folder on Windows: ReadDirectoryChangesW, which says when a file is added, renamed
// in or written to; whether its writer is done, the watch learns by opening it without sharing
// write access, as the repair opens its inputs. Polling on network drives, whose changes made on
// another machine are told only as far as the server cares to.
#include "cli/folder_watch.h"

#include "common/utf16.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <utility>

#include <windows.h>

namespace tarnis::cli {

namespace {

bool onNetworkDrive(const std::wstring& folder)
{
    wchar_t root[MAX_PATH + 1] = {};
    if (GetVolumePathNameW(folder.c_str(), root, MAX_PATH) == 0)
        return false;
    return GetDriveTypeW(root) == DRIVE_REMOTE;
}

class DirectoryChanges : public FolderWatch {
public:
    DirectoryChanges(std::wstring path, HANDLE folder, HANDLE event)
        : path_(std::move(path)), folder_(folder), event_(event)
    {
    }
    ~DirectoryChanges() override
    {
        if (reading_) {
            CancelIoEx(folder_, &overlapped_);
            DWORD ignored = 0;
            GetOverlappedResult(folder_, &overlapped_, &ignored, TRUE);
        }
        CloseHandle(folder_);
        CloseHandle(event_);
    }
    DirectoryChanges(const DirectoryChanges&) = delete;
    DirectoryChanges& operator=(const DirectoryChanges&) = delete;

    // Asks for the next changes; false where the system refuses.
    bool read()
    {
        std::memset(&overlapped_, 0, sizeof overlapped_);
        overlapped_.hEvent = event_;
        reading_ = ReadDirectoryChangesW(folder_, buffer_, sizeof buffer_, FALSE,
                                         FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE
                                             | FILE_NOTIFY_CHANGE_LAST_WRITE,
                                         nullptr, &overlapped_, nullptr)
                   != 0;
        return reading_;
    }

    FolderChanges wait(std::chrono::milliseconds timeout) override
    {
        FolderChanges changes;
        if (!reading_ && !read()) {
            changes.gone = true;
            return changes;
        }
        if (WaitForSingleObject(event_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
            changes.gone = deletePending();
            return changes;
        }
        DWORD bytes = 0;
        const bool done = GetOverlappedResult(folder_, &overlapped_, &bytes, FALSE) != 0;
        reading_ = false;
        if (!done) {
            // The folder deleted, or its drive gone; too many changes for the buffer otherwise.
            const DWORD error = GetLastError();
            changes.gone = error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND
                           || error == ERROR_PATH_NOT_FOUND || error == ERROR_NETNAME_DELETED
                           || error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_NOT_READY;
            changes.lost = !changes.gone;
        } else if (bytes == 0) {
            changes.lost = true; // the buffer overflowed
        }
        for (DWORD at = 0; done && bytes > 0;) {
            FILE_NOTIFY_INFORMATION entry;
            std::memcpy(&entry, buffer_ + at, offsetof(FILE_NOTIFY_INFORMATION, FileName));
            if (entry.Action == FILE_ACTION_ADDED || entry.Action == FILE_ACTION_MODIFIED
                || entry.Action == FILE_ACTION_RENAMED_NEW_NAME) {
                std::wstring name(entry.FileNameLength / sizeof(wchar_t), L'\0');
                std::memcpy(name.data(), buffer_ + at + offsetof(FILE_NOTIFY_INFORMATION, FileName),
                            entry.FileNameLength);
                changes.names.push_back(utf8(name));
            }
            if (entry.NextEntryOffset == 0)
                break;
            at += entry.NextEntryOffset;
        }
        if (!changes.gone && !read())
            changes.gone = true;
        return changes;
    }

private:
    // A folder removed while this watch holds it open is either gone by its name at once (Windows
    // 10's POSIX deletion) or only marked for deletion until the watch lets it go, and then cannot
    // be opened again; neither ends the read of changes.
    bool deletePending() const
    {
        FILE_STANDARD_INFO info{};
        if (GetFileInformationByHandleEx(folder_, FileStandardInfo, &info, sizeof info) != 0
            && info.DeletePending)
            return true;
        const HANDLE again = CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr);
        if (again != INVALID_HANDLE_VALUE) {
            CloseHandle(again);
            return false;
        }
        const DWORD error = GetLastError();
        return error == ERROR_ACCESS_DENIED || error == ERROR_DELETE_PENDING
               || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }

    std::wstring path_;
    HANDLE folder_;
    HANDLE event_;
    OVERLAPPED overlapped_{};
    bool reading_ = false;
    alignas(DWORD) std::byte buffer_[64 * 1024];
};

} // namespace

std::unique_ptr<FolderWatch> notifyingWatch(const std::string& folder)
{
    const std::wstring wide = utf16(folder);
    if (onNetworkDrive(wide))
        return nullptr;
    const HANDLE handle = CreateFileW(
        wide.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) {
        CloseHandle(handle);
        return nullptr;
    }
    auto watch = std::make_unique<DirectoryChanges>(wide, handle, event);
    if (!watch->read())
        return nullptr; // a file system that gives no notification
    return watch;
}

} // namespace tarnis::cli
