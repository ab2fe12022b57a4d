#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <exception>

namespace tarnis::test {

// Windows cannot fork a copy of the running test, and its faults need none of the limits: the
// read-only attribute, the one permission that its fault table sets, stops administrators too.
bool runningAsRoot() { return false; }

ChildOutcome runInChild(const ChildLimits& limits, const std::function<void()>& body)
{
    if (limits.fileSizeLimit || limits.openFileLimit) {
        ADD_FAILURE() << "Windows has no file size or open-file limit for one process";
        return {};
    }
    try {
        body();
    } catch (const std::exception& error) {
        return {false, error.what()};
    }
    return {true, {}};
}

} // namespace tarnis::test
