#pragma once

#include "common/error.h"
#include "common/file_list.h"
#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/repair.h"
#include "engine/windowed_repair.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnis {

/// What an output's name ends with, after the input's name has lost its last four characters.
inline constexpr std::string_view kOutputSuffix = "_R.fit";

/// The values of the current file of a run. They belong to the caller and keep their last contents
/// after the run.
struct RunValues {
    std::string fileName;
    RepairWindow fileData; ///< the part of the file being repaired
    std::int64_t fileLength = 0;
};

/// The output's name for an input's name: the name without its last four characters, followed by
/// "_R.fit" ("img01.fit" gives "img01_R.fit", "img01.fits" gives "img01._R.fit"). Characters are
/// Unicode characters of the UTF-8 name. Fails with an Error naming `inputPath` when the name has
/// fewer than four characters, or leads into another folder.
[[nodiscard]] std::string outputFileName(const std::string& fileName, const std::string& inputPath);

/// How a run treats its files. The window's run takes the defaults.
struct RunOptions {
    /// Count the dropouts and look at the outputs' names, but write nothing; what a run would refuse
    /// is reported as such (FileAction::Check).
    bool checkOnly = false;
    /// The folder (ending with a separator) that every output is written into, in place of beside
    /// its input: for a card that is write-protected, or an archive that is read-only. Every rule on
    /// which file an output may replace holds there as beside the input.
    std::optional<std::string> outputFolder;
};

/// The inputs of one run, looked at together before the first is repaired, so that no output of the
/// run takes the place of another input, nor of the output of another input of the run, ignoring
/// letter case as FAT, exFAT and NTFS do (in LRGB imaging the red channel of "M31.fit" is often
/// called "M31_R.fit", the very name of M31.fit's output; "dark_0001" and "dark_0002" both give
/// "dark__R.fit"). An input that is this program's earlier output of another input, as a second run
/// over a whole folder finds them, is passed over: the other input renews it. So is an input named
/// again. Safe to share between threads once made.
class RunFiles {
public:
    /// `inputs`: each input's folder (ending with a separator, or empty for the working folder) and
    /// name, in the run's order. Reads what it needs through `slot`, and leaves it closed. With an
    /// output folder, two inputs of one name from two folders have one output: the second is
    /// refused, and the failures name the inputs by their paths rather than their names.
    RunFiles(const std::vector<std::pair<std::string, std::string>>& inputs, FileSlot& slot,
             RunOptions options = {});
    ~RunFiles();
    RunFiles(const RunFiles&) = delete;
    RunFiles& operator=(const RunFiles&) = delete;

    /// Whether input `index` is passed over.
    [[nodiscard]] bool passedOver(std::size_t index) const;
    /// Fails with an Error naming `outputPath`, the output of input `index` (`name`; an index past
    /// the inputs is none of them), when it names another input that is not passed over
    /// (OutputIsSelected) or the output of an earlier input (OutputOfAnotherInput).
    void checkOutputName(std::size_t index, const std::string& name, const std::string& outputPath,
                         FileAction action) const;
    /// Fails with an Error naming `outputPath` when the file `existing` there is one that the run
    /// wrote as the output of another input (OutputOfAnotherInput).
    void checkNotWrittenForAnother(std::size_t index, const FileIdentity& existing,
                                   const std::string& outputPath, FileAction action) const;
    /// Notes that the run wrote the file `written` as the output of input `index`.
    void wrote(std::size_t index, const FileIdentity& written);
    [[nodiscard]] const RunOptions& options() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

/// What the repair of one file did.
struct FileReport {
    std::string outputPath;
    RepairCounts dropouts;
    std::int64_t samples =
        0; ///< the samples of image data that the file holds, where dropouts are looked for
    Mosaic mosaic = Mosaic::None; ///< a colour frame's is repaired from samples of its own colour
};

/// Repairs the file `name` in `folder` (which ends with a separator), input `index` of `files`: its
/// output, beside it (or in the run's output folder) under outputFileName(), starts as a copy of it
/// that the file system makes (sharing its blocks where it can), and then only the bytes the
/// repair changes are written, a window at a time, with the layout its FITS header gives. The
/// output gets the input's permissions (and its owner's leave to write it, so that a later run can
/// renew it). A file of at most 2880 bytes holds no image row and is copied unchanged; a longer one
/// that is not a 16-bit FITS image with rows is refused before anything is written. A file already
/// under the output's name is replaced only when it is this program's earlier output of this
/// input: as long as the input, with the same header, and the same bytes wherever the input holds
/// no dropout (looked at in blocks spread over the data); anything else is refused, as `files`
/// refuses, before anything is written. The run's options are those of `files`; a check reads the
/// input a window at a time and writes nothing. The slot is closed after each successful read or
/// write and left as it was on a failure, which is an Error that names the file and the cause.
FileReport repairFile(const std::string& folder, const std::string& name, std::size_t index,
                      RunFiles& files, RunValues& run, FileSlot& slot);

/// Whether the file at `outputPath` is this program's earlier output of the input at `inputPath`,
/// by the rule that decides which file an output may replace; false where there is none, or either
/// cannot be read. Looks through `slot`, and leaves it closed.
[[nodiscard]] bool isEarlierOutput(const std::string& inputPath, const std::string& outputPath,
                                   FileSlot& slot);

/// Works through the file list: `selection.entryCount` - 1 cycles, each taking the list's top entry
/// as the name of a file in `selection.dirPath`, repairing it with repairFile() and then removing
/// the entry. An entry that RunFiles passes over leaves the list as a repaired one does. The
/// completion message follows the last cycle. No output replaces a file that is in the list when the
/// run starts, unless it is an earlier output of its input, nor the output of another entry.
///
/// The first failure ends the run with an Error: the outputs of earlier cycles stay, the failing
/// file's entry stays on top of the list with the later ones below it, nothing is appended, nothing
/// of the failing file's output is left behind, and the slot is closed.
void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot);

} // namespace tarnis
