#include "cli/command.h"

#include "cli/options.h"
#include "cli/outcome.h"
#include "cli/texts.h"
#include "cli/watch.h"
#include "common/cause.h"
#include "common/error.h"
#include "common/file_slot.h"
#include "common/file_names.h"
#include "common/texts.h"
#include "engine/batch.h"
#include "engine/waiting_outputs.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

namespace tarnis::cli {

namespace {

constexpr unsigned kMostJobs = 256;
// What one worker may have open at once for the file in hand: an input, or an output's folder, a
// temporary file and, while abandoned temporary files are cleaned up, the folder's listing and one
// of them; and for each output waiting for its commit, its folder and its file.
constexpr std::size_t kDescriptorsPerFile = 4;
constexpr std::size_t kDescriptorsPerWaitingOutput = 2;
// Left over for what the libraries open now and then (a sanitizer's check of memory takes a pipe):
// outputs wait for their commit only where a worker has these to spare besides.
constexpr std::size_t kDescriptorsLeftOver = 2;
// How many outputs of a worker may wait for their commit: more than come while one commit goes on.
constexpr std::size_t kWaitingFiles = 8;
// A progress line shows once a run has taken this long, and changes at most this often.
constexpr std::chrono::milliseconds kProgressAfter{1000};
constexpr std::chrono::milliseconds kProgressEvery{200};

struct Options {
    RunOptions run;
    bool quiet = false;
    unsigned jobs = 1;
    std::vector<std::string> files;
    std::optional<std::string> watched; // the folder of --watch, ending with a separator
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
    const char* const last = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), last,
                                               value); // digits only: no sign, no space
    if (error != std::errc() || stop != last)
        return std::nullopt;
    if (value < 1 || value > kMostJobs)
        return std::nullopt;
    return value;
}

// The option that a long name names: written whole, or cut short as long as no other option begins
// alike ("--out" for "--output-dir"), as GNU programs take them.
const Option* longOption(std::string_view name)
{
    const Option* found = nullptr;
    int beginningAlike = 0;
    for (const Option& option : options()) {
        if (option.longName == name)
            return &option;
        if (!name.empty() && option.longName.starts_with(name)) {
            found = &option;
            ++beginningAlike;
        }
    }
    return beginningAlike == 1 ? found : nullptr;
}

const Option* shortOption(char name)
{
    for (const Option& option : options()) {
        if (option.shortName == name && name != '\0')
            return &option;
    }
    return nullptr;
}

// The folder that --output-dir or --watch names, or the problem with it: it must be there, or
// every output would fail one by one.
std::optional<UsageProblem> checkFolder(std::string& folder, UsageProblem missing,
                                        UsageProblem notAFolder)
{
    std::error_code error;
#ifdef _WIN32
    // A bare drive, "D:", is the folder that D: is in, as cmd takes it: the system says which.
    if (folder.size() == 2 && folder.back() == ':') {
        const std::string current = utf8FromPath(
            std::filesystem::absolute(pathFromUtf8(folder), error));
        folder = current.empty() ? folder : current;
    }
#endif
    const auto status = std::filesystem::status(pathFromUtf8(folder), error);
    if (!std::filesystem::exists(status))
        return missing;
    if (!std::filesystem::is_directory(status))
        return notAFolder;
    if (!isPathSeparator(folder.back()))
        folder += kPathSeparator;
    return std::nullopt;
}

// A usage problem and the argument it is about.
using Problem = std::pair<UsageProblem, std::string>;

// Takes one option with its value into `parsed`; a usage problem when the value is wrong.
std::optional<UsageProblem> take(const Option& option, const std::string& value, Parsed& parsed,
                                 bool& jobsGiven)
{
    Options& options = parsed.options;
    switch (option.id) {
    case OptionId::Check: options.run.checkOnly = true; break;
    case OptionId::Quiet: options.quiet = true; break;
    case OptionId::Help: parsed.request = Request::Help; break;
    case OptionId::Version:
        if (parsed.request == Request::Run)
            parsed.request = Request::Version;
        break;
    case OptionId::Jobs: {
        const auto jobs = jobCount(value);
        if (!jobs)
            return UsageProblem::BadJobs;
        options.jobs = *jobs;
        jobsGiven = true;
        break;
    }
    case OptionId::OutputDir: options.run.outputFolder = value; break;
    case OptionId::Watch: options.watched = value; break;
    case OptionId::Bytewise: options.run.rule = RepairRule::Bytes; break;
    }
    return std::nullopt;
}

