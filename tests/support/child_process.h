#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarnis::test {

/// How a body run in a child process ended.
struct ChildOutcome {
    bool succeeded = false; // returned normally
    std::string report;     // what() of the exception that ended it, if one did
};

/// Limits that apply to the child only.
struct ChildLimits {
    /// Run without root's privileges, so that permission bits apply: as root the child becomes the
    /// unprivileged user "nobody"; anyone else already is unprivileged and stays who they are.
    bool unprivileged = false;
    /// Largest file the child may write, in bytes (RLIMIT_FSIZE).
    std::optional<unsigned long> fileSizeLimit = std::nullopt;
    /// Most files the child may have open at once (RLIMIT_NOFILE).
    std::optional<unsigned long> openFileLimit = std::nullopt;
};

/// Whether the tests run as root, whom permission bits do not stop.
[[nodiscard]] bool runningAsRoot();

/// Runs `body` in a forked child under `limits` and reports how it ended. A child that cannot be
/// set up as asked, or that a signal ends, fails the calling test. Windows, which cannot fork, runs
/// `body` in the calling process and fails the test when it is asked for a limit.
ChildOutcome runInChild(const ChildLimits& limits, const std::function<void()>& body);

} // namespace tarnis::test
