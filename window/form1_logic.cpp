#include "window/form1_logic.h"

#include "common/texts.h"
#include "window/selection.h"
#include "window/texts.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace tarnis {

// The run's thread and what it shares with the user-interface thread: the one call to the list it
// waits for, and, once it has finished, its failure.
struct Form1Logic::Run {
    std::mutex mutex;
    std::condition_variable changed; // a call asked for or made, or the run finished
    const std::function<void()>* call = nullptr;
    std::exception_ptr callFailure;
    bool finished = false;
    std::exception_ptr failure;
    std::thread thread;
};

namespace {

// The window's list as the run's thread sees it: every call is made on the user-interface thread,
// which alone may touch the window, while the run's thread waits for it.
class ListOnWindowThread : public FileList {
public:
    ListOnWindowThread(FileList& list, RunHost& host, std::mutex& mutex,
                       std::condition_variable& changed, const std::function<void()>*& call,
                       std::exception_ptr& callFailure)
        : list_(list), host_(host), mutex_(mutex), changed_(changed), call_(call),
          callFailure_(callFailure)
    {
    }

    void clear() override
    {
        ask([this] { list_.clear(); });
    }
    void append(const std::string& entry) override
    {
        ask([&] { list_.append(entry); });
    }
    [[nodiscard]] std::string entry0() const override
    {
        std::string entry;
        ask([&] { entry = list_.entry0(); });
        return entry;
    }
    [[nodiscard]] std::vector<std::string> allEntries() const override
    {
        std::vector<std::string> entries;
        ask([&] { entries = list_.allEntries(); });
        return entries;
    }
    void removeEntry0() override
    {
        ask([this] { list_.removeEntry0(); });
    }
    void repaint() override
    {
        ask([this] { list_.repaint(); });
    }

private:
    void ask(const std::function<void()>& call) const
    {
        std::unique_lock lock(mutex_);
        call_ = &call;
        callFailure_ = nullptr;
        changed_.notify_all();
        lock.unlock();
        host_.wakeUp();
        lock.lock();
        changed_.wait(lock, [this] { return call_ == nullptr; });
        if (callFailure_)
            std::rethrow_exception(callFailure_);
    }

    FileList& list_;
    RunHost& host_;
    std::mutex& mutex_;
    std::condition_variable& changed_;
    const std::function<void()>*& call_;
    std::exception_ptr& callFailure_;
};

} // namespace

Form1Logic::Form1Logic(FileList& fileList, OpenFileDialog& dialog, ErrorMessageBox& messageBox,
                       RunHost& host)
    : fileList_(fileList), dialog_(dialog), messageBox_(messageBox), host_(host),
      run_(std::make_unique<Run>())
{
}

Form1Logic::~Form1Logic()
{
    // Only a window torn down by its owner gets here with a run going (the user cannot close it
    // then): the run ends first, as it would have, but nothing is shown any more.
    while (running()) {
        bool finished = false;
        {
            std::unique_lock lock(run_->mutex);
            run_->changed.wait(lock, [this] { return run_->call != nullptr || run_->finished; });
            finished = run_->call == nullptr;
        }
        finished ? endRun(false) : serveRun();
    }
}

void Form1Logic::load() { fileList_.clear(); }

void Form1Logic::selectFiles()
{
    if (running())
        return;
    fileList_.clear();
    std::string answer;
    // Whatever goes wrong from here on, a cancel above all, ends the selection without a word:
    // the list stays empty and the previous folder and count stay as they were. Only an answer
    // cut short, or one of several folders, is said, since the user would otherwise take the
    // choice for made.
    try {
        answer = dialog_.showOpen();
        parseSelection(answer, fileList_, selection_);
    } catch (const TooManyFilesChosen&) {
        messageBox_.show(texts::kWindowTitle, texts::kTooManyFiles);
    } catch (const FilesOfSeveralFolders&) {
        messageBox_.show(texts::kWindowTitle, texts::kSeveralFolders);
    } catch (...) {
    }
}

void Form1Logic::runBatch()
{
    if (running())
        return;
    host_.showBusy(true);
    run_->finished = false;
    run_->failure = nullptr;
    try {
        run_->thread = std::thread([this] {
            ListOnWindowThread list(fileList_, host_, run_->mutex, run_->changed, run_->call,
                                    run_->callFailure);
            std::exception_ptr failure;
            try {
                tarnis::runBatch(list, selection_, runValues_, fileSlot_);
            } catch (...) {
                failure = std::current_exception();
            }
            {
                const std::lock_guard lock(run_->mutex);
                run_->failure = failure;
                run_->finished = true;
            }
            run_->changed.notify_all();
            host_.wakeUp();
        });
    } catch (const std::system_error&) {
        // No thread to be had: the run goes here, as it did before runs had threads of their own,
        // with the window busy and unanswering until it ends, but with the same outcome.
        try {
            tarnis::runBatch(fileList_, selection_, runValues_, fileSlot_);
        } catch (...) {
            run_->failure = std::current_exception();
        }
        host_.showBusy(false);
        showFailure(run_->failure);
    }
}

bool Form1Logic::running() const { return run_->thread.joinable(); }

void Form1Logic::serveRun()
{
    if (!running())
        return;
    const std::function<void()>* call = nullptr;
    {
        const std::lock_guard lock(run_->mutex);
        call = run_->call;
        if (call == nullptr && !run_->finished)
            return; // woken up for a call made already
    }
    if (call == nullptr) {
        endRun(true);
        return;
    }
    std::exception_ptr failure;
    try {
        (*call)();
    } catch (...) {
        failure = std::current_exception();
    }
    {
        const std::lock_guard lock(run_->mutex);
        run_->call = nullptr;
        run_->callFailure = failure;
    }
    run_->changed.notify_all();
}

void Form1Logic::waitForRun()
{
    while (running()) {
        {
            std::unique_lock lock(run_->mutex);
            run_->changed.wait(lock, [this] { return run_->call != nullptr || run_->finished; });
        }
        serveRun();
    }
}

void Form1Logic::endRun(bool report)
{
    run_->thread.join();
    if (!report)
        return;
    host_.showBusy(false);
    showFailure(run_->failure);
}

void Form1Logic::showFailure(const std::exception_ptr& failure)
{
    if (!failure)
        return;
    try {
        std::rethrow_exception(failure);
    } catch (const Error& error) {
        messageBox_.show(texts::kWindowTitle, describe(error, Language::Japanese));
    } catch (const std::exception& error) {
        messageBox_.show(texts::kWindowTitle, error.what());
    }
}

bool Form1Logic::closeApplication()
{
    if (running())
        return false;
    fileSlot_.close();
    return true;
}

void Form1Logic::queueFiles(const std::vector<std::string>& paths, const std::string& currentFolder)
{
    if (running())
        return;
    // The answer is formed first, so that files of several folders leave the list as it was.
    std::string answer;
    try {
        answer = answerFor(fullPaths(paths, currentFolder));
    } catch (const FilesOfSeveralFolders&) {
        messageBox_.show(texts::kWindowTitle, texts::kSeveralFolders);
        return;
    } catch (...) {
        return;
    }
    fileList_.clear();
    try {
        parseSelection(answer, fileList_, selection_);
    } catch (...) {
    }
}

} // namespace tarnis
