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
/// standard output and standard error captured, and waits for it to end. `before` and `after` are
/// words for the shell, put before the program ("prlimit --nofile=9", which starts it) and after
/// its redirections (">&-", "> /dev/full"). `environment` ("LANG=ja_JP.UTF-8", "LC_ALL=") is set
/// for the program alone; an empty value leaves the variable empty, on Windows unset.
[[nodiscard]] ProgramResult runProgram(const std::filesystem::path& program,
                                       const std::vector<std::string>& arguments,
                                       const std::filesystem::path& workingFolder,
                                       const std::string& before = {},
                                       const std::string& after = {},
                                       const std::vector<std::string>& environment = {});

} // namespace tarnis::test
