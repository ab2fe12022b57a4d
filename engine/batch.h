#pragma once

#include "common/file_list.h"
#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/byte_buffer.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tarnis {

/// Appended to the file list when a run has worked through all of its files.
inline constexpr std::string_view kCompletionMessage = "選択されたﾌｧｲﾙの処理を終了しました";

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
/// fewer than four characters.
[[nodiscard]] std::string outputFileName(const std::string& fileName, const std::string& inputPath);

/// Works through the file list: `selection.entryCount` - 1 cycles, each taking the list's top entry
/// as the name of a file in `selection.dirPath`, reading it, repairing its dropouts, writing it
/// beside the input under outputFileName() and then removing the entry. The completion message
/// follows the last cycle.
///
/// The first failure ends the run with an Error: the outputs of earlier cycles stay, the failing
/// file's entry stays on top of the list with the later ones below it, nothing is appended, nothing
/// of the failing file's output is left behind, and the slot is closed.
void runBatch(FileList& fileList, const SelectionState& selection, RunValues& run, FileSlot& slot);

} // namespace tarnis
