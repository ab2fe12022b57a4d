#pragma once

#include "common/error.h"

#include <optional>
#include <ostream>

namespace tarnis {

// Lets a failed expectation name the cause.
inline void PrintTo(Cause cause, std::ostream* out)
{
    *out << "Cause(" << static_cast<int>(cause) << ")";
}

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

/// The completion message as the user reads it in the list.
inline constexpr const char* kCompletionText = "選択されたﾌｧｲﾙの処理を終了しました";

} // namespace test
} // namespace tarnis
