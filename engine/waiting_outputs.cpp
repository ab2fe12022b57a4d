#include "engine/waiting_outputs.h"

#include "common/cause.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

namespace tarnis {

namespace {

// Runs `step` on each output that has not failed; one that fails is abandoned, told why, and left
// out of the steps after.
template <typename Output, typename Step>
void forEachStanding(std::vector<Output>& outputs, const Step& step)
{
    for (Output& output : outputs) {
        if (output.failed)
            continue;
        const auto fail = [&](const Error& error) {
            output.failed = true;
            output.slot->close();
            output.done(nullptr, &error);
        };
        try {
            step(output);
        } catch (const Error& error) {
            fail(error);
        } catch (const std::bad_alloc&) {
            fail(Error(FileAction::Write, output.outputPath, Cause::OutOfMemory));
        }
    }
}

} // namespace

WaitingOutputs::WaitingOutputs(std::size_t mostWaiting)
    : mostWaiting_(std::max<std::size_t>(mostWaiting, 1)), next_(std::make_unique<FileSlot>())
{
    if (mostWaiting == 0)
        return; // wait() commits in the caller's thread
    try {
        committer_ = std::thread([this] { commitWhileRunning(); });
    } catch (const std::system_error&) {
        // Without a thread of its own, wait() commits in the caller's.
    }
}

WaitingOutputs::~WaitingOutputs()
{
    commitAll();
    if (!committer_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    committer_.join();
}

FileSlot& WaitingOutputs::slot() { return *next_; }

void WaitingOutputs::commit(std::vector<Waiting>& outputs)
{
    // Each step for all the outputs before the next: the syncs after the first find their data on
    // its way to the disk and their blocks already in the journal, and the first folder sync
    // records every name given in that folder.
    forEachStanding(outputs, [](Waiting& output) { output.slot->sync(); });
    forEachStanding(outputs, [](Waiting& output) { output.slot->name(); });
    forEachStanding(outputs, [](Waiting& output) { output.written = output.slot->commit(); });
    for (Waiting& output : outputs) {
        if (!output.failed)
            output.done(&output.written, nullptr);
    }
}

void WaitingOutputs::wait(const std::string& outputPath, Done done)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.size() + inCommit_ < mostWaiting_; });
    std::unique_ptr<FileSlot> free;
    if (!spare_.empty()) {
        free = std::move(spare_.back());
        spare_.pop_back();
    }
    waiting_.push_back(
        {std::exchange(next_, free ? std::move(free) : std::make_unique<FileSlot>()), outputPath,
         std::move(done), {}, false});
    if (!committer_.joinable()) {
        std::vector<Waiting> outputs = std::move(waiting_);
        waiting_.clear();
        commit(outputs);
        for (Waiting& output : outputs)
            spare_.push_back(std::move(output.slot));
        return;
    }
    changed_.notify_all();
}

void WaitingOutputs::commitAll()
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return waiting_.empty() && inCommit_ == 0; });
}

void WaitingOutputs::commitWhileRunning()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !waiting_.empty() || ending_; });
        if (waiting_.empty())
            return;
        // Whatever came while the last commit went on is committed together.
        std::vector<Waiting> outputs = std::move(waiting_);
        waiting_.clear();
        inCommit_ = outputs.size();
        lock.unlock();
        commit(outputs);
        lock.lock();
        for (Waiting& output : outputs)
            spare_.push_back(std::move(output.slot));
        inCommit_ = 0;
        changed_.notify_all();
    }
}

} // namespace tarnis
