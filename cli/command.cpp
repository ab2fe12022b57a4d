#include "cli/command.h"

#include "cli/texts.h"
#include "common/error.h"
#include "common/file_slot.h"
#include "common/text.h"
#include "engine/batch.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <thread>

namespace tarnis::cli {

namespace {

constexpr unsigned kMostJobs = 256;
// A progress line shows once a run has taken this long, and changes at most this often.
constexpr std::chrono::milliseconds kProgressAfter{1000};
constexpr std::chrono::milliseconds kProgressEvery{200};

struct Options {
    bool check = false;
    bool quiet = false;
    unsigned jobs = 1;
    std::vector<std::string> files;
};

enum class Request { Run, Help, Version };

// What a command line asks for, or the text of what is wrong with it.
struct Parsed {
    Request request = Request::Run;
    Options options;
    std::optional<std::string> usageError;
};

std::optional<unsigned> jobCount(std::string_view text)
{
    unsigned value = 0;
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value < 1 || value > kMostJobs)
        return std::nullopt;
    return value;
}

Parsed parse(const std::vector<std::string>& arguments)
{
    Parsed parsed;
    Options& options = parsed.options;
    const auto fail = [&](UsageProblem problem, std::string_view argument) {
        parsed.usageError = usageErrorText(problem, argument);
        return parsed;
    };
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            options.files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            parsed.request = Request::Help;
        } else if (argument == "-V" || argument == "--version") {
            if (parsed.request == Request::Run)
                parsed.request = Request::Version;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "-c" || argument == "--check") {
            options.check = true;
        } else if (argument == "-j" || argument == "--jobs" || argument.starts_with("--jobs=")
                   || (argument.starts_with("-j") && argument.size() > 2)) {
            std::string value;
            if (argument.starts_with("--jobs="))
                value = argument.substr(7);
            else if (argument.size() > 2 && argument[1] == 'j')
                value = argument.substr(2);
            else if (i + 1 < arguments.size())
                value = arguments[++i];
            else
                return fail(UsageProblem::MissingJobs, argument);
            const auto jobs = jobCount(value);
            if (!jobs)
                return fail(UsageProblem::BadJobs, value);
            options.jobs = *jobs;
        } else {
            return fail(UsageProblem::UnknownOption, argument);
        }
    }
    if (parsed.request == Request::Run && options.files.empty())
        return fail(UsageProblem::NoFile, {});
    return parsed;
}

// How one file went: its line for standard output, or the description of its failure.
struct Outcome {
    std::string line;
    std::string error;
    std::int64_t bytes = 0;
};

Outcome repairOne(const std::string& path, const SelectedFiles& selected, bool write, RunValues& run, FileSlot& slot)
{
    std::size_t nameStart = path.size();
    while (nameStart > 0 && !isPathSeparator(path[nameStart - 1]))
        --nameStart;
    Outcome outcome;
    try {
        const FileReport report = repairFile(path.substr(0, nameStart), path.substr(nameStart), selected, run, slot, write);
        // The last column says which repair the file had, in a word that scripts can rely on: "bayer"
        // for a colour frame repaired from samples of its own colour, "mono" for every other.
        outcome.line = path + '\t' + report.outputPath + '\t' + std::to_string(report.dropouts.repaired) + '\t'
                       + std::to_string(report.dropouts.left) + '\t'
                       + (report.mosaic == Mosaic::Bayer ? "bayer" : "mono") + '\n';
        outcome.bytes = run.fileLength;
    } catch (const Error& error) {
        outcome.error = std::string(error.what()) + '\n';
    } catch (const std::bad_alloc&) {
        outcome.error = std::string(Error(FileAction::Read, path, Cause::OutOfMemory).what()) + '\n';
    }
    slot.close();
    return outcome;
}

std::string byteCount(std::int64_t bytes)
{
    char text[32];
    const double megabytes = static_cast<double>(bytes) / 1e6;
    if (megabytes >= 1000)
        std::snprintf(text, sizeof text, "%.1f GB", megabytes / 1000);
    else
        std::snprintf(text, sizeof text, "%.0f MB", megabytes);
    return text;
}

