#pragma once

#include "common/error.h"
#include "common/file_slot.h"
#include "common/texts.h"
#include "engine/batch.h"

#include <cstddef>
#include <cstdint>
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

} // namespace tarnis::cli
