#include "engine/replace_rule.h"

#include "common/cause.h"
#include "common/error.h"
#include "common/file_names.h"
#include "engine/batch.h"
#include "engine/fits_header.h"
#include "engine/repair.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

namespace tarnis {

namespace {

// How much of each file a comparison (or a look for the END card) holds at a time: whole records,
// about 1 MiB.
constexpr std::int64_t kComparedBytes = 364 * kRecordBytes;
// How far into an input its END card is looked for; no header this program reads is longer.
constexpr std::int64_t kMostHeaderBytes = 1000 * kRecordBytes;

bool isDropoutAt(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return at + 1 < bytes.size() && isDropout(&bytes[at]);
}

// Whether `output` equals `input` wherever `input` holds no dropout. Both are the same stretch of
// their files, starting on a sample; an odd byte at the end is no sample and must be equal. Held
// against each other a block at a time with memcmp, which is fast, and a sample at a time only in
// the blocks where they differ, as they do around each repaired dropout.
bool equalButDropouts(std::span<const std::uint8_t> input, std::span<const std::uint8_t> output)
{
    constexpr std::size_t kBlock = 4096;
    for (std::size_t block = 0; block < input.size(); block += kBlock) {
        const std::size_t end = std::min(block + kBlock, input.size());
        if (std::memcmp(&input[block], &output[block], end - block) == 0)
            continue;
        for (std::size_t at = block; at < end; at += 2) {
            const std::size_t size = std::min<std::size_t>(2, end - at);
            if (std::memcmp(&input[at], &output[at], size) != 0 && !isDropoutAt(input, at))
                return false;
        }
    }
    return true;
}

// The folder `folder` as the system resolves it (links followed, "." and ".." as the system takes
// them, not as the text reads), ending with a separator; nothing where it does not resolve.
std::optional<std::string> resolvedFolder(const std::string& folder)
{
    std::error_code error;
    const std::filesystem::path path = std::filesystem::canonical(
        pathFromUtf8(folder.empty() ? "." : folder), error);
    if (error)
        return std::nullopt;
    std::string text = utf8FromPath(path);
    if (text.empty() || !isPathSeparator(text.back()))
        text += kPathSeparator;
    return text;
}

// The path of `folder` + `name` as the system resolves its folder, letter case folded, for telling
// whether two paths name one file ignoring letter case. A folder that does not resolve is kept as
// written, marked so that it equals no resolved one.
std::string foldedResolvedPath(const std::string& folder, const std::string& name)
{
    const std::optional<std::string> resolved = resolvedFolder(folder);
    return foldCase(resolved ? *resolved + name : '\x01' + folder + name);
}

} // namespace

std::optional<std::int64_t> headerEndOfOpenFile(FileSlot& slot, std::int64_t most)
{
    // Read a piece at a time, so that a long file without an END card costs no memory.
    std::vector<std::uint8_t> piece;
    const std::int64_t length = std::min(slot.length(), most);
    for (std::int64_t at = 0, size = kRecordBytes; at < length;
         at += size, size = std::min(2 * size, kComparedBytes)) {
        piece.resize(static_cast<std::size_t>(std::min(size, length - at)));
        slot.readAt(at, piece);
        if (const auto end = headerLength(piece))
            return at + *end;
    }
    return std::nullopt;
}

std::optional<InputPrint> printOfInput(FileSlot& slot, const std::string& path)
{
    const std::int64_t length = slot.length();
    if (length <= kRecordBytes)
        return InputPrint{path, length, length};
    const std::optional<std::int64_t> end = headerEndOfOpenFile(slot, kMostHeaderBytes);
    if (!end)
        return std::nullopt;
    return InputPrint{path, length, std::min(*end, length)};
}

bool isOutputOf(FileSlot& candidate, FileSlot& input, const InputPrint& print)
{
    if (candidate.length() != print.length || input.length() != print.length)
        return false;
    std::vector<std::uint8_t> in;
    std::vector<std::uint8_t> out;
    // The header is the input's own, byte for byte; the data may differ at the input's dropouts.
    // Every stretch of the data starts on a sample, since the header is whole records long.
    for (std::int64_t at = 0; at < print.length;) {
        const std::int64_t end = at < print.dataStart ? print.dataStart
                                                      : std::min(at + kComparedBytes, print.length);
        in.resize(static_cast<std::size_t>(end - at));
        out.resize(in.size());
        input.readAt(at, in);
        candidate.readAt(at, out);
        if (at < print.dataStart ? in != out : !equalButDropouts(in, out))
            return false;
        at = end;
    }
    return true;
}

bool isOwnOutput(const std::string& inputPath, const std::string& existingPath)
{
    FileSlot input;
    CloseSlotOnExit closeInput(input);
    input.openForReading(inputPath);
    const std::optional<InputPrint> print = printOfInput(input, inputPath);
    if (!print)
        return false;
    FileSlot existing;
    CloseSlotOnExit closeExisting(existing);
    existing.openForReading(existingPath);
    const bool own = isOutputOf(existing, input, *print);
    input.confirmUnchanged();
    return own;
}

std::optional<FileStamp> replaceableOutput(const std::string& outputPath, FileSlot& input,
                                           const InputPrint& print, const std::string& name,
                                           std::size_t index, const RunFiles& files, FileSlot& slot,
                                           FileAction action)
{
    CloseSlotOnExit closeSlot(slot);
    try {
        slot.openForReading(outputPath);
    } catch (const Error& error) {
        if (error.cause() == Cause::NotFound)
            return std::nullopt;
        throw Error(action, outputPath,
                    error.cause() == Cause::IsFolder ? Cause::FolderInTheWay : error.cause(),
                    error.detail());
    }
    const FileStamp existing = slot.stamp();
    files.checkNotWrittenForAnother(index, existing.identity, outputPath, action);
    bool earlierOutput = false;
    try {
        earlierOutput = isOutputOf(slot, input, print);
    } catch (const Error& error) {
        // A failure to read the input is the input's; any other is the output's.
        throw Error(error.path() == print.path ? error.action() : action,
                    error.path() == print.path ? print.path : outputPath, error.cause(),
                    error.detail());
    }
    if (!earlierOutput)
        throw Error(action, outputPath, Cause::NotAnEarlierOutput, name);
    slot.close();
    return existing;
}

// What the run knows of each input from the start, and what it has written since.
struct RunFiles::State {
    struct Input {
        std::string folder;
        std::string name;
        std::string given;      // the folder and the name as given
        std::string shownName;  // as failures name it: its path where outputs go elsewhere
        std::string foldedPath; // resolved, letter case folded
        std::optional<FileIdentity> identity;
        std::optional<std::string> outputPath; // none where no output name can be formed
        std::string foldedOutputPath;
        std::optional<FileIdentity> outputIdentity; // of a file already there
        PassedOverNote note;
        std::optional<Renewal> renewal;
        std::optional<std::size_t> outputTakenBy; // an earlier input whose output has the same name
        [[nodiscard]] bool passedOver() const { return note.kind != PassedOver::No; }
    };
    RunOptions options;
    std::vector<Input> inputs;
    std::multimap<std::string, std::size_t> byFoldedPath;
    std::multimap<FileIdentity, std::size_t> byIdentity;
    std::multimap<std::string, std::size_t> byFoldedOutputPath;
    std::multimap<FileIdentity, std::size_t> byOutputIdentity;
    // Names in each folder by their outputs' folded names, listed once a folder is looked at.
    std::map<std::string, std::multimap<std::string, std::string>> listings;

