#pragma once

#include "common/file_list.h"
#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/byte_buffer.h"
#include "engine/repair.h"

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace tarnis {

/// What an output's name ends with, after the input's name has lost its last four characters.
inline constexpr std::string_view kOutputSuffix = "_R.fit";

/// The values of the current file of a run. They belong to the caller and keep their last contents
/// after the run.
struct RunValues {
    std::string fileName;
    ByteBuffer fileData;
    std::int64_t fileLength = 0;
};

/// The output's name for an input's name: the name without its last four characters, followed by
/// "_R.fit" ("img01.fit" gives "img01_R.fit", "img01.fits" gives "img01._R.fit"). Characters are
/// Unicode characters of the UTF-8 name. Fails with an Error naming `inputPath` when the name has
/// fewer than four characters, or leads into another folder.
[[nodiscard]] std::string outputFileName(const std::string& fileName, const std::string& inputPath);

/// The files a run works from, which no output of the run may replace: in LRGB imaging the red
/// channel of "M31.fit" is often called "M31_R.fit", the very name of M31.fit's output.
class SelectedFiles {
public:
    /// Adds the file at `path`, by its name and, if it exists, by what it is on disk.
    void add(const std::string& path);
    /// Fails with an Error naming both files when `outputPath` is one of them.
    void checkIsNoneOf(const std::string& outputPath, const std::string& inputName) const;

private:
    std::set<std::string> paths_;
    std::set<FileIdentity> identities_;
};

/// What the repair of one file did.
struct FileReport {
    std::string outputPath;
    RepairCounts dropouts;
    Mosaic mosaic = Mosaic::None; ///< a colour frame's is repaired from samples of its own colour
};

/// Reads the file `name` in `folder` (which ends with a separator) whole into `run`, repairs its
/// dropouts with the layout its FITS header gives and writes the result beside it under
/// outputFileName(), unless that is one of `selected`. A file of at most 2880 bytes holds no image
/// row and is copied unchanged; a longer one that is not a 16-bit FITS image with rows is refused
/// before anything is written. With `write` false, nothing is written. The slot is closed after
/// each successful read or write and left as it was on a failure, which is an Error that names the
/// file and the cause.
FileReport repairFile(const std::string& folder, const std::string& name, const SelectedFiles& selected,
                      RunValues& run, FileSlot& slot, bool write = true);

/// Works through the file list: `selection.entryCount` - 1 cycles, each taking the list's top entry
/// as the name of a file in `selection.dirPath`, repairing it with repairFile() and then removing
/// the entry. The completion message follows the last cycle. No output replaces a file that is in
/// the list when the run starts.
///
/// The first failure ends the run with an Error: the outputs of earlier cycles stay, the failing
/// file's entry stays on top of the list with the later ones below it, nothing is appended, nothing
/// of the failing file's output is left behind, and the slot is closed.
void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot);

} // namespace tarnis
