#include "cli/watch.h"

#include "cli/command.h"
#include "cli/folder_watch.h"
#include "cli/outcome.h"
#include "cli/texts.h"
#include "common/cause.h"
#include "common/file_names.h"
#include "engine/fits_header.h"
#include "engine/replace_rule.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <system_error>
#include <utility>
#include <vector>

namespace tarnis::cli {

namespace {

using Clock = std::chrono::steady_clock;

// How long a wait for changes lasts at most: the time a stop may take to be seen, and how often
// frames that are not complete yet are looked at again.
constexpr std::chrono::milliseconds kLookAgainEvery{200};
// How long a file whose header promises no length must keep its length before it is taken: it
// fails, and would fail again for every piece that a writer adds.
constexpr std::chrono::milliseconds kSettled{1000};
// The most of a header that is read to learn how long its frame will be.
constexpr std::int64_t kMostHeaderBytes = 100 * kRecordBytes;

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void requestStop(int) { stopRequested = true; }

// SIGINT and SIGTERM end the watch once the frame in hand is done, rather than the process in the
// middle of it; the handlers that were there before are put back afterwards.
class StopOnSignals {
public:
    StopOnSignals()
        : interrupt_(std::signal(SIGINT, requestStop)),
          terminate_(std::signal(SIGTERM, requestStop))
    {
    }
    ~StopOnSignals()
    {
        std::signal(SIGINT, interrupt_);
        std::signal(SIGTERM, terminate_);
        stopRequested = false;
    }
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

private:
    using Handler = void (*)(int);
    Handler interrupt_;
    Handler terminate_;
};

// A frame's name: .fit, .fits or .fts in any letter case, as capture programs name them. A name
// that marks a file in progress ends otherwise (".part", ".tmp", "~"), or starts with a dot, as
// this program's own temporary files do.
bool isFrameName(std::string_view name)
{
    const std::size_t dot = name.rfind('.');
    if (name.empty() || name.front() == '.' || dot == std::string_view::npos)
        return false;
    std::string ending(name.substr(dot + 1));
    for (char& c : ending)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return ending == "fit" || ending == "fits" || ending == "fts";
}

// How long the frame whose first bytes are `start` will be, once its writer is done; nothing where
// its header is not there yet, or no header says (the repair says what is wrong with it then).
struct Promise {
    bool headerComplete = false;
    std::optional<std::int64_t> length;
};

Promise promiseOf(const std::vector<std::uint8_t>& start)
{
    Promise promise;
    const std::optional<std::int64_t> end = headerLength(start);
    if (!end) {
        // The beginning of a header still being written, or no FITS file at all.
        constexpr std::string_view kSimple = "SIMPLE";
        const std::size_t compared = std::min(start.size(), kSimple.size());
        promise.headerComplete = start.size() >= kMostHeaderBytes
                                 || !std::equal(start.begin(),
                                                start.begin()
                                                    + static_cast<std::ptrdiff_t>(compared),
                                                kSimple.begin());
        return promise;
    }
    promise.headerComplete = true;
    try {
        const ImageLayout layout = readImageLayout(
            std::span(start).first(static_cast<std::size_t>(*end)));
        promise.length = layout.dataStart + layout.rowBytes * layout.rows * layout.planes;
    } catch (const FitsHeaderError&) {
    }
    return promise;
}

// A frame seen, not yet taken: it waits until it is as long as its header promises, or has not
// grown for the watch's patience.
struct Pending {
    std::string name;
    std::int64_t length = -1;
    Clock::time_point since; // when it last changed length
    std::optional<Promise> promise;
};

class Watch {
public:
    Watch(const WatchRequest& request, Console& console, Language language,
          const WatchSettings& settings)
        : request_(request), console_(console), language_(language), settings_(settings),
          terminal_(!request.quiet && console.errorIsTerminal()), start_(console.now())
    {
    }