// Writes each file's outcome in the order the files were given, whichever worker finished it, and
// on a terminal keeps a progress line below them for a run that takes a while.
class Reporter {
public:
    Reporter(Console& console, const Options& options)
        : console_(console), quiet_(options.quiet), progress_(!options.quiet && console.errorIsTerminal()),
          outcomes_(options.files.size()), start_(console.now())
    {
    }

    void finished(std::size_t index, Outcome outcome)
    {
        const std::lock_guard lock(mutex_);
        failed_ = failed_ || !outcome.error.empty();
        bytes_ += outcome.bytes;
        outcomes_[index] = std::move(outcome);
        ++done_;
        for (; next_ < outcomes_.size() && outcomes_[next_]; ++next_) {
            if (!outcomes_[next_]->error.empty()) {
                eraseProgress();
                console_.writeError(outcomes_[next_]->error);
            } else if (!quiet_) {
                eraseProgress();
                console_.writeOut(outcomes_[next_]->line);
            }
            outcomes_[next_]->line.clear();
        }
        showProgress();
    }

    // Whether every file went through; the progress line is gone after this.
    bool end()
    {
        const std::lock_guard lock(mutex_);
        eraseProgress();
        return !failed_;
    }

private:
    void showProgress()
    {
        const auto now = console_.now();
        if (!progress_ || now - start_ < kProgressAfter || (shownWidth_ > 0 && now - shownAt_ < kProgressEvery))
            return;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::string line = std::to_string(done_) + "/" + std::to_string(outcomes_.size()) + "  " + byteCount(bytes_)
                           + "  " + byteCount(static_cast<std::int64_t>(static_cast<double>(bytes_) / seconds)) + "/s";
        const std::size_t width = line.size();
        line.resize(std::max(width, shownWidth_), ' ');
        console_.writeError("\r" + line + "\r");
        shownWidth_ = width;
        shownAt_ = now;
    }

    void eraseProgress()
    {
        if (shownWidth_ == 0)
            return;
        std::string blank(shownWidth_ + 2, ' ');
        blank.front() = blank.back() = '\r';
        console_.writeError(blank);
        shownWidth_ = 0;
    }

    Console& console_;
    const bool quiet_;
    const bool progress_;
    std::mutex mutex_;
    std::vector<std::optional<Outcome>> outcomes_;
    std::size_t next_ = 0;
    std::size_t done_ = 0;
    std::int64_t bytes_ = 0;
    bool failed_ = false;
    const std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point shownAt_;
    std::size_t shownWidth_ = 0;
};

int run(const Options& options, Console& console)
{
    SelectedFiles selected;
    for (const std::string& file : options.files)
        selected.add(file);
    Reporter reporter(console, options);
    std::atomic<std::size_t> next{0};
    // Each worker has a slot and a buffer of its own, kept from file to file.
    const auto work = [&] {
        FileSlot slot;
        RunValues run;
        for (std::size_t index = next++; index < options.files.size(); index = next++)
            reporter.finished(index, repairOne(options.files[index], selected, !options.check, run, slot));
    };
    const std::size_t workers = std::min<std::size_t>(options.jobs, options.files.size());
    std::vector<std::jthread> others;
    for (std::size_t i = 1; i < workers; ++i)
        others.emplace_back(work);
    work();
    others.clear(); // joins them
    return reporter.end() ? kAllRepaired : kSomeFailed;
}

} // namespace

int runCommand(const std::vector<std::string>& arguments, Console& console)
{
    const Parsed parsed = parse(arguments);
    if (parsed.usageError) {
        console.writeError(*parsed.usageError);
        return kUsageError;
    }
    switch (parsed.request) {
    case Request::Help:
        console.writeOut(helpText());
        return kAllRepaired;
    case Request::Version:
        console.writeOut(versionText());
        return kAllRepaired;
    case Request::Run:
        break;
    }
    return run(parsed.options, console);
}

} // namespace tarnis::cli
