#include "engine/batch.h"

#include "common/error.h"
#include "common/texts.h"
#include "common/text.h"
#include "engine/fits_header.h"
#include "engine/repair.h"

#include <filesystem>
#include <limits>

namespace tarnis {

namespace {

constexpr std::size_t kDroppedCharacters = 4;
// A file no longer than one header record holds no image row to repair.
constexpr std::int64_t kHeaderBytes = 2880;

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

void readWhole(const std::string& inputPath, RunValues& run, FileSlot& slot)
{
    const std::int64_t measuredLength = fileLengthByName(inputPath);
    if (static_cast<std::uint64_t>(measuredLength) > std::numeric_limits<std::size_t>::max()
        || !run.fileData.resize(static_cast<std::size_t>(measuredLength)))
        throw Error(FileAction::Read, inputPath, Cause::TooLargeForMemory);
    slot.openForReading(inputPath);
    run.fileLength = slot.length();
    if (run.fileLength != measuredLength)
        throw Error(FileAction::Read, inputPath, Cause::ChangedWhileReading);
    slot.readAll(run.fileData.bytes());
    slot.close();
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

void SelectedFiles::add(const std::string& path)
{
    paths_.insert(comparablePath(path));
    if (const auto identity = fileIdentityByName(path))
        identities_.insert(*identity);
}

void SelectedFiles::checkIsNoneOf(const std::string& outputPath, const std::string& inputName) const
{
    bool selected = paths_.contains(comparablePath(outputPath));
    if (!selected && !identities_.empty()) {
        const auto identity = fileIdentityByName(outputPath);
        selected = identity && identities_.contains(*identity);
    }
    if (selected)
        throw Error(FileAction::Write, outputPath, Cause::OutputIsSelected, inputName);
}

FileReport repairFile(const std::string& folder, const std::string& name, const SelectedFiles& selected,
                      RunValues& run, FileSlot& slot, bool write)
{
    const std::string inputPath = folder + name;
    readWhole(inputPath, run, slot);

    FileReport report;
    if (run.fileLength > kHeaderBytes) {
        try {
            const ImageLayout layout = readImageLayout(run.fileData.bytes());
            report.mosaic = layout.mosaic;
            report.dropouts = repairDropouts(run.fileData.bytes(), run.fileLength, layout);
        } catch (const FitsHeaderError& error) {
            throw Error(FileAction::Repair, inputPath, error.cause(), error.found());
        } catch (const TruncatedImageError&) {
            throw Error(FileAction::Repair, inputPath, Cause::OddLength);
        }
    }

    report.outputPath = folder + outputFileName(name, inputPath);
    selected.checkIsNoneOf(report.outputPath, name);
    if (!write)
        return report;
    slot.openForWriting(report.outputPath);
    slot.writeAll(run.fileData.bytes());
    slot.commit();
    return report;
}

void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot)
{
    CloseSlotOnExit closeSlot(slot);
    SelectedFiles selected;
    for (const std::string& name : fileList.allEntries())
        selected.add(selection.dirPath + name);
    // Counted once: the list changes under the run, and a second run repeats the same count.
    const std::int64_t cycles = std::int64_t{selection.entryCount} - 1;
    for (std::int64_t cycle = 1; cycle <= cycles; ++cycle) {
        fileList.repaint();
        run.fileName = fileList.entry0();
        (void)repairFile(selection.dirPath, run.fileName, selected, run, slot);
        fileList.removeEntry0();
    }
    fileList.append(std::string(kCompletionMessage));
}

} // namespace tarnis
