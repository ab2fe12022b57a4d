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

constexpr int kExitSucceeded = 0;
constexpr int kExitThrew = 1;
constexpr int kExitSetupFailed = 2;

void writeAll(int descriptor, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = ::write(descriptor, text.data() + done, text.size() - done);
        if (written <= 0)
            return;
        done += static_cast<std::size_t>(written);
    }
}

bool setLimit(int resource, const std::optional<unsigned long>& value)
{
    const rlimit limit{value.value_or(0), value.value_or(0)};
    return !value || ::setrlimit(resource, &limit) == 0;
}

[[noreturn]] void runChild(const ChildLimits& limits, const std::function<void()>& body, int reportDescriptor)
{
    if (limits.unprivileged && runningAsRoot()) {
        const passwd* nobody = ::getpwnam("nobody");
        if (nobody == nullptr || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0
            || ::setuid(nobody->pw_uid) != 0 || ::geteuid() == 0) {
            writeAll(reportDescriptor, "cannot switch to the user nobody");
            ::_exit(kExitSetupFailed);
        }
    }
    if (!setLimit(RLIMIT_FSIZE, limits.fileSizeLimit) || !setLimit(RLIMIT_NOFILE, limits.openFileLimit)) {
        writeAll(reportDescriptor, "cannot set a resource limit");
        ::_exit(kExitSetupFailed);
    }
    try {
        body();
    } catch (const std::exception& error) {
        writeAll(reportDescriptor, error.what());
        ::_exit(kExitThrew);
    }
    ::_exit(kExitSucceeded);
}

} // namespace

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

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
    ssize_t got = 0;
    while ((got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        report.append(chunk, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);

    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) {
        ADD_FAILURE() << "the child process was ended by signal " << WTERMSIG(status);
        return {};
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) == kExitSetupFailed) {
        ADD_FAILURE() << "the child process did not run its body: " << report;
        return {};
    }
    return {WEXITSTATUS(status) == kExitSucceeded, report};
}

} // namespace tarnis::test
