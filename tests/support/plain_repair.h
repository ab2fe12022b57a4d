#pragma once

#include <cstdint>
#include <span>

namespace tarnis::test {

/// The dropout repair written out plainly, one visited position at a time, straight from its rules,
/// to hold the fast pass against. Returns false, having changed nothing, where the rules would read
/// past the buffer: an odd length above the 2880-byte header.
inline bool repairPlainly(std::span<std::uint8_t> data, std::int64_t length)
{
    constexpr std::int64_t kHeader = 2880;
    constexpr std::int64_t kRow = 12160;
    if (length > kHeader && length % 2 != 0)
        return false;
    const auto combine = [](unsigned below, unsigned above) {
        return static_cast<std::uint8_t>(below > 0 && above > 0 ? (below + above) / 2 : below + above);
    };
    for (std::int64_t pos = kHeader; pos <= length - 1; pos += 2) {
        if (!(data[pos] == 0x80 && data[pos + 1] == 0x00))
            continue;
        if (pos - kHeader < kRow)
            continue;
        unsigned below = 0;
        unsigned above = 0;
        if (pos + kRow < length)
            below = data[pos + kRow];
        if (pos - kRow > 0)
            above = data[pos - kRow];
        data[pos] = combine(below, above);
        below = 0;
        above = 0;
        if (pos + kRow - 1 < length)
            below = data[pos + kRow - 1];
        if (pos - kRow - 1 > 0)
            above = data[pos - kRow - 1];
        data[pos + 1] = combine(below, above);
    }
    return true;
}

} // namespace tarnis::test
