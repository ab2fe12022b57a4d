#pragma once

#include "engine/repair.h"

#include <cstdint>
#include <limits>
#include <span>

namespace tarnis::test {

/// The dropout repair written out plainly, one visited position at a time, straight from its rules,
/// to hold the fast pass against. In each plane of `layout` a dropout d rows below the plane's start
/// or further (d = 1, or 2 under a colour mosaic) takes the physical values of the samples d rows
/// above and below it that are no dropouts and lie in the plane and the file: their mean rounded
/// down, or the one taken. With RepairRule::Bytes a monochrome frame's dropout from the second row
/// on takes its high byte from the bytes a row above and below, its low byte from the bytes just
/// before those, each a mean rounded down in which a 0 is no neighbour. Returns false, having
/// changed nothing, where the rules would read past the buffer: an odd length above the header.
inline bool repairPlainly(std::span<std::uint8_t> data, std::int64_t length,
                          const ImageLayout& layout, RepairCounts* counts = nullptr,
                          RepairRule rule = RepairRule::Values)
{
    if (length > 2880 && length % 2 != 0)
        return false;
    const auto combine = [](unsigned below, unsigned above) {
        return static_cast<std::uint8_t>(below > 0 && above > 0 ? (below + above) / 2
                                                                : below + above);
    };
    const std::int64_t row = layout.rowBytes;
    const std::int64_t d = layout.mosaic == Mosaic::Bayer ? 2 : 1;
    const std::int64_t planeBytes = row * layout.rows;
    RepairCounts found;
    for (std::int64_t plane = 0; plane < layout.planes; ++plane) {
        const std::int64_t start = layout.dataStart + plane * planeBytes;
        const std::int64_t end = start + planeBytes < length ? start + planeBytes : length;
        // A byte below counts only before the plane's end; a byte above is read as it stands.
        const auto below = [&](std::int64_t i) -> unsigned { return i < end ? data[i] : 0; };
        const auto above = [&](std::int64_t i) -> unsigned { return i > 0 ? data[i] : 0; };
        const auto isDropout = [&](std::int64_t i) {
            return data[i] == 0x80 && data[i + 1] == 0x00;
        };
        for (std::int64_t pos = start; pos <= end - 1; pos += 2) {
            if (!isDropout(pos))
                continue;
            if (pos - start < d * row) {
                ++found.left;
                continue;
            }
            if (rule == RepairRule::Bytes && layout.mosaic == Mosaic::None) {
                ++found.repaired;
                data[pos] = combine(below(pos + row), above(pos - row));
                data[pos + 1] = combine(below(pos + row - 1), above(pos - row - 1));
                continue;
            }
            // Physical value = the big-endian two's complement value + 32768.
            std::int32_t taken[2];
            int count = 0;
            for (const std::int64_t i : {pos - d * row, pos + d * row}) {
                if (i >= start && i + 1 < end && !isDropout(i))
                    taken[count++] = static_cast<std::int16_t>(data[i] << 8 | data[i + 1]) + 32768;
            }
            if (count == 0) {
                ++found.left;
                continue;
            }
            ++found.repaired;
            const std::int32_t value = count == 2 ? (taken[0] + taken[1]) / 2 : taken[0];
            data[pos] = static_cast<std::uint8_t>((value - 32768) >> 8 & 0xFF);
            data[pos + 1] = static_cast<std::uint8_t>((value - 32768) & 0xFF);
        }
    }
    if (counts)
        *counts = found;
    return true;
}

/// The camera's fixed layout, which the repair without a layout always takes: a one-record header,
/// rows of 6080 samples, and one plane as long as the file.
inline ImageLayout fixedLayout()
{
    return {2880, 12160, std::numeric_limits<std::int64_t>::max() / 12160 / 2, 1};
}

/// The repair without a layout, plainly.
inline bool repairPlainly(std::span<std::uint8_t> data, std::int64_t length,
                          RepairRule rule = RepairRule::Values)
{
    return repairPlainly(data, length, fixedLayout(), nullptr, rule);
}

} // namespace tarnis::test
