#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace tarnis::cli {

// What a watch learns of its folder, from the system where it tells (folder_watch_linux.cpp,
// folder_watch_win32.cpp) or by looking again and again (folder_watch.cpp). The watch's own logic,
// written once, is in watch.cpp.

struct FolderChanges {
    /// Names (UTF-8) of files that may have become complete since the last wait: on Linux closed
    /// after writing or moved in, on Windows added, renamed in or written to, when polling new or
    /// changed in length or time. Some may be gone again.
    std::vector<std::string> names;
    /// Changes were lost (too many at once): every file of the folder is to be looked at.
    bool lost = false;
    /// The folder was removed, moved away, or its file system unmounted.
    bool gone = false;
};

class FolderWatch {
public:
    virtual ~FolderWatch() = default;
    /// The changes since the last call, waiting at most `timeout` for the first.
    [[nodiscard]] virtual FolderChanges wait(std::chrono::milliseconds timeout) = 0;
};

/// The system's notifications of changes in `folder` (ending with a separator): inotify on Linux,
/// ReadDirectoryChangesW on Windows. Nothing where its file system tells nobody of changes made
/// elsewhere (FUSE and network shares, told by their type) or the system gives no watch.
[[nodiscard]] std::unique_ptr<FolderWatch> notifyingWatch(const std::string& folder);

/// A watch that lists `folder` every `every`, for file systems that give no notification.
[[nodiscard]] std::unique_ptr<FolderWatch> pollingWatch(const std::string& folder,
                                                        std::chrono::milliseconds every);

} // namespace tarnis::cli