// What is wrong with the options taken together, once all are read: a watch with what it cannot
// do, a run without files, a folder that is not there.
std::optional<Problem> checkTogether(Options& options, bool jobsGiven)
{
    if (options.watched) {
        // A watch repairs one frame at a time, as each is saved; counting alone would be done
        // with the first frames and wait for nothing.
        if (options.run.checkOnly)
            return Problem{UsageProblem::NotWithWatch, "--check"};
        if (jobsGiven)
            return Problem{UsageProblem::NotWithWatch, "--jobs"};
        if (!options.files.empty())
            return Problem{UsageProblem::FileWithWatch, options.files.front()};
        const std::string given = *options.watched;
        if (const auto problem = checkFolder(*options.watched, UsageProblem::NoSuchFolderToWatch,
                                             UsageProblem::NotAFolderToWatch))
            return Problem{*problem, given};
    } else if (options.files.empty()) {
        return Problem{UsageProblem::NoFile, {}};
    }
    if (options.run.outputFolder) {
        const std::string given = *options.run.outputFolder;
        if (const auto problem = checkFolder(*options.run.outputFolder, UsageProblem::NoSuchFolder,
                                             UsageProblem::NotAFolder))
            return Problem{*problem, given};
    }
    return std::nullopt;
}

// The command line as GNU programs read theirs: options and files in any order, short options
// alone or together ("-qc", "-j4", "-qj 4"), long ones with their value after "=" or as the next
// argument, and every argument after "--" a file.
Parsed parse(const std::vector<std::string>& arguments, Language language)
{
    Parsed parsed;
    const auto fail = [&](UsageProblem problem, std::string_view argument) {
        parsed.usageError = usageErrorText(problem, argument, language);
        return parsed;
    };
    bool jobsGiven = false; // which --watch refuses
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            parsed.options.files.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument.starts_with("--")) {
            const std::size_t equals = argument.find('=');
            const Option* option = longOption(std::string_view(argument).substr(2, equals - 2));
            if (option == nullptr)
                return fail(UsageProblem::UnknownOption, argument.substr(0, equals));
            if (!option->takesValue() && equals != std::string::npos)
                return fail(UsageProblem::ValueNotTaken, "--" + std::string(option->longName));
            std::string value;
            if (equals != std::string::npos)
                value = argument.substr(equals + 1);
            else if (option->takesValue() && i + 1 < arguments.size())
                value = arguments[++i];
            else if (option->takesValue())
                return fail(UsageProblem::MissingValue, option->longName);
            if (const auto problem = take(*option, value, parsed, jobsGiven))
                return fail(*problem, value);
        } else {
            for (std::size_t at = 1; at < argument.size(); ++at) {
                const Option* option = shortOption(argument[at]);
                if (option == nullptr)
                    return fail(UsageProblem::UnknownOption, std::string("-") + argument[at]);
                std::string value;
                if (option->takesValue() && at + 1 < argument.size())
                    value = argument.substr(at + 1);
                else if (option->takesValue() && i + 1 < arguments.size())
                    value = arguments[++i];
                else if (option->takesValue())
                    return fail(UsageProblem::MissingValue, option->longName);
                if (const auto problem = take(*option, value, parsed, jobsGiven))
                    return fail(*problem, value);
                if (option->takesValue())
                    break;
            }
        }
    }
    if (parsed.request != Request::Run)
        return parsed;
    if (const auto problem = checkTogether(parsed.options, jobsGiven))
        return fail(problem->first, problem->second);
    return parsed;
}

// A file in which more than this share of the samples are dropouts is warned about: the true zeros
// of a frame taken without an offset are stored as dropouts are, and are repaired as dropouts.
constexpr std::int64_t kWarnedPercent = 1;

// Whether `path` is a wildcard pattern that reached the run because it matched no file: on
// Windows, where the program expands them and no name may hold "*" or "?".
bool isUnmatchedPattern([[maybe_unused]] const std::string& path)
{
#ifdef _WIN32
    return nameOf(path).find_first_of("*?") != std::string_view::npos;
#else
    return false;
#endif
}

} // namespace

