#include "engine/batch.h"

#include "common/error.h"
#include "common/texts.h"
#include "common/file_names.h"
#include "engine/fits_header.h"
#include "engine/repair.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>

namespace tarnis {

namespace {

constexpr std::size_t kDroppedCharacters = 4;
// Where an existing file is held against the input: blocks spread evenly over the data. Two images
// of the same camera, even with the same header, differ in every block by their noise alone.
constexpr std::int64_t kBlockBytes = 4096;
constexpr std::int64_t kBlocks = 16;

// However a run ends, nothing stays open in the slot: an open file would make every later run fail
// and keep the file locked until the program ends.
class CloseSlotOnExit {
public:
    explicit CloseSlotOnExit(FileSlot& slot) : slot_(slot) {}
    ~CloseSlotOnExit() { slot_.close(); }
    CloseSlotOnExit(const CloseSlotOnExit&) = delete;
    CloseSlotOnExit& operator=(const CloseSlotOnExit&) = delete;

private:
    FileSlot& slot_;
};

// The same file by its name however the path was written: "./a.fit" and "a.fit" are one.
std::string comparablePath(const std::string& path)
{
    std::error_code ignored;
    const std::filesystem::path absolute = std::filesystem::absolute(pathFromUtf8(path), ignored);
    return utf8FromPath((absolute.empty() ? pathFromUtf8(path) : absolute).lexically_normal());
}

// What an input's outputs must share with it: its length, its header (a file too short to hold
// one is all header) and blocks of its data, in which the repair rewrote only dropouts.
struct InputPrint {
    std::int64_t length = 0;
    std::vector<std::uint8_t> header;
    std::vector<std::pair<std::int64_t, std::vector<std::uint8_t>>> blocks;
};

// Where the blocks of a file's data lie: all of it when it is short, otherwise kBlocks blocks from
// its first bytes to its last, each starting on a sample.
std::vector<std::pair<std::int64_t, std::int64_t>> blocksOf(std::int64_t dataStart,
                                                            std::int64_t length)
{
    std::vector<std::pair<std::int64_t, std::int64_t>> blocks;
    const std::int64_t data = length - dataStart;
    if (data <= 0)
        return blocks;
    if (data <= kBlocks * kBlockBytes) {
        blocks.emplace_back(dataStart, data);
        return blocks;
    }
    for (std::int64_t i = 0; i < kBlocks; ++i)
        blocks.emplace_back(dataStart + (data - kBlockBytes) * i / (kBlocks - 1) / 2 * 2,
                            kBlockBytes);
    return blocks;
}

// Where the primary header of the file open in `slot` ends: after the record that holds the END
// card, looked for in its first `most` bytes; nothing where they hold none. Read a piece at a time,
// so that a long file without one costs no memory.
std::optional<std::int64_t> headerEndOfOpenFile(FileSlot& slot, std::int64_t most)
{
    constexpr std::int64_t kMostPieceBytes = 364 * kRecordBytes; // about 1 MiB, in whole records
    std::vector<std::uint8_t> piece;
    const std::int64_t length = std::min(slot.length(), most);
    for (std::int64_t at = 0, size = kRecordBytes; at < length;
         at += size, size = std::min(2 * size, kMostPieceBytes)) {
        piece.resize(static_cast<std::size_t>(std::min(size, length - at)));
        slot.readAt(at, piece);
        if (const auto end = headerLength(piece))
            return at + *end;
    }
    return std::nullopt;
}

// The print of the file open for reading in `slot`, whose data starts at `dataStart`.
InputPrint printOfOpenFile(FileSlot& slot, std::int64_t dataStart)
{
    InputPrint print;
    print.length = slot.length();
    dataStart = std::min(dataStart, print.length);
    print.header.resize(static_cast<std::size_t>(dataStart));
    slot.readAt(0, print.header);
    for (const auto& [start, size] : blocksOf(dataStart, print.length)) {
        print.blocks.emplace_back(start, std::vector<std::uint8_t>(static_cast<std::size_t>(size)));
        slot.readAt(start, print.blocks.back().second);
    }
    return print;
}

// The print of an input of the run; nothing when it is longer than a header record and holds no
// END card in its first kMostHeaderBytes, as no input that this program gives an output does.
std::optional<InputPrint> printOfInput(FileSlot& slot)
{
    constexpr std::int64_t kMostHeaderBytes = 1000 * kRecordBytes;
    if (slot.length() <= kRecordBytes)
        return printOfOpenFile(slot, slot.length());
    const std::optional<std::int64_t> end = headerEndOfOpenFile(slot, kMostHeaderBytes);
    return end ? std::optional(printOfOpenFile(slot, *end)) : std::nullopt;
}

// Whether the file open for reading in `slot` is an output of the input of `print`: as long, with
// the same header, and the same bytes in every sample that is no dropout in the input. The repair
// rewrites dropouts only, and where an earlier version of this program rewrote them otherwise the
// file is still the output of this input.
bool isOutputOf(FileSlot& slot, const InputPrint& print)
{
    if (slot.length() != print.length)
        return false;
    std::vector<std::uint8_t> bytes(print.header.size());
    slot.readAt(0, bytes);
    if (bytes != print.header)
        return false;
    for (const auto& [start, input] : print.blocks) {
        bytes.resize(input.size());
        slot.readAt(start, bytes);
        for (std::size_t i = 0; i < input.size(); i += 2) {
            const bool dropout = i + 1 < input.size() && input[i] == 0x80 && input[i + 1] == 0x00;
            if (!dropout
                && !std::equal(&input[i], &input[std::min(i + 2, input.size())], &bytes[i]))
                return false;
        }
    }
    return true;
}

// What is under the output's name, looked at through `slot`: nothing, or an earlier output of the
// input of `print`, which the write may replace. Anything else fails, as an Error naming the file.
std::optional<FileStamp> replaceableOutput(const std::string& outputPath, const InputPrint& print,
                                           const std::string& name, std::size_t index,
                                           const RunFiles& files, FileSlot& slot, FileAction action)
{
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
        earlierOutput = isOutputOf(slot, print);
    } catch (const Error& error) {
        throw Error(action, outputPath, error.cause(), error.detail());
    }
    if (!earlierOutput)
        throw Error(action, outputPath, Cause::NotAnEarlierOutput, name);
    slot.close();
    return existing;
}

} // namespace