    int run()
    {
        // Started before the folder is first listed, so that nothing saved in between is missed.
        std::unique_ptr<FolderWatch> changes = settings_.polling ? nullptr
                                                                 : notifyingWatch(request_.folder);
        if (!changes) {
            console_.writeError(watchPollingText(request_.folder, language_));
            changes = pollingWatch(request_.folder, settings_.pollEvery);
        }
        // Another folder under its name is not the one watched: a file system unmounted leaves
        // its empty mount point there, which neither a listing nor polling tells apart.
        const std::optional<FileIdentity> watched = fileIdentityByName(request_.folder);
        addEveryFrame();
        showStatus();
        bool gone = false;
        while (!stopRequested) {
            takeWhatIsComplete();
            if (stopRequested)
                break;
            FolderChanges changed = changes->wait(kLookAgainEvery);
            std::error_code error;
            if (changed.gone || !std::filesystem::is_directory(pathFromUtf8(request_.folder), error)
                || (watched && fileIdentityByName(request_.folder) != watched)) {
                gone = true;
                break;
            }
            if (changed.lost)
                addEveryFrame();
            for (const std::string& name : changed.names)
                add(name);
        }
        status_.erase();
        if (gone)
            console_.writeError(watchGoneText(request_.folder, language_));
        if (outputError_ != 0)
            console_.writeError(outputErrorText(outputError_, language_));
        if (terminal_) {
            summary_.time = console_.now() - start_;
            console_.writeError(summaryText(summary_, language_));
        }
        return gone || summary_.failed > 0 || outputError_ != 0 ? kSomeFailed : kAllRepaired;
    }

private:
    // A file's length and time, as they were when it failed.
    using Look = std::pair<std::uintmax_t, std::filesystem::file_time_type>;

    static std::optional<Look> lookAt(const std::string& path)
    {
        std::error_code error;
        const auto length = std::filesystem::file_size(pathFromUtf8(path), error);
        const auto time = std::filesystem::last_write_time(pathFromUtf8(path), error);
        return error ? std::nullopt : std::optional(Look{length, time});
    }

    void add(const std::string& name)
    {
        // A frame that failed is taken again only once it has changed: the system may tell of it
        // again after its writer has closed it (on Windows, as its time is set).
        if (const auto failed = failed_.find(name); failed != failed_.end()) {
            if (lookAt(request_.folder + name) == failed->second)
                return;
            failed_.erase(failed);
        }
        if (isFrameName(name) && queued_.insert(name).second)
            pending_.push_back({name, -1, Clock::now(), std::nullopt});
    }

    // Every frame of the folder, in the order of their names, as a shell lists them.
    void addEveryFrame()
    {
        std::vector<std::string> names;
        std::error_code error;
        for (std::filesystem::directory_iterator entry(pathFromUtf8(request_.folder), error);
             !error && entry != std::filesystem::directory_iterator(); entry.increment(error))
            names.push_back(utf8FromPath(entry->path().filename()));
        std::sort(names.begin(), names.end());
        for (const std::string& name : names)
            add(name);
    }

    enum class State { Waiting, Complete, Gone };

    State stateOf(Pending& frame)
    {
        const std::filesystem::path path = pathFromUtf8(request_.folder + frame.name);
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            return State::Gone; // renamed away again, or a folder of such a name
        const auto length = static_cast<std::int64_t>(std::filesystem::file_size(path, error));
        if (error)
            return State::Gone;
        const auto now = Clock::now();
        if (length != frame.length) {
            frame.length = length;
            frame.since = now;
            if (!frame.promise || !frame.promise->headerComplete)
                frame.promise = readPromise(path, length);
        }
        if (!frame.promise->headerComplete
            || (frame.promise->length && length < *frame.promise->length))
            return now - frame.since >= settings_.patience ? State::Complete : State::Waiting;
        if (!frame.promise->length && now - frame.since < kSettled)
            return State::Waiting;
        return State::Complete;
    }

