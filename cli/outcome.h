#pragma once

#include "common/error.h"
#include "common/file_slot.h"
#include "common/texts.h"
#include "engine/batch.h"
#include "engine/waiting_outputs.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace tarnis::cli {

/// How one file went: its line for standard output, or the description of its failure, and what
/// it adds to the summary. A run and a watch write them alike.
struct Outcome {
    std::string line;
    std::string error;          ///< a failure, for standard error
    std::string warning;        ///< for standard error, even with --quiet
    std::string note;           ///< for standard error, but not with --quiet: what was done instead
    std::optional<Cause> cause; ///< of the failure
    std::int64_t bytes = 0;
    RepairCounts dropouts;
};

/// Repairs the file at `path`, input `index` of `files`, and says how it went; nothing at all for
/// an input that `files` passes over. Leaves the slot closed.
[[nodiscard]] Outcome repairOne(const std::string& path, std::size_t index, RunFiles& files,
                                RunValues& run, FileSlot& slot, Language language);
/// As above, through the slot of `outputs`, where an output written waits to be committed with
/// others; `finished` is told how the file went, at once where nothing waits, or once its output
/// is committed, which may fail it after all.
void repairOne(const std::string& path, std::size_t index, RunFiles& files, RunValues& run,
               WaitingOutputs& outputs, Language language,
               const std::function<void(Outcome)>& finished);

} // namespace tarnis::cli
