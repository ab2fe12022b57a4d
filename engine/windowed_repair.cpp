#include "engine/windowed_repair.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace tarnis {

namespace {

// A write into a block that a copy shares with its input gives the copy a block of its own, so
// changes are gathered by block: each run of blocks that hold changes is written once.
constexpr std::int64_t kBlockBytes = 4096;

// The end of the image data: the planes as the layout has them, or the file's end where it is
// shorter.
std::int64_t imageEnd(std::int64_t fileLength, const ImageLayout& layout)
{
    const std::int64_t room = fileLength - layout.dataStart;
    if (room <= 0 || layout.rowBytes <= 0 || layout.rows > room / layout.rowBytes)
        return fileLength;
    const std::int64_t planeBytes = layout.rows * layout.rowBytes;
    return planeBytes > 0 && layout.planes <= room / planeBytes
               ? layout.dataStart + layout.planes * planeBytes
               : fileLength;
}

// Writes the bytes of `repaired` (the file's from byte `from` on) that differ from `asRead`.
void writeChanges(const PatchedFile& file, std::int64_t from,
                  std::span<const std::uint8_t> repaired, const std::uint8_t* asRead)
{
    std::size_t first = 0;
    std::size_t last = 0; // of the run of blocks so far; none while it is empty
    const auto writeRun = [&] {
        if (last > first)
            file.write(from + static_cast<std::int64_t>(first),
                       repaired.subspan(first, last - first));
        first = last = 0;
    };
    for (std::size_t at = 0; at < repaired.size();) {
        const std::size_t end = std::min(
            repaired.size(),
            at
                + static_cast<std::size_t>(kBlockBytes
                                           - (from + static_cast<std::int64_t>(at)) % kBlockBytes));
        if (std::memcmp(repaired.data() + at, asRead + at, end - at) == 0) {
            writeRun();
        } else {
            if (last == 0)
                first = static_cast<std::size_t>(
                    std::mismatch(repaired.begin() + static_cast<std::ptrdiff_t>(at),
                                  repaired.end(), asRead + at)
                        .first
                    - repaired.begin());
            for (last = end; repaired[last - 1] == asRead[last - 1];)
                --last;
        }
        at = end;
    }
    writeRun();
}

} // namespace

RepairCounts repairInWindows(const PatchedFile& file, std::int64_t fileLength,
                             const ImageLayout& layout, RepairWindow& window, RepairRule rule,
                             std::int64_t stretchBytes)
{
    RepairCounts counts;
    const std::int64_t end = imageEnd(fileLength, layout);
    const std::int64_t reach = repairReach(layout);
    // Above a stretch the repair reads up to a reach and a byte before it; even, so that samples stay at even places.
    const std::int64_t above = reach + 2;
    const std::int64_t stretch = std::max<std::int64_t>(stretchBytes / 2 * 2, 2);
    if (!window.bytes.resize(static_cast<std::size_t>(above + stretch + reach))
        || (file.write && !window.asRead.resize(static_cast<std::size_t>(stretch))))
        throw std::bad_alloc();
    std::uint8_t* const bytes = window.bytes.bytes().data();
    std::int64_t start = std::max<std::int64_t>(layout.dataStart - above,
                                                0); // the file's byte at bytes[0]
    std::int64_t loaded = start;                    // where the bytes read end
    for (std::int64_t from = layout.dataStart; from < end;) {
        const std::int64_t to = std::min(from + stretch, end);
        if (const std::int64_t wanted = std::min(to + reach, fileLength); wanted > loaded) {
            file.read(loaded,
                      {bytes + (loaded - start), static_cast<std::size_t>(wanted - loaded)});
            loaded = wanted;
        }
        const std::span<std::uint8_t> repaired(bytes + (from - start),
                                               static_cast<std::size_t>(to - from));
        if (file.write)
            std::copy(repaired.begin(), repaired.end(), window.asRead.bytes().begin());
        const RepairCounts found = repairDropouts({bytes, static_cast<std::size_t>(loaded - start)},
                                                  start, fileLength, layout, from, to, rule);
        counts.repaired += found.repaired;
        counts.left += found.left;
        if (file.write)
            writeChanges(file, from, repaired, window.asRead.bytes().data());
        if (file.finished)
            file.finished(to);
        // What the next stretch needs of this one: the bytes above it, repaired, and below, as read.
        const std::int64_t next = std::max<std::int64_t>(to - above, 0);
        std::memmove(bytes, bytes + (next - start), static_cast<std::size_t>(loaded - next));
        start = next;
        from = to;
    }
    return counts;
}

} // namespace tarnis