std::string outputFileName(const std::string& fileName, const std::string& inputPath)
{
    // Dropping characters from a name with a folder in it could name a file beside that folder.
    if (containsPathSeparator(fileName))
        throw Error(FileAction::Write, inputPath, Cause::NameHasFolder);
    const auto stem = dropLastCharacters(fileName, kDroppedCharacters);
    if (!stem)
        throw Error(FileAction::Write, inputPath, Cause::NameTooShort);
    return std::string(*stem) + std::string(kOutputSuffix);
}

// What the run knows of each input from the start, and what it has written since.
struct RunFiles::State {
    struct Input {
        std::string name;
        std::string shownName;  // as failures name it: its path where outputs go elsewhere
        std::string exactPath;  // as comparablePath() gives it
        std::string foldedPath; // the same, letter case folded
        std::optional<FileIdentity> identity;
        std::optional<std::string> outputPath; // none where no output name can be formed
        std::string foldedOutputPath;
        std::optional<FileIdentity> outputIdentity; // of a file already there
        bool passedOver = false;
        std::optional<std::size_t> outputTakenBy; // an earlier input whose output has the same name
    };
    RunOptions options;
    std::vector<Input> inputs;
    std::multimap<std::string, std::size_t> byFoldedPath;
    std::multimap<FileIdentity, std::size_t> byIdentity;
    std::multimap<std::string, std::size_t> byFoldedOutputPath;
    std::multimap<FileIdentity, std::size_t> byOutputIdentity;

    mutable std::mutex writtenMutex;
    std::map<FileIdentity, std::pair<std::size_t, std::string>>
        written; // outputs so far, and their inputs

