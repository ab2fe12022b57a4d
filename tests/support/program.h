#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tarnis::test {

/// How a program run to its end went.
struct ProgramResult {
    int exitStatus = -1; // -1: it did not start, or a signal ended it
    std::string out;     // all it wrote on standard output
    std::string error;   // all it wrote on standard error
};

/// Runs `program` with `arguments` (UTF-8) in the folder `workingFolder`, standard input empty,
/// standard output and standard error captured, and waits for it to end.
[[nodiscard]] ProgramResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                                       const std::filesystem::path& workingFolder);

} // namespace tarnis::test
