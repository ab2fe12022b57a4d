#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnis::cli {

// Neither cmd nor PowerShell expands "*.fit" before starting a program on Windows, so
// tarnis-repair does it itself, as Unix shells do elsewhere.

/// Folds a character to the form in which the file system compares names, ignoring letter case.
using CaseFold = char32_t (*)(char32_t);

/// Whether the UTF-8 `name` matches `pattern` ("*": any run of characters, "?": any one), character
/// by character after `fold`.
[[nodiscard]] bool matchesWildcard(std::string_view pattern, std::string_view name, CaseFold fold);

/// `arguments` with each one whose name (its last part) holds "*" or "?" replaced by the files that
/// match it, each written with the argument's folder part as given, in the order `candidates`
/// lists them. `candidates(argument)` lists the names of the files of the argument's folder that
/// the system takes for matches; only those whose own name matches are kept, since the system also
/// matches the short 8.3 names (FOO~1.FIT for foo.fits under "*.fit"). An argument that matches
/// nothing is kept as it is, so that the user is told that no such file was found.
[[nodiscard]] std::vector<std::string> expandWildcards(
    const std::vector<std::string>& arguments,
    const std::function<std::vector<std::string>(const std::string&)>& candidates, CaseFold fold);

/// The arguments as expandWildcards() gives them, with the system's own listing of folders and its
/// folding of letter case (Windows only).
[[nodiscard]] std::vector<std::string> expandWildcardsOfWindows(
    const std::vector<std::string>& arguments);

} // namespace tarnis::cli
