#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <exception>
#include <string>

#include <grp.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnis::test {

namespace {

// How the child ends: its body returned, threw, or the child could not be set up as asked.
enum ChildExit { kSucceeded, kThrew, kSetupFailed };

// Reports are a line or two, far below what a pipe holds, so one write takes each whole.
[[noreturn]] void exitWith(ChildExit status, int reportDescriptor, const std::string& report)
{
    (void)!::write(reportDescriptor, report.data(), report.size());
    ::_exit(status);
}

bool setLimit(int resource, const std::optional<unsigned long>& value)
{
    const rlimit limit{value.value_or(0), value.value_or(0)};
    return !value || ::setrlimit(resource, &limit) == 0;
}

[[noreturn]] void runChild(const ChildLimits& limits, const std::function<void()>& body,
                           int reportDescriptor)
{
    if (limits.unprivileged && runningAsRoot()) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0
            || ::setuid(nobody->pw_uid) != 0 || ::geteuid() == 0)
            exitWith(kSetupFailed, reportDescriptor, "cannot switch to the user nobody");
    }
    if (!setLimit(RLIMIT_FSIZE, limits.fileSizeLimit)
        || !setLimit(RLIMIT_NOFILE, limits.openFileLimit))
        exitWith(kSetupFailed, reportDescriptor, "cannot set a resource limit");
    try {
        body();
    } catch (const std::exception& error) {
        exitWith(kThrew, reportDescriptor, error.what());
    }
    exitWith(kSucceeded, reportDescriptor, {});
}

} // namespace

bool runningAsRoot() { return ::geteuid() == 0; }

ChildOutcome runInChild(const ChildLimits& limits, const std::function<void()>& body)
{
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) {
        ADD_FAILURE() << "pipe() failed";
        return {};
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        runChild(limits, body, pipeEnds[1]);
    }
    ::close(pipeEnds[1]);
    std::string report;
    char chunk[4096];
    for (ssize_t got = 0; (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
        report.append(chunk, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);

    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) == kSetupFailed) {
        ADD_FAILURE() << "the child process did not run its body (status " << status
                      << "): " << report;
        return {};
    }
    return {WEXITSTATUS(status) == kSucceeded, report};
}

} // namespace tarnis::test