namespace {

// How one file went, and, where its output was written to be committed by the caller, which input
// it is the output of.
struct Attempt {
    Outcome outcome;
    std::optional<std::size_t> waitingOutputOf;
    std::string outputPath;
};

Attempt attemptOne(const std::string& path, std::size_t index, RunFiles& files, RunValues& run,
                   FileSlot& slot, Language language, OutputCommit commit)
{
    Attempt attempt;
    Outcome& outcome = attempt.outcome;
    if (isUnmatchedPattern(path)) {
        outcome.error = noMatchText(path, language);
        return attempt;
    }
    // Every file named gets an answer: what was done in its place, where it is passed over.
    const PassedOverNote note = files.note(index);
    if (note.kind != PassedOver::No)
        outcome.note = passedOverText(path, note, language);
    const std::optional<Renewal> renewal = files.renewal(index);
    if (note.kind != PassedOver::No && !renewal)
        return attempt;
    const std::string input = renewal ? renewal->folder + renewal->name : path;
    const std::size_t inputIndex = renewal ? renewal->index : index;
    try {
        const FileReport report = repairFile(std::string(folderOf(input)),
                                             std::string(nameOf(input)), inputIndex, files, run,
                                             slot, commit);
        // The last column says which repair the file had, in a word that scripts can rely on: "bayer"
        // for a colour frame repaired from samples of its own colour, "mono" for every other.
        outcome.line = oneLine(input) + '\t' + oneLine(report.outputPath) + '\t'
                       + std::to_string(report.dropouts.repaired) + '\t'
                       + std::to_string(report.dropouts.left) + '\t'
                       + (report.mosaic == Mosaic::Bayer ? "bayer" : "mono") + '\n';
        outcome.bytes = run.fileLength;
        outcome.dropouts = report.dropouts;
        const std::int64_t dropouts = report.dropouts.repaired + report.dropouts.left;
        if (dropouts * 100 > report.samples * kWarnedPercent)
            outcome.warning = manyDropoutsText(input, dropouts, report.samples,
                                               files.options().checkOnly, language);
        // Repaired as far as its bytes go, it still is not the image it says it is: FITS readers
        // take it, and its output, for damaged.
        if (report.samples < report.imageSamples)
            outcome.warning += shortFileText(input, report.samples, report.imageSamples,
                                             files.options().checkOnly, language);
        // Last, so that an output whose report could not be made is abandoned, not committed.
        if (commit == OutputCommit::ByCaller && slot.isOpen()) {
            attempt.waitingOutputOf = inputIndex;
            attempt.outputPath = report.outputPath;
        }
    } catch (const Error& error) {
        outcome.error = failureText(error, language);
        outcome.cause = error.cause();
    } catch (const std::bad_alloc&) {
        outcome.error = failureText(Error(FileAction::Read, input, Cause::OutOfMemory), language);
        outcome.cause = Cause::OutOfMemory;
    }
    if (!attempt.waitingOutputOf)
        slot.close();
    return attempt;
}

} // namespace

Outcome repairOne(const std::string& path, std::size_t index, RunFiles& files, RunValues& run,
                  FileSlot& slot, Language language)
{
    return attemptOne(path, index, files, run, slot, language, OutputCommit::Now).outcome;
}

void repairOne(const std::string& path, std::size_t index, RunFiles& files, RunValues& run,
               WaitingOutputs& outputs, Language language,
               const std::function<void(Outcome)>& finished)
{
    Attempt attempt = attemptOne(path, index, files, run, outputs.slot(), language,
                                 OutputCommit::ByCaller);
    if (!attempt.waitingOutputOf) {
        finished(std::move(attempt.outcome));
        return;
    }
    outputs.wait(attempt.outputPath,
                 [&files, finished, language, inputIndex = *attempt.waitingOutputOf,
                  outcome = std::move(attempt.outcome)](const FileIdentity* written,
                                                        const Error* error) mutable {
                     if (written) {
                         files.wrote(inputIndex, *written);
                         finished(std::move(outcome));
                         return;
                     }
                     // Nothing of the file counts but that it failed, and what was noted of it.
                     Outcome failed;
                     failed.note = std::move(outcome.note);
                     failed.error = failureText(*error, language);
                     failed.cause = error->cause();
                     finished(std::move(failed));
                 });
}

namespace {

// Writes each file's outcome in the order the files were given, whichever worker finished it, and
// on a terminal keeps a progress line below them for a run that takes a while, and sums the run up
// at its end.
class Reporter {
public:
    Reporter(Console& console, const Options& options, Language language)
        : console_(console), language_(language), quiet_(options.quiet),
          terminal_(!options.quiet && console.errorIsTerminal()), outcomes_(options.files.size()),
          start_(console.now())
    {
        summary_.checkOnly = options.run.checkOnly;
    }

    void finished(std::size_t index, Outcome outcome)
    {
        const std::lock_guard lock(mutex_);
        failed_ = failed_ || !outcome.error.empty();
        summary_.failed += outcome.error.empty() ? 0 : 1;
        summary_.files += outcome.line.empty() ? 0 : 1;
        summary_.repaired += outcome.dropouts.repaired;
        summary_.left += outcome.dropouts.left;
        summary_.bytes += outcome.bytes;
        outcomes_[index] = std::move(outcome);
        ++done_;
        for (; next_ < outcomes_.size() && outcomes_[next_]; ++next_) {
            if (!quiet_ && !outcomes_[next_]->note.empty()) {
                progress_.erase();
                console_.writeError(outcomes_[next_]->note);
            }
            if (!outcomes_[next_]->error.empty()) {
                progress_.erase();
                console_.writeError(outcomes_[next_]->error);
            } else if (!quiet_ && !outcomes_[next_]->line.empty() && outputError_ == 0) {
                progress_.erase();
                outputError_ = console_.writeOut(outcomes_[next_]->line);
            }
            if (!outcomes_[next_]->warning.empty()) {
                progress_.erase();
                console_.writeError(outcomes_[next_]->warning);
            }
            outcomes_[next_] = Outcome(); // its texts are written: only that it is done counts
        }
        showProgress();
    }

