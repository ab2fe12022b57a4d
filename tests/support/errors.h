#pragma once

#include "common/error.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace tarnis {

// Lets a failed expectation name the cause, as the code does.
inline void PrintTo(Cause cause, std::ostream* out) { *out << "Cause::" << causeName(cause); }

namespace test {

/// The Error that `action` throws, or nothing when it throws none.
template <typename Action>
std::optional<Error> errorOf(Action&& action)
{
    try {
        action();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

/// Whether `action` throws an Error of `cause` about `path`; when not, what it did instead.
template <typename Action>
::testing::AssertionResult throwsError(Action&& action, Cause cause, const std::string& path)
{
    const std::optional<Error> error = errorOf(action);
    if (!error)
        return ::testing::AssertionFailure() << "threw no Error";
    if (error->cause() != cause || error->path() != path)
        return ::testing::AssertionFailure() << "threw Cause::" << causeName(error->cause())
                                             << " about '" << error->path() << "'";
    return ::testing::AssertionSuccess();
}

/// Expects `statement` to throw an Error of `cause` about `path`.
#define EXPECT_ERROR(statement, cause, path)                                                       \
    EXPECT_TRUE(::tarnis::test::throwsError([&] { statement; }, cause, path))

/// The completion message as the user reads it in the list.
inline constexpr const char* kCompletionText = "選択されたﾌｧｲﾙの処理を終了しました";

} // namespace test
} // namespace tarnis
