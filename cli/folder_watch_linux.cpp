// The watch of a folder on Linux: inotify, which says when a writer closes a file it wrote and when
// a file is moved in; polling where the file system is FUSE or a network share, whose changes made
// elsewhere inotify never hears of.
#include "cli/folder_watch.h"

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

#include <poll.h>
#include <sys/inotify.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace tarnis::cli {

namespace {

// File systems whose files change without the kernel seeing it: FUSE (sshfs, rclone, a card
// through exFAT-FUSE), NFS, SMB and CIFS, 9P (shares of virtual machines), Ceph, AFS and Coda.
bool toldNothingOfChanges(const std::string& folder)
{
    struct statfs system {};
    if (::statfs(folder.c_str(), &system) != 0)
        return false;
    constexpr unsigned long kTypes[] = {0x65735546, 0x6969,     0x517B,     0xFE534D42, 0xFF534D42,
                                        0x01021997, 0x00C36400, 0x5346414F, 0x73757245};
    const auto type = static_cast<unsigned long>(system.f_type) & 0xFFFFFFFFUL;
    for (const unsigned long known : kTypes) {
        if (type == known)
            return true;
    }
    return false;
}

class Inotify : public FolderWatch {
public:
    explicit Inotify(int descriptor) : descriptor_(descriptor) {}
    ~Inotify() override { ::close(descriptor_); }
    Inotify(const Inotify&) = delete;
    Inotify& operator=(const Inotify&) = delete;

    FolderChanges wait(std::chrono::milliseconds timeout) override
    {
        FolderChanges changes;
        pollfd ready{descriptor_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(timeout.count())) <= 0)
            return changes; // nothing yet, or a signal came
        alignas(inotify_event) char buffer[64 * 1024];
        for (;;) {
            const ssize_t length = ::read(descriptor_, buffer, sizeof buffer);
            if (length <= 0)
                return changes; // EAGAIN: all read
            for (std::size_t at = 0; at < static_cast<std::size_t>(length);) {
                inotify_event event;
                std::memcpy(&event, buffer + at, sizeof event);
                if ((event.mask & IN_Q_OVERFLOW) != 0)
                    changes.lost = true;
                if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED)) != 0)
                    changes.gone = true;
                if ((event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0 && event.len > 0)
                    changes.names.emplace_back(buffer + at + sizeof event); // ends with a null
                at += sizeof event + event.len;
            }
        }
    }

private:
    const int descriptor_;
};

} // namespace

std::unique_ptr<FolderWatch> notifyingWatch(const std::string& folder)
{
    if (toldNothingOfChanges(folder))
        return nullptr;
    const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr; // out of inotify instances: looking again and again still works
    auto watch = std::make_unique<Inotify>(descriptor);
    if (::inotify_add_watch(descriptor, folder.c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF
                                | IN_ONLYDIR | IN_EXCL_UNLINK)
        < 0)
        return nullptr;
    return watch;
}

} // namespace tarnis::cli