    static Promise readPromise(const std::filesystem::path& path, std::int64_t length)
    {
        std::vector<std::uint8_t> start(
            static_cast<std::size_t>(std::min(length, kMostHeaderBytes)));
        std::ifstream file(path, std::ios::binary);
        file.read(reinterpret_cast<char*>(start.data()),
                  static_cast<std::streamsize>(start.size()));
        start.resize(static_cast<std::size_t>(std::max<std::streamsize>(file.gcount(), 0)));
        return promiseOf(start);
    }

    // Takes the frames that are complete, in the order they came, one at a time; a frame that is
    // not yet does not hold up those after it.
    void takeWhatIsComplete()
    {
        for (auto frame = pending_.begin(); frame != pending_.end() && !stopRequested;) {
            const State state = stateOf(*frame);
            if (state == State::Waiting) {
                ++frame;
                continue;
            }
            if (state == State::Complete) {
                Outcome outcome = take(frame->name);
                // Its writer still has it open, although it is long enough: once it closes.
                const bool stillWritten = outcome.cause == Cause::InUse
                                          && Clock::now() - frame->since < settings_.patience;
                if (stillWritten) {
                    ++frame;
                    continue;
                }
                if (!outcome.error.empty()) {
                    if (const auto look = lookAt(request_.folder + frame->name))
                        failed_.emplace(frame->name, *look);
                }
                report(std::move(outcome));
            }
            queued_.erase(frame->name);
            frame = pending_.erase(frame);
        }
    }

    Outcome take(const std::string& name)
    {
        const std::string path = request_.folder + name;
        try {
            const std::string output = request_.run.outputFolder.value_or(request_.folder)
                                       + outputFileName(name, path);
            if (isOwnOutput(path, output))
                return {}; // repaired before: a watch started again, or the frame saved again
        } catch (const Error&) {
            // No output there, or none that can be named or read: the repair decides, and says
            // why where it fails.
        }
        // Looked at on its own: an output of a frame beside it, this watch's too, is passed over,
        // never renewed from that frame, which would only write it again and wake the watch anew.
        RunFiles files({{request_.folder, name}}, slot_, request_.run);
        if (files.note(0).kind != PassedOver::No)
            return {};
        return repairOne(path, 0, files, values_, slot_, language_);
    }

    void report(Outcome outcome)
    {
        summary_.failed += outcome.error.empty() ? 0 : 1;
        summary_.files += outcome.line.empty() ? 0 : 1;
        summary_.repaired += outcome.dropouts.repaired;
        summary_.left += outcome.dropouts.left;
        summary_.bytes += outcome.bytes;
        if (!outcome.error.empty()) {
            status_.erase();
            console_.writeError(outcome.error);
        } else if (!request_.quiet && !outcome.line.empty() && outputError_ == 0) {
            status_.erase();
            outputError_ = console_.writeOut(outcome.line);
        }
        if (!outcome.warning.empty()) {
            status_.erase();
            console_.writeError(outcome.warning);
        }
        if (!outcome.line.empty() || !outcome.error.empty())
            showStatus();
    }

    void showStatus()
    {
        if (!terminal_)
            return;
        std::string line = watchStatusText(summary_.files, summary_.failed, language_);
        status_.show(std::move(line));
    }

    const WatchRequest& request_;
    Console& console_;
    const Language language_;
    const WatchSettings& settings_;
    const bool terminal_;
    const Clock::time_point start_;
    // One slot and one window's buffer for every frame, however long the night.
    FileSlot slot_;
    RunValues values_;
    std::deque<Pending> pending_;
    std::set<std::string> queued_;
    std::map<std::string, Look> failed_; // the frames that failed, as they were then
    Summary summary_;
    int outputError_ = 0;
    StatusLine status_{console_};
};

} // namespace

int watchFolder(const WatchRequest& request, Console& console, Language language,
                const WatchSettings& settings)
{
    const StopOnSignals stopOnSignals;
    return Watch(request, console, language, settings).run();
}

} // namespace tarnis::cli
