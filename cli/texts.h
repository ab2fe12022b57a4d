#pragma once

#include <string>
#include <string_view>

namespace tarnis::cli {

// Every text of tarnis-repair's own; the descriptions of failed files come from common/texts.cpp.

/// The answer to --help.
[[nodiscard]] std::string helpText();
/// The answer to --version.
[[nodiscard]] std::string versionText();

/// What is wrong with a command line, followed by where to read more.
enum class UsageProblem { NoFile, UnknownOption, MissingJobs, BadJobs };
[[nodiscard]] std::string usageErrorText(UsageProblem problem, std::string_view argument);

/// That the report could not be written to standard output, with the C library's error number.
[[nodiscard]] std::string outputErrorText(int errorNumber);

} // namespace tarnis::cli