    mutable std::mutex writtenMutex;
    std::map<FileIdentity, std::pair<std::size_t, std::string>>
        written; // outputs so far, and their inputs

    void addInput(const std::string& folder, const std::string& name);
    void passOverNamedAgain(Input& input, std::size_t index) const;
    void passOverEarlierOutput(Input& input, FileSlot& slot,
                               std::set<FileIdentity>& renewedSources);
    [[nodiscard]] std::vector<std::string> sourcesOf(const Input& input);
    void giveOutputNames();

    // The inputs that are the file at the output path of `input`, by name ignoring letter case or
    // by identity.
    [[nodiscard]] std::vector<std::size_t> inputsAtOutputOf(const Input& input) const
    {
        return lookUp(byFoldedPath, input.foldedOutputPath, byIdentity, input.outputIdentity);
    }
    // The inputs whose output path names `input`.
    [[nodiscard]] std::vector<std::size_t> inputsWhoseOutputIs(const Input& input) const
    {
        return lookUp(byFoldedOutputPath, input.foldedPath, byOutputIdentity, input.identity);
    }
    static std::vector<std::size_t> lookUp(
        const std::multimap<std::string, std::size_t>& byPath, const std::string& path,
        const std::multimap<FileIdentity, std::size_t>& byIdentity,
        const std::optional<FileIdentity>& identity)
    {
        std::vector<std::size_t> found;
        for (auto [at, end] = byPath.equal_range(path); at != end; ++at)
            found.push_back(at->second);
        for (auto [at, end] = byIdentity.equal_range(identity.value_or(FileIdentity{}));
             identity && at != end; ++at)
            found.push_back(at->second);
        return found;
    }
};

void RunFiles::State::addInput(const std::string& folder, const std::string& name)
{
    const std::size_t index = inputs.size();
    Input& input = inputs.emplace_back();
    input.folder = folder;
    input.name = name;
    input.given = folder + name;
    input.shownName = options.outputFolder ? input.given : name;
    input.foldedPath = foldedResolvedPath(folder, name);
    input.identity = fileIdentityByName(input.given);
    try {
        const std::string outputFolder = options.outputFolder.value_or(folder);
        const std::string outputName = outputFileName(name, input.given);
        input.outputPath = outputFolder + outputName;
        input.foldedOutputPath = foldedResolvedPath(outputFolder, outputName);
        input.outputIdentity = fileIdentityByName(*input.outputPath);
    } catch (const Error&) {
    }
    passOverNamedAgain(input, index);
    byFoldedPath.emplace(input.foldedPath, index);
    if (input.identity)
        byIdentity.emplace(*input.identity, index);
    if (input.outputPath)
        byFoldedOutputPath.emplace(input.foldedOutputPath, index);
    if (input.outputIdentity)
        byOutputIdentity.emplace(*input.outputIdentity, index);
}

// The same file named again, however spelt ("a.fit ./a.fit", or through a link to its folder), with
// the same output: that output is already in the making. A name that resolves to no file is never
// the same as another: it fails as not found in its turn.
void RunFiles::State::passOverNamedAgain(Input& input, std::size_t index) const
{
    if (!input.identity)
        return;
    for (auto [at, end] = byIdentity.equal_range(*input.identity); at != end; ++at) {
        const Input& earlier = inputs[at->second];
        if (at->second < index && earlier.foldedOutputPath == input.foldedOutputPath) {
            input.note = {PassedOver::NamedAgain, earlier.given};
            return;
        }
    }
}

// The files whose output `input` would be: inputs of the run, and files beside it, so that runs
// over parts of a folder, as xargs and parallel split one, pass over what a whole run would.
std::vector<std::string> RunFiles::State::sourcesOf(const Input& input)
{
    std::vector<std::string> sources;
    for (const std::size_t other : inputsWhoseOutputIs(input))
        sources.push_back(inputs[other].given);
    auto [listing, added] = listings.try_emplace(input.folder);
    if (added) {
        std::error_code error;
        for (auto entry = std::filesystem::directory_iterator(
                 pathFromUtf8(input.folder.empty() ? "." : input.folder), error);
             !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
            const std::string name = utf8FromPath(entry->path().filename());
            try {
                listing->second.emplace(foldCase(outputFileName(name, {})), name);
            } catch (const Error&) {
            }
        }
    }
    for (auto [at, end] = listing->second.equal_range(foldCase(input.name)); at != end; ++at)
        sources.push_back(input.folder + at->second);
    return sources;
}

// An input that is this program's earlier output of another file is passed over: renewed by that
// file where it is an input of the run, otherwise renewed from it in the input's place (once for
// each file). One that carries the output's name of an input of the run that is not there is left.
void RunFiles::State::passOverEarlierOutput(Input& input, FileSlot& slot,
                                            std::set<FileIdentity>& renewedSources)
{
    for (const std::string& source : sourcesOf(input)) {
        const std::optional<FileIdentity> identity = fileIdentityByName(source);
        if (!identity || identity == input.identity)
            continue;
        try {
            FileSlot sourceSlot;
            CloseSlotOnExit closeSource(sourceSlot);
            CloseSlotOnExit closeSlot(slot);
            sourceSlot.openForReading(source);
            const std::optional<InputPrint> print = printOfInput(sourceSlot, source);
            if (!print)
                continue;
            slot.openForReading(input.given);
            if (!isOutputOf(slot, sourceSlot, *print))
                continue;
        } catch (const Error&) {
            continue; // a file that cannot be read is repaired, and fails, in its turn
        }
        const auto renewer = byIdentity.find(*identity);
        if (renewer != byIdentity.end()) {
            input.note = {PassedOver::RenewedByInput, inputs[renewer->second].given};
            return;
        }
        input.note = {PassedOver::RenewedHere, source};
        if (renewedSources.insert(*identity).second)
            input.renewal = Renewal{input.folder, std::string(nameOf(source)), 0};
        return;
    }
    for (const std::size_t other : inputsWhoseOutputIs(input)) {
        if (!inputs[other].identity) {
            input.note = {PassedOver::InputNotThere, inputs[other].given};
            return;
        }
    }
}

// Outputs whose names are one ignoring letter case: the first input in the run's order keeps it.
void RunFiles::State::giveOutputNames()
{
    std::map<std::string, std::size_t> outputsByFoldedPath;
    for (std::size_t index = 0; index < inputs.size(); ++index) {
        Input& input = inputs[index];
        if (!input.outputPath || input.passedOver())
            continue;
        const auto [first, added] = outputsByFoldedPath.emplace(input.foldedOutputPath, index);
        if (!added)
            input.outputTakenBy = first->second;
    }
}

RunFiles::RunFiles(const std::vector<std::pair<std::string, std::string>>& inputs, FileSlot& slot,
                   RunOptions options)
    : state_(std::make_unique<State>())
{
    CloseSlotOnExit closeSlot(slot);
    State& s = *state_;
    s.options = std::move(options);
    for (const auto& [folder, name] : inputs)
        s.addInput(folder, name);
    const std::string outputEnding = foldCase(kOutputSuffix);
    std::set<FileIdentity> renewedSources;
    for (State::Input& input : s.inputs) {
        if (!input.passedOver() && foldCase(input.name).ends_with(outputEnding))
            s.passOverEarlierOutput(input, slot, renewedSources);
    }
    for (std::size_t index = 0; index < s.inputs.size(); ++index) {
        if (s.inputs[index].renewal)
            s.inputs[index].renewal->index = s.inputs.size() + index;
    }
    s.giveOutputNames();
}

RunFiles::~RunFiles() = default;

bool RunFiles::passedOver(std::size_t index) const
{
    return index < state_->inputs.size() && state_->inputs[index].passedOver();
}

PassedOverNote RunFiles::note(std::size_t index) const
{
    return index < state_->inputs.size() ? state_->inputs[index].note : PassedOverNote{};
}

std::optional<Renewal> RunFiles::renewal(std::size_t index) const
{
    return index < state_->inputs.size() ? state_->inputs[index].renewal : std::nullopt;
}

void RunFiles::checkOutputName(std::size_t index, const std::string& name,
                               const std::string& outputPath, FileAction action) const
{
    const State& s = *state_;
    State::Input output;
    if (index < s.inputs.size()) {
        output = s.inputs[index];
    } else {
        output.foldedOutputPath = foldedResolvedPath(std::string(folderOf(outputPath)),
                                                     std::string(nameOf(outputPath)));
        output.outputIdentity = fileIdentityByName(outputPath);
    }
    for (const std::size_t other : s.inputsAtOutputOf(output)) {
        if (!s.inputs[other].passedOver())
            throw Error(action, outputPath, Cause::OutputIsSelected, name);
    }
    if (output.outputTakenBy)
        throw Error(action, outputPath, Cause::OutputOfAnotherInput,
                    s.inputs[*output.outputTakenBy].shownName);
}

void RunFiles::checkNotWrittenForAnother(std::size_t index, const FileIdentity& existing,
                                         const std::string& outputPath, FileAction action) const
{
    const State& s = *state_;
    const std::lock_guard lock(s.writtenMutex);
    const auto found = s.written.find(existing);
    if (found != s.written.end() && found->second.first != index)
        throw Error(action, outputPath, Cause::OutputOfAnotherInput, found->second.second);
}

void RunFiles::wrote(std::size_t index, const FileIdentity& written)
{
    const std::lock_guard lock(state_->writtenMutex);
    state_->written[written] = {
        index, index < state_->inputs.size() ? state_->inputs[index].shownName : std::string()};
}

const RunOptions& RunFiles::options() const { return state_->options; }

} // namespace tarnis
