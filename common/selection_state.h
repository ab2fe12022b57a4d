#pragma once

#include <cstdint>
#include <string>

namespace tarnis {

/// What the last completed file selection left for the run.
struct SelectionState {
    /// The folder of the queued files, UTF-8. Empty before the first completed selection, and after
    /// it always ending with the platform's separator, so that a file name can be appended directly.
    std::string dirPath;
    /// One more than the number of files the last completed selection queued; 0 before any.
    std::int32_t entryCount = 0;
};

} // namespace tarnis
