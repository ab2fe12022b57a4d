#include "engine/batch.h"

#include "common/cause.h"
#include "common/error.h"
#include "common/texts.h"
#include "common/file_names.h"
#include "engine/fits_header.h"
#include "engine/repair.h"
#include "engine/replace_rule.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>

namespace tarnis {

namespace {

constexpr std::size_t kDroppedCharacters = 4;

// The input as it was read: what it is, where its samples lie, and what its outputs are held against.
struct ReadInput {
    FileStamp stamp;
    std::optional<ImageLayout> layout; // none for a file too short for an image row
    InputPrint print;
};

// Opens the input in `slot` and reads its header: how the image is laid out. A file too short for
// an image row has none; any other file that is no 16-bit image with rows is refused.
ReadInput openInput(const std::string& inputPath, RunValues& run, FileSlot& slot)
{
    const std::int64_t measuredLength = fileLengthByName(inputPath);
    slot.openForReading(inputPath);
    run.fileLength = slot.length();
    if (run.fileLength != measuredLength)
        throw Error(FileAction::Read, inputPath, Cause::ChangedWhileReading);
    ReadInput input{slot.stamp(), std::nullopt, {inputPath, run.fileLength, run.fileLength}};
    if (run.fileLength <= kRecordBytes)
        return input;
    std::vector<std::uint8_t> header(static_cast<std::size_t>(std::min(
        headerEndOfOpenFile(slot, run.fileLength).value_or(kRecordBytes), run.fileLength)));
    slot.readAt(0, header);
    try {
        input.layout = readImageLayout(header);
    } catch (const FitsHeaderError& error) {
        // The END card was looked for in the whole file.
        throw Error(FileAction::Repair, inputPath, error.cause(),
                    error.cause() == Cause::NoEndCard ? std::to_string(run.fileLength)
                                                      : error.found());
    }
    // An odd length leaves half a sample at the end: the image was cut off.
    if (run.fileLength % 2 != 0)
        throw Error(FileAction::Repair, inputPath, Cause::OddLength);
    input.print.dataStart = std::min(input.layout->dataStart, run.fileLength);
    return input;
}

// The report's account of the image, before anything is repaired.
FileReport reportOf(const ReadInput& input, std::int64_t length)
{
    FileReport report;
    if (input.layout) {
        const ImageLayout& layout = *input.layout;
        report.mosaic = layout.mosaic;
        // As far as the file's bytes go, as the repair goes; the layout's size fits in 64 bits.
        report.imageSamples = layout.rowBytes / 2 * layout.rows * layout.planes;
        report.samples = std::clamp((length - layout.dataStart) / 2, std::int64_t{0},
                                    report.imageSamples);
    }
    return report;
}

// Counts the dropouts of the input that `slot` holds, a window at a time, writing nothing.
void countThroughSlot(const ReadInput& input, RunValues& run, FileSlot& slot, FileReport& report,
                      RepairRule rule)
{
    const PatchedFile file{
        [&](std::int64_t offset, std::span<std::uint8_t> bytes) { slot.readAt(offset, bytes); },
        {},
        {}};
    try {
        report.dropouts = repairInWindows(file, run.fileLength, *input.layout, run.fileData, rule);
    } catch (const std::bad_alloc&) {
        throw Error(FileAction::Read, input.print.path, Cause::TooLargeForMemory);
    }
}

// Writes the output: a copy of the input that the file system makes, repaired where the image
// needs it, put in place of `replacing` only. Where the copy shares blocks with the input it is a
// clone, of which only the blocks the repair changes take room of their own where few change, and
// which is dropped for the output written whole where many do. The copy, once confirmed, is what is
// repaired, whatever happens to the input afterwards, until it is dropped.
void writeOutput(const ReadInput& input, const std::optional<FileStamp>& replacing,
                 RunValues& run, FileSlot& slot, FileReport& report, RepairRule rule,
                 OutputCommit commit)
{
    // Committed at once, the output's final bytes are sent on their way to the disk while the rest
    // is worked on, so that its sync waits for less. Committed on another thread, its sync does
    // that writing while this one goes on with the next file; started here, it would take this
    // thread's time (on btrfs, which checksums the data as it starts, a run took 1.4x as long).
    std::function<void(std::int64_t)> finished;
    if (commit == OutputCommit::Now)
        finished = [&](std::int64_t end) { slot.finishedUpTo(end); };
    // The input's permissions, so that a private frame gives a private output; its owner may write
    // the output, so that a later run can renew it.
    slot.openForWriting(report.outputPath, replacing, (input.stamp.permissions & 0777) | 0200);
    slot.copyFrom(input.print.path, input.stamp);
    slot.confirmUnchanged();
    try {
        const RepairCounts counts = repairIntoNewFile(
            {{[&](std::int64_t offset, std::span<std::uint8_t> bytes) {
                  slot.readAt(offset, bytes);
              },
              [&](std::int64_t offset, std::span<const std::uint8_t> bytes) {
                  slot.writeAt(offset, bytes);
              },
              finished},
             slot.copyMade(),
             [&] { return slot.dropCopy(); }},
            run.fileLength, input.layout ? &*input.layout : nullptr, run.fileData, rule);
        if (input.layout)
            report.dropouts = counts;
    } catch (const std::bad_alloc&) {
        throw Error(FileAction::Read, input.print.path, Cause::TooLargeForMemory);
    }
    slot.finishWriting();
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

FileReport repairFile(const std::string& folder, const std::string& name, std::size_t index,
                      RunFiles& files, RunValues& run, FileSlot& slot, OutputCommit commit)
{
    const RunOptions& options = files.options();
    const std::string inputPath = folder + name;
    const ReadInput input = openInput(inputPath, run, slot);
    FileReport report = reportOf(input, run.fileLength);
    if (options.checkOnly && input.layout)
        countThroughSlot(input, run, slot, report, options.rule);

    report.outputPath = options.outputFolder.value_or(folder) + outputFileName(name, inputPath);
    const FileAction action = options.checkOnly ? FileAction::Check : FileAction::Write;
    // An input is named by its name where the outputs go beside the inputs, by its path elsewhere.
    const std::string& shownName = options.outputFolder ? inputPath : name;
    files.checkOutputName(index, shownName, report.outputPath, action);
    // An earlier output is held against the input while it is still open, so that the reads of
    // both are confirmed with the input's own.
    FileSlot existing;
    const std::optional<FileStamp> replacing = replaceableOutput(
        report.outputPath, slot, input.print, shownName, index, files, existing, action);
    slot.confirmUnchanged();
    slot.close();
    if (!options.checkOnly) {
        writeOutput(input, replacing, run, slot, report, options.rule, commit);
        if (commit == OutputCommit::Now)
            files.wrote(index, slot.commit());
    }
    return report;
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
        if (const std::optional<Renewal> renewal = files.renewal(index))
            (void)repairFile(renewal->folder, renewal->name, renewal->index, files, run, slot);
        else if (!files.passedOver(index))
            (void)repairFile(selection.dirPath, run.fileName, index, files, run, slot);
        fileList.removeEntry0();
    }
    fileList.append(std::string(kCompletionMessage));
}

} // namespace tarnis
