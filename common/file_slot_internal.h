#pragma once

// What the POSIX and the Windows halves of the file slot share. Only they include this.

#include "common/file_names.h"

#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>

namespace tarnis::detail {

// One read or write call moves at most 4 MiB. Writing a 48 MB image in one call made the kernel's
// copy into newly allocated cache pages several times slower (150 ms against 25 ms per image, on the
// first run after start); small calls also stay far below the 2 GiB that Linux moves in one.
inline constexpr std::size_t kChunkBytes = std::size_t{1} << 22;

// Temporary files are hidden, short and fixed in form: ".tarnis-" then 16 hexadecimal digits then
// ".tmp". Short, so that one fits wherever the output's name fits; fixed, so that a later write
// can tell one left behind by a killed process from anything of the user's.
inline constexpr std::string_view kTemporaryPrefix = ".tarnis-";
inline constexpr std::string_view kTemporarySuffix = ".tmp";
inline constexpr std::size_t kTemporaryDigits = 16;

inline std::string newTemporaryName()
{
    static thread_local std::mt19937_64 generator{std::random_device{}()};
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(generator()));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

inline bool isTemporaryName(std::string_view name)
{
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size()
        || !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    for (const char c : name.substr(kTemporaryPrefix.size(), kTemporaryDigits)) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// A temporary file whose writer is gone is removed only once it has not been written for this
// long, so that a file another process has only just created, and not yet locked, is never taken
// for an abandoned one.
inline constexpr int kAbandonedAfterSeconds = 10;

// The folder part of a path including its separator, or an empty text for a bare name.
inline std::string folderOf(const std::string& path)
{
    std::size_t separator = std::string::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (isPathSeparator(path[i]))
            separator = i;
    }
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

inline std::string nameOf(const std::string& path)
{
    return path.substr(folderOf(path).size());
}

} // namespace tarnis::detail
