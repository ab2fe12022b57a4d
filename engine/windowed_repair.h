#pragma once

#include "common/file_slot.h"
#include "engine/byte_buffer.h"
#include "engine/repair.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace tarnis {

/// A file that a repair reads a stretch at a time and writes back only where it changed it: a
/// file's new copy through the file slot, or bytes in memory.
struct PatchedFile {
    /// Fills the buffer with the file's bytes from the offset on.
    std::function<void(std::int64_t, std::span<std::uint8_t>)> read;
    /// Writes bytes that the repair changed back at their offset; empty where nothing is written
    /// back, as when dropouts are only counted.
    std::function<void(std::int64_t, std::span<const std::uint8_t>)> write;
    /// Told that the file's bytes before the offset are final; may be empty.
    std::function<void(std::int64_t)> finished;
};

/// The memory a repair in windows works in, kept from file to file: a fresh allocation per file
/// would make the kernel map and clear its pages again.
struct RepairWindow {
    ByteBuffer bytes; ///< a stretch of the file with the rows around it that the repair reads
    ByteBuffer spare; ///< the input read again, where changes held back are written in whole blocks
    std::vector<std::int64_t> rewritten; ///< the samples the repair of a stretch rewrote
};

/// How much of a file a repair in windows takes at a time: small enough that the stretch stays in
/// the processor's cache while it is repaired and its changes are written.
inline constexpr std::int64_t kStretchBytes = std::int64_t{1} << 20;

/// Repairs the image data of a file of `fileLength` bytes laid out as `layout`, `stretchBytes` at a
/// time (and the rows above and below that the repair reads besides), and writes back the bytes
/// it changed, one write for each run of 4 KiB blocks of the file that hold changes, the blocks
/// whole as far as the stretch holds them. The file then holds what repairDropouts() makes of
/// it whole by `rule`, and the counts are that repair's. The file's length must be even above 2880
/// bytes.
/// Throws std::bad_alloc when the window cannot be had, and whatever the file's calls throw.
RepairCounts repairInWindows(const PatchedFile& file, std::int64_t fileLength,
                             const ImageLayout& layout, RepairWindow& window,
                             RepairRule rule = RepairRule::Values,
                             std::int64_t stretchBytes = kStretchBytes);

/// An output in the making: the input's bytes to read (`file.read`), its new file to write
/// (`file.write`), as the file slot started it from the input (`start`).
struct NewFile {
    PatchedFile file;
    FileSlot::CopyMade start = FileSlot::CopyMade::Whole;
    /// Replaces a shared copy by an empty file; false where the copy must stay.
    std::function<bool()> dropCopy;
};

/// Makes the new file the input repaired, `layout` (nothing: the input copied as it is), reading
/// the input once. A copy of its own is patched where the repair changed it. A shared copy is
/// patched where few blocks change, few enough and close enough together that writing them costs
/// less than writing the whole file, and otherwise dropped; a file that shares nothing is written
/// whole, in the order of its bytes, a stretch per write, so that the file system keeps it in few
/// extents. Dropouts are rebuilt by `rule`. Throws std::bad_alloc when the window cannot be had,
/// and whatever the calls throw.
RepairCounts repairIntoNewFile(const NewFile& output, std::int64_t fileLength,
                               const ImageLayout* layout, RepairWindow& window,
                               RepairRule rule = RepairRule::Values,
                               std::int64_t stretchBytes = kStretchBytes);

} // namespace tarnis
