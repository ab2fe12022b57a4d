#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarnis {

// The window program's command line, the same for both windows: the files to queue, as a file
// manager's "Open with" gives them, and the two options every desktop program answers.

enum class StartAction { OpenWindow, PrintHelp, PrintVersion };

struct Start {
    StartAction action = StartAction::OpenWindow;
    std::vector<std::string> files;
};

/// Reads the program's arguments (without its own name). "-h"/"--help" and "-V"/"--version"
/// before a "--" print and end the program; every other argument, and each after the first "--",
/// is a file.
[[nodiscard]] Start readArguments(const std::vector<std::string>& arguments);

/// What "--help" and "--version" print, each ending with a line break.
[[nodiscard]] std::string_view helpText();
[[nodiscard]] std::string_view versionText();

} // namespace tarnis