    // Whether every file went through and its line was written; the progress line is gone after
    // this. A report that standard output did not take is a failure, said on standard error.
    bool end()
    {
        const std::lock_guard lock(mutex_);
        progress_.erase();
        if (outputError_ != 0)
            console_.writeError(outputErrorText(outputError_, language_));
        if (terminal_) {
            summary_.time = console_.now() - start_;
            console_.writeError(summaryText(summary_, language_));
        }
        return !failed_ && outputError_ == 0;
    }

private:
    void showProgress()
    {
        const auto now = console_.now();
        if (!terminal_ || now - start_ < kProgressAfter
            || (progress_.shown() && now - shownAt_ < kProgressEvery))
            return;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::string line = std::to_string(done_) + "/" + std::to_string(outcomes_.size()) + "  "
                           + byteCount(summary_.bytes) + "  "
                           + byteCount(static_cast<std::int64_t>(static_cast<double>(summary_.bytes)
                                                                 / seconds))
                           + "/s";
        progress_.show(std::move(line));
        shownAt_ = now;
    }

    Console& console_;
    const Language language_;
    const bool quiet_;
    const bool terminal_; // and watched: progress and the summary are shown
    std::mutex mutex_;
    std::vector<std::optional<Outcome>> outcomes_;
    std::size_t next_ = 0;
    std::size_t done_ = 0;
    Summary summary_;
    bool failed_ = false;
    int outputError_ = 0; // the first write to standard output that failed; no more are tried
    const std::chrono::steady_clock::time_point start_;
    std::chrono::steady_clock::time_point shownAt_;
    StatusLine progress_{console_};
};

int run(const Options& options, Console& console, Language language)
{
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const std::string& file : options.files)
        inputs.emplace_back(folderOf(file), nameOf(file));
    FileSlot lookingSlot;
    RunFiles files(inputs, lookingSlot, options.run);
    Reporter reporter(console, options, language);
    std::atomic<std::size_t> next{0};
    // As many workers as the open-file limit leaves room for, and as the system will start: fewer
    // only take longer, while a worker short of files would fail the files it takes. Where even
    // one worker is short of room, its outputs wait for their commit in fewer numbers, or none
    // waits and each is committed at once.
    constexpr std::size_t perWorker = kDescriptorsPerFile
                                      + kDescriptorsPerWaitingOutput * kWaitingFiles;
    std::size_t workers = std::min<std::size_t>(options.jobs, options.files.size());
    const std::size_t spare = spareFileDescriptors(workers * perWorker);
    workers = std::max<std::size_t>(1, std::min(spare / perWorker, workers));
    const std::size_t perWorkerSpare = spare / workers;
    const std::size_t waitingFiles = std::min(
        kWaitingFiles,
        (perWorkerSpare - std::min(perWorkerSpare, kDescriptorsPerFile + kDescriptorsLeftOver))
            / kDescriptorsPerWaitingOutput);
    // Each worker has slots and a buffer of its own, kept from file to file, and its outputs are
    // committed while it goes on with the next files.
    const auto work = [&] {
        WaitingOutputs outputs(waitingFiles);
        RunValues run;
        for (std::size_t index = next++; index < options.files.size(); index = next++) {
            const std::function<void(Outcome)> finished = [&reporter, index](Outcome outcome) {
                reporter.finished(index, std::move(outcome));
            };
            repairOne(options.files[index], index, files, run, outputs, language, finished);
        }
        outputs.commitAll();
    };
    std::vector<std::jthread> others;
    try {
        while (others.size() + 1 < workers)
            others.emplace_back(work);
    } catch (const std::system_error&) {
    }
    work();
    others.clear(); // joins them
    return reporter.end() ? kAllRepaired : kSomeFailed;
}

} // namespace

int runCommand(const std::vector<std::string>& arguments, Console& console, Language language)
{
    const Parsed parsed = parse(arguments, language);
    if (parsed.usageError) {
        console.writeError(*parsed.usageError);
        return kUsageError;
    }
    switch (parsed.request) {
    case Request::Help: console.writeOut(helpText(language)); return kAllRepaired;
    case Request::Version: console.writeOut(versionText()); return kAllRepaired;
    case Request::Run: break;
    }
    if (parsed.options.watched)
        return watchFolder({*parsed.options.watched, parsed.options.run, parsed.options.quiet},
                           console, language);
    return run(parsed.options, console, language);
}

} // namespace tarnis::cli
