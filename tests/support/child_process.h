#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarnis::test {

/// How a body run in a child process ended.
struct ChildOutcome {
    bool succeeded = false;  // returned normally
    std::string errorText;   // what() of the exception that ended it, if one did
};

/// Limits that apply to the child only.
struct ChildLimits {
    /// Give up root for the unprivileged user "nobody", so that permission bits apply for real.
    bool dropPrivileges = false;
    /// Largest file the child may write, in bytes (RLIMIT_FSIZE, with SIGXFSZ ignored so that the
    /// write fails with EFBIG instead of killing the process).
    std::optional<unsigned long> fileSizeLimit;
};

/// Runs `body` in a forked child under `limits` and reports how it ended. A body that cannot be
/// run as asked (the user cannot be switched to) fails the calling test.
ChildOutcome runInChild(const ChildLimits& limits, const std::function<void()>& body);

} // namespace tarnis::test
