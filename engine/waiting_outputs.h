#pragma once

#include "common/error.h"
#include "common/file_slot.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnis {

/// Outputs that are written and wait for their commit, which a thread of their own takes while
/// the next files are read, repaired and written: the waits for the disk overlap that work. The
/// outputs that come meanwhile are committed together: each made durable, then each put in place
/// under its name, then their folders synced, so that a journaling file system makes the data of
/// all of them durable in one commit and their names in another, where committing them one by one
/// takes two commits a file. No output is named before its own data is durable, and none is
/// reported before its name is.
class WaitingOutputs {
public:
    /// Told how a waiting output's commit ended, on the committing thread: the file now under its
    /// name, or the Error that kept it out (its new file is then gone). Exactly one is given.
    using Done = std::function<void(const FileIdentity* written, const Error* error)>;

    /// At most `mostWaiting` outputs wait at once (each holds its folder and its file open);
    /// another waits for room. With 0, none waits: each is committed at once, in the caller's
    /// thread, as where no thread can be started.
    explicit WaitingOutputs(std::size_t mostWaiting);
    /// Commits what still waits, as commitAll().
    ~WaitingOutputs();
    WaitingOutputs(const WaitingOutputs&) = delete;
    WaitingOutputs& operator=(const WaitingOutputs&) = delete;

    /// The slot for the next file: its read, and its write until the write waits here.
    [[nodiscard]] FileSlot& slot();
    /// The write in slot(), to `outputPath`, is complete and waits for its commit; `done` is told
    /// how the commit ended.
    void wait(const std::string& outputPath, Done done);
    /// Returns once every output that waited is committed and told how it ended.
    void commitAll();

private:
    struct Waiting {
        std::unique_ptr<FileSlot> slot;
        std::string outputPath;
        Done done;
        FileIdentity written;
        bool failed = false;
    };
    static void commit(std::vector<Waiting>& outputs);
    void commitWhileRunning();

    std::size_t mostWaiting_;
    std::unique_ptr<FileSlot> next_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Waiting> waiting_;                 // not yet taken by the committing thread
    std::size_t inCommit_ = 0;                     // taken, and not yet told how they ended
    std::vector<std::unique_ptr<FileSlot>> spare_; // slots kept for the files to come
    bool ending_ = false;                          // the committing thread is to return
    // Ended by a flag under the mutex rather than by a std::jthread's stop token: MinGW's
    // libstdc++ 12 can lose the wake-up with which a stop callback that another thread is running
    // tells the waiting thread it has finished, and the two threads then wait for each other for
    // ever.
    std::thread committer_;
};

} // namespace tarnis
