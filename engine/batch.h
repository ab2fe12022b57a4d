#pragma once

#include "common/error.h"
#include "common/file_list.h"
#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/repair.h"
#include "engine/replace_rule.h"
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

/// What the repair of one file did.
struct FileReport {
    std::string outputPath;
    RepairCounts dropouts;
    std::int64_t samples =
        0; ///< the samples of image data that the file holds, where dropouts are looked for
    std::int64_t imageSamples = 0; ///< the samples of the image its header describes
    Mosaic mosaic = Mosaic::None;  ///< a colour frame's is repaired from samples of its own colour
};

/// When repairFile() commits the output it writes.
enum class OutputCommit {
    Now,      ///< at once: the output is in place when repairFile() returns
    ByCaller, ///< later: the output is left written and open in the slot, for the caller to commit
              ///< (as WaitingOutputs does) and then to tell the run's files (RunFiles::wrote())
};

/// Repairs the file `name` in `folder` (which ends with a separator), input `index` of `files`: its
/// output, beside it (or in the run's output folder) under outputFileName(), starts as a copy of it
/// that the file system makes (sharing its blocks where it can), and then only the blocks the
/// repair changes are written, a window at a time, with the layout its FITS header gives. The
/// output gets the input's permissions (and its owner's leave to write it, so that a later run can
/// renew it). A file of at most 2880 bytes holds no image row and is copied unchanged; a longer one
/// that is not a 16-bit FITS image with rows is refused before anything is written. A file already
/// under the output's name is replaced only when it is this program's earlier output of this
/// input, as isOutputOf() proves it over the whole file; anything else is refused, as `files`
/// refuses, before anything is written. The run's options are those of `files`; a check reads the
/// input a window at a time and writes nothing. The slot is closed after each successful read or
/// write and left as it was on a failure, which is an Error that names the file and the cause;
/// with OutputCommit::ByCaller, a written output is left in it, complete and not yet committed.
FileReport repairFile(const std::string& folder, const std::string& name, std::size_t index,
                      RunFiles& files, RunValues& run, FileSlot& slot,
                      OutputCommit commit = OutputCommit::Now);

/// Works through the file list: `selection.entryCount` - 1 cycles, each taking the list's top entry
/// as the name of a file in `selection.dirPath`, repairing it with repairFile() and then removing
/// the entry. An entry that RunFiles passes over leaves the list as a repaired one does, after the
/// file that renews it, where the run is to, is repaired in its place. The
/// completion message follows the last cycle. No output replaces a file that is in the list when the
/// run starts, unless it is an earlier output of its input, nor the output of another entry.
///
/// The first failure ends the run with an Error: the outputs of earlier cycles stay, the failing
/// file's entry stays on top of the list with the later ones below it, nothing is appended, nothing
/// of the failing file's output is left behind, and the slot is closed.
void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot);

} // namespace tarnis
