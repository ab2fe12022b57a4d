#pragma once

// The table that foldCase() folds letter case by, generated from Unicode's data by
// tools/case_fold_table.py into case_fold_table.cpp.

#include <cstddef>
#include <cstdint>
#include <iterator>

namespace tarnis::detail {

/// Letters and their upper case: from `first` to `last`, every `step`-th character has its upper
/// case `delta` places away. Sorted, and no two runs overlap, so a character's run is the first
/// whose end is not below it.
struct UpperCaseRun {
    char32_t first;
    char32_t last;
    std::int32_t delta;
    std::uint32_t step;
};

extern const UpperCaseRun kUpperCaseRuns[];
extern const std::size_t kUpperCaseRunCount;

} // namespace tarnis::detail
