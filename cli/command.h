#pragma once

#include "cli/console.h"
#include "common/texts.h"

#include <string>
#include <vector>

namespace tarnis::cli {

/// What tarnis-repair's exit status says.
enum ExitStatus : int {
    kAllRepaired = 0, ///< every file repaired (or, with --check, counted)
    kSomeFailed = 1,  ///< at least one file failed; the others were still done
    kUsageError = 2,  ///< the command line was wrong; nothing was done
};

/// Runs tarnis-repair with `arguments` (the program's name left out), UTF-8 texts as the shell gave
/// them, speaking `language`, and returns its exit status. Each file is repaired as the window's
/// run repairs it, beside itself or in the folder of --output-dir, and no output replaces a file
/// named on the command line. Unlike the window's run, a failed file does not stop the others.
[[nodiscard]] int runCommand(const std::vector<std::string>& arguments, Console& console,
                             Language language);

} // namespace tarnis::cli
