#pragma once

#include "cli/console.h"
#include "common/texts.h"
#include "engine/batch.h"

#include <chrono>
#include <string>

namespace tarnis::cli {

/// What `tarnis-repair --watch DIR` was asked for.
struct WatchRequest {
    std::string folder; ///< ending with a separator
    RunOptions run;     ///< never checkOnly
    bool quiet = false;
};

/// How the watch learns of new files, and how long it waits for them; tests shorten the waits.
struct WatchSettings {
    bool polling = false; ///< poll even where the system would notify
    std::chrono::milliseconds pollEvery{2000};
    /// A frame shorter than its header promises is taken as it is once it has not grown for this
    /// long: its writer gave up, and a plain run would repair it as far as its bytes go.
    std::chrono::milliseconds patience{60000};
};

/// Repairs the frames in the folder, as a run over all of them would, except those whose output
/// is there already and proven theirs; then each frame saved into the folder once it is complete,
/// until SIGINT or SIGTERM (Ctrl+C on Windows). Reports as a run does, each line as it happens;
/// returns the exit status of a run, and kSomeFailed when the folder goes away.
[[nodiscard]] int watchFolder(const WatchRequest& request, Console& console, Language language,
                              const WatchSettings& settings = {});

} // namespace tarnis::cli
