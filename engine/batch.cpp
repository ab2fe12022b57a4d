#include "engine/batch.h"

#include "common/error.h"
#include "common/text.h"
#include "engine/repair.h"

#include <limits>

namespace tarnis {

namespace {

constexpr std::size_t kDroppedCharacters = 4;

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

void sizeBufferFor(RunValues& run, std::int64_t length, const std::string& path)
{
    const bool fits = static_cast<std::uint64_t>(length) <= std::numeric_limits<std::size_t>::max();
    if (!fits || !run.fileData.resize(static_cast<std::size_t>(length)))
        throw fileError(FileAction::Read, path, "メモリが足りないため、ファイル全体を読み込めません。");
}

void runCycle(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot)
{
    fileList.repaint();
    run.fileName = fileList.entry0();
    const std::string inputPath = selection.dirPath + run.fileName;

    const std::int64_t measuredLength = fileLengthByName(inputPath);
    sizeBufferFor(run, measuredLength, inputPath);
    slot.openForReading(inputPath);
    run.fileLength = slot.length();
    if (run.fileLength != measuredLength)
        throw fileError(FileAction::Read, inputPath, kFileChangedWhileReading);
    slot.readAll(run.fileData.bytes());
    slot.close();

    try {
        repairDropouts(run.fileData.bytes(), run.fileLength);
    } catch (const TruncatedImageError& error) {
        // The repair knows the cause, not the file; the user needs both.
        throw fileError(FileAction::Read, inputPath, error.what());
    }

    const std::string outputPath = selection.dirPath + outputFileName(run.fileName, inputPath);
    slot.openForWriting(outputPath);
    slot.writeAll(run.fileData.bytes());
    slot.commit();

    fileList.removeEntry0();
}

} // namespace

std::string outputFileName(const std::string& fileName, const std::string& inputPath)
{
    const auto stem = dropLastCharacters(fileName, kDroppedCharacters);
    if (!stem)
        throw fileError(FileAction::Write, inputPath, "ファイル名が 4 文字より短いため、出力ファイルの名前を作れません。");
    return std::string(*stem) + std::string(kOutputSuffix);
}

void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot)
{
    CloseSlotOnExit closeSlot(slot);
    // Counted once: the list changes under the run, and a second run repeats the same count.
    const std::int64_t cycles = std::int64_t{selection.entryCount} - 1;
    for (std::int64_t cycle = 1; cycle <= cycles; ++cycle)
        runCycle(fileList, selection, run, slot);
    fileList.append(std::string(kCompletionMessage));
}

} // namespace tarnis
