// The watch of a folder whose file system gives no notification: the folder listed again and
// again, a file reported when it is new or its length or time changed.
#include "cli/folder_watch.h"

#include "common/file_names.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnis::cli {

namespace {

using Clock = std::chrono::steady_clock;

class PollingWatch : public FolderWatch {
public:
    PollingWatch(const std::string& folder, std::chrono::milliseconds every)
        : folder_(pathFromUtf8(folder)), every_(every), next_(Clock::now() + every)
    {
        (void)look(); // what is there already is the start-up pass's
    }

    FolderChanges wait(std::chrono::milliseconds timeout) override
    {
        const auto now = Clock::now();
        if (now < next_) {
            std::this_thread::sleep_for(std::min<Clock::duration>(timeout, next_ - now));
            return {};
        }
        next_ = Clock::now() + every_;
        return look();
    }

private:
    struct Seen {
        std::uintmax_t length;
        std::filesystem::file_time_type time;
        friend bool operator==(const Seen&, const Seen&) = default;
    };

    FolderChanges look()
    {
        FolderChanges changes;
        std::map<std::string, Seen> now;
        std::error_code error;
        std::filesystem::directory_iterator entry(folder_, error);
        for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
            std::error_code ignored;
            if (!entry->is_regular_file(ignored))
                continue;
            const Seen seen{entry->file_size(ignored), entry->last_write_time(ignored)};
            const std::string name = utf8FromPath(entry->path().filename());
            const auto before = seen_.find(name);
            if (before == seen_.end() || !(before->second == seen))
                changes.names.push_back(name);
            now.emplace(name, seen);
        }
        if (error) {
            changes.gone = !std::filesystem::is_directory(folder_, error);
            return changes;
        }
        seen_ = std::move(now);
        // A listing's order is the file system's: by name, so that a burst is taken in order.
        std::sort(changes.names.begin(), changes.names.end());
        return changes;
    }

    const std::filesystem::path folder_;
    const std::chrono::milliseconds every_;
    Clock::time_point next_;
    std::map<std::string, Seen> seen_;
};

} // namespace

std::unique_ptr<FolderWatch> pollingWatch(const std::string& folder,
                                          std::chrono::milliseconds every)
{
    return std::make_unique<PollingWatch>(folder, every);
}

} // namespace tarnis::cli