    // The inputs that are the file at the output path of `input`, by name ignoring letter case or
    // by identity.
    std::vector<std::size_t> inputsAtOutputOf(const Input& input) const
    {
        return lookUp(byFoldedPath, input.foldedOutputPath, byIdentity, input.outputIdentity);
    }
    // The inputs whose output path names `input`.
    std::vector<std::size_t> inputsWhoseOutputIs(const Input& input) const
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

RunFiles::RunFiles(const std::vector<std::pair<std::string, std::string>>& inputs, FileSlot& slot,
                   RunOptions options)
    : state_(std::make_unique<State>())
{
    CloseSlotOnExit closeSlot(slot);
    State& s = *state_;
    s.options = std::move(options);
    std::map<std::string, std::size_t> byExactPath;
    std::map<std::string, std::size_t> outputsByFoldedPath;
    for (const auto& [folder, name] : inputs) {
        const std::size_t index = s.inputs.size();
        State::Input& input = s.inputs.emplace_back();
        input.name = name;
        input.shownName = s.options.outputFolder ? folder + name : name;
        input.exactPath = comparablePath(folder + name);
        input.foldedPath = foldCase(input.exactPath);
        input.identity = fileIdentityByName(folder + name);
        try {
            input.outputPath = s.options.outputFolder.value_or(folder)
                               + outputFileName(name, folder + name);
            input.foldedOutputPath = foldCase(comparablePath(*input.outputPath));
            input.outputIdentity = fileIdentityByName(*input.outputPath);
        } catch (const Error&) {
        }
        // The same file named again, as "a.fit ./a.fit", or through another name whose output is
        // the same: its output is already in the making.
        input.passedOver = byExactPath.contains(input.exactPath);
        if (input.identity) {
            for (auto [at, end] = s.byIdentity.equal_range(*input.identity); at != end; ++at)
                input.passedOver = input.passedOver
                                   || s.inputs[at->second].foldedOutputPath
                                          == input.foldedOutputPath;
        }
        byExactPath.emplace(input.exactPath, index);
        s.byFoldedPath.emplace(input.foldedPath, index);
        if (input.identity)
            s.byIdentity.emplace(*input.identity, index);
        if (input.outputPath)
            s.byFoldedOutputPath.emplace(input.foldedOutputPath, index);
        if (input.outputIdentity)
            s.byOutputIdentity.emplace(*input.outputIdentity, index);
    }
    // Earlier outputs, by their contents: of another input, or of any file beside them, so that runs
    // over parts of a folder, as xargs and parallel split one, pass over what a whole run would.
    std::map<std::string, std::optional<InputPrint>> prints; // by path
    std::map<std::string, std::multimap<std::string, std::string>>
        folders; // names by their outputs' folded names
    const std::string outputEnding = foldCase(kOutputSuffix);
    for (std::size_t index = 0; index < s.inputs.size(); ++index) {
        State::Input& input = s.inputs[index];
        const std::string& folder = inputs[index].first;
        if (input.passedOver || !foldCase(input.name).ends_with(outputEnding))
            continue;
        std::vector<std::string> sources;
        for (const std::size_t other : s.inputsWhoseOutputIs(input))
            sources.push_back(inputs[other].first + s.inputs[other].name);
        auto [listing, added] = folders.try_emplace(folder);
        if (added) {
            std::error_code error;
            for (auto entry = std::filesystem::directory_iterator(
                     pathFromUtf8(folder.empty() ? "." : folder), error);
                 !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
                const std::string name = utf8FromPath(entry->path().filename());
                try {
                    listing->second.emplace(foldCase(outputFileName(name, {})), name);
                } catch (const Error&) {
                }
            }
        }
        for (auto [at, end] = listing->second.equal_range(foldCase(input.name)); at != end; ++at)
            sources.push_back(folder + at->second);
        for (const std::string& source : sources) {
            if (comparablePath(source) == input.exactPath || input.passedOver)
                continue;
            try {
                auto [print, unread] = prints.try_emplace(source);
                if (unread) {
                    slot.openForReading(source);
                    print->second = printOfInput(slot);
                    slot.close();
                }
                if (print->second) {
                    slot.openForReading(folder + input.name);
                    input.passedOver = isOutputOf(slot, *print->second);
                    slot.close();
                }
            } catch (const Error&) {
                slot.close(); // a file that cannot be read is repaired, and fails, in its turn
            }
        }
    }
    // Outputs whose names are one ignoring letter case: the first input in the run's order keeps it.
    for (std::size_t index = 0; index < s.inputs.size(); ++index) {
        State::Input& input = s.inputs[index];
        if (!input.outputPath || input.passedOver)
            continue;
        const auto [first, added] = outputsByFoldedPath.emplace(input.foldedOutputPath, index);
        if (!added)
            input.outputTakenBy = first->second;
    }
}

RunFiles::~RunFiles() = default;

bool RunFiles::passedOver(std::size_t index) const
{
    return index < state_->inputs.size() && state_->inputs[index].passedOver;
}

void RunFiles::checkOutputName(std::size_t index, const std::string& name,
                               const std::string& outputPath, FileAction action) const
{
    const State& s = *state_;
    State::Input output;
    if (index < s.inputs.size()) {
        output = s.inputs[index];
    } else {
        output.foldedOutputPath = foldCase(comparablePath(outputPath));
        output.outputIdentity = fileIdentityByName(outputPath);
    }
    for (const std::size_t other : s.inputsAtOutputOf(output)) {
        if (!s.inputs[other].passedOver)
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

FileReport repairFile(const std::string& folder, const std::string& name, std::size_t index,
                      RunFiles& files, RunValues& run, FileSlot& slot)
{
    const RunOptions& options = files.options();
    const std::string inputPath = folder + name;
    const std::int64_t measuredLength = fileLengthByName(inputPath);
    slot.openForReading(inputPath);
    run.fileLength = slot.length();
    if (run.fileLength != measuredLength)
        throw Error(FileAction::Read, inputPath, Cause::ChangedWhileReading);
    const FileStamp input = slot.stamp();

    // The header says how the image is laid out; a file too short for an image row has none.
    std::optional<ImageLayout> layout;
    if (run.fileLength > kRecordBytes) {
        std::vector<std::uint8_t> header(static_cast<std::size_t>(std::min(
            headerEndOfOpenFile(slot, run.fileLength).value_or(kRecordBytes), run.fileLength)));
        slot.readAt(0, header);
        try {
            layout = readImageLayout(header);
        } catch (const FitsHeaderError& error) {
            // The END card was looked for in the whole file.
            throw Error(FileAction::Repair, inputPath, error.cause(),
                        error.cause() == Cause::NoEndCard ? std::to_string(run.fileLength)
                                                          : error.found());
        }
        // An odd length leaves half a sample at the end: the image was cut off.
        if (run.fileLength % 2 != 0)
            throw Error(FileAction::Repair, inputPath, Cause::OddLength);
    }
    const InputPrint print = printOfOpenFile(slot, layout ? layout->dataStart : run.fileLength);
    FileReport report;
    if (layout) {
        report.mosaic = layout->mosaic;
        // As far as the file's bytes go, as the repair goes; the layout's size fits in 64 bits.
        const std::int64_t imageSamples = layout->rowBytes / 2 * layout->rows * layout->planes;
        report.samples = std::clamp((run.fileLength - layout->dataStart) / 2, std::int64_t{0},
                                    imageSamples);
    }
    const auto repair = [&](const PatchedFile& file) {
        try {
            report.dropouts = repairInWindows(file, run.fileLength, *layout, run.fileData);
        } catch (const std::bad_alloc&) {
            throw Error(FileAction::Read, inputPath, Cause::TooLargeForMemory);
        }
    };
    if (options.checkOnly && layout)
        repair({[&](std::int64_t offset, std::span<std::uint8_t> bytes) {
                    slot.readAt(offset, bytes);
                },
                {},
                {}});
    slot.confirmUnchanged();
    slot.close();

    report.outputPath = options.outputFolder.value_or(folder) + outputFileName(name, inputPath);
    const FileAction action = options.checkOnly ? FileAction::Check : FileAction::Write;
    // An input is named by its name where the outputs go beside the inputs, by its path elsewhere.
    const std::string& shownName = options.outputFolder ? inputPath : name;
    files.checkOutputName(index, shownName, report.outputPath, action);
    const std::optional<FileStamp> replacing = replaceableOutput(
        report.outputPath, print, shownName, index, files, slot, action);
    if (options.checkOnly)
        return report;
    // The input's permissions, so that a private frame gives a private output; its owner may write
    // the output, so that a later run can renew it.
    slot.openForWriting(report.outputPath, replacing, (input.permissions & 0777) | 0200);
    // The output starts as a copy of the input that the file system makes: where it shares blocks,
    // only the blocks that the repair changes take room of their own. The copy, once confirmed, is
    // what is repaired, whatever happens to the input afterwards.
    slot.copyFrom(inputPath, input);
    slot.confirmUnchanged();
    if (layout) {
        repair({[&](std::int64_t offset, std::span<std::uint8_t> bytes) {
                    slot.readAt(offset, bytes);
                },
                [&](std::int64_t offset, std::span<const std::uint8_t> bytes) {
                    slot.writeAt(offset, bytes);
                },
                [&](std::int64_t end) { slot.finishedUpTo(end); }});
    }
    files.wrote(index, slot.commit());
    return report;
}

bool isEarlierOutput(const std::string& inputPath, const std::string& outputPath, FileSlot& slot)
{
    CloseSlotOnExit closeSlot(slot);
    try {
        slot.openForReading(inputPath);
        const std::optional<InputPrint> print = printOfInput(slot);
        slot.close();
        if (!print)
            return false;
        slot.openForReading(outputPath);
        return isOutputOf(slot, *print);
    } catch (const Error&) {
        return false;
    }
}

void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot)
{
    CloseSlotOnExit closeSlot(slot);
    std::vector<std::pair<std::string, std::string>> inputs;
    for (const std::string& name : fileList.allEntries())
        inputs.emplace_back(selection.dirPath, name);
    RunFiles files(inputs, slot);
    // Counted once: the list changes under the run, and a second run repeats the same count.
    const std::int64_t cycles = std::int64_t{selection.entryCount} - 1;
    for (std::int64_t cycle = 1; cycle <= cycles; ++cycle) {
        fileList.repaint();
        run.fileName = fileList.entry0();
        const auto index = static_cast<std::size_t>(cycle - 1);
        if (!files.passedOver(index))
            (void)repairFile(selection.dirPath, run.fileName, index, files, run, slot);
        fileList.removeEntry0();
    }
    fileList.append(std::string(kCompletionMessage));
}

} // namespace tarnis
