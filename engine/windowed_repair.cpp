#include "engine/windowed_repair.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

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

// What of a block that holds changes is written.
enum class Extent {
    // The block whole, as far as the stretch holds it. A write of a few bytes into a block that
    // the file system holds only on the disk, as a clone's are, first reads the block (on xfs each
    // such patch took some 80 us, most of the time a frame with few dropouts took), where a whole
    // block is simply replaced; and the block takes room of its own either way.
    WholeBlocks,
    // From the first changed byte to the last: what is held back in memory until it is written.
    ChangedBytes,
};

// Writes the changes of `repaired` (the file's from byte `from` on), which lie in the samples that
// start at the offsets `rewritten` (ascending, in the stretch), one write for each run of blocks
// that hold changes.
template <typename Write>
void writeChanges(const Write& write, std::int64_t from, std::span<const std::uint8_t> repaired,
                  std::span<const std::int64_t> rewritten, Extent extent = Extent::WholeBlocks)
{
    const std::int64_t to = from + static_cast<std::int64_t>(repaired.size());
    std::int64_t firstSample = 0;
    std::int64_t lastSample = -1; // of the run so far; none while it is before the first
    const auto writeRun = [&] {
        if (lastSample < firstSample)
            return;
        const std::int64_t start = extent == Extent::WholeBlocks
                                       ? std::max(from, firstSample / kBlockBytes * kBlockBytes)
                                       : firstSample;
        const std::int64_t end = extent == Extent::WholeBlocks
                                     ? std::min(to, (lastSample / kBlockBytes + 1) * kBlockBytes)
                                     : lastSample + 2;
        write(start, repaired.subspan(static_cast<std::size_t>(start - from),
                                      static_cast<std::size_t>(end - start)));
    };
    for (const std::int64_t sample : rewritten) {
        if (lastSample < firstSample || sample / kBlockBytes > lastSample / kBlockBytes + 1) {
            writeRun();
            firstSample = sample;
        }
        lastSample = sample;
    }
    writeRun();
}

// Repairs the image data a stretch at a time, read through `read`, and hands each stretch to
// `done`: its offset, its bytes repaired, and the offsets of the samples the repair rewrote, noted
// only while `wantsRewritten()` says they are written back (a frame with every sample a dropout
// would otherwise note each of them for nothing once it is written whole).
template <typename WantsRewritten, typename Done>
RepairCounts repairStretches(const std::function<void(std::int64_t, std::span<std::uint8_t>)>& read,
                             std::int64_t fileLength, const ImageLayout& layout, RepairRule rule,
                             RepairWindow& window, std::int64_t stretchBytes,
                             const WantsRewritten& wantsRewritten, const Done& done)
{
    RepairCounts counts;
    const std::int64_t end = imageEnd(fileLength, layout);
    const std::int64_t reach = repairReach(layout);
    // Above a stretch the repair reads up to a reach and a byte before it; even, so that samples stay at even places.
    const std::int64_t above = reach + 2;
    const std::int64_t stretch = std::max<std::int64_t>(stretchBytes / 2 * 2, 2);
    if (!window.bytes.resize(static_cast<std::size_t>(above + stretch + reach)))
        throw std::bad_alloc();
    std::uint8_t* const bytes = window.bytes.bytes().data();
    std::int64_t start = std::max<std::int64_t>(layout.dataStart - above,
                                                0); // the file's byte at bytes[0]
    std::int64_t loaded = start;                    // where the bytes read end
    for (std::int64_t from = layout.dataStart; from < end;) {
        const std::int64_t to = std::min(from + stretch, end);
        if (const std::int64_t wanted = std::min(to + reach, fileLength); wanted > loaded) {
            read(loaded, {bytes + (loaded - start), static_cast<std::size_t>(wanted - loaded)});
            loaded = wanted;
        }
        const std::span<std::uint8_t> repaired(bytes + (from - start),
                                               static_cast<std::size_t>(to - from));
        window.rewritten.clear();
        const RepairCounts found = repairDropouts({bytes, static_cast<std::size_t>(loaded - start)},
                                                  start, fileLength, layout, from, to, rule,
                                                  wantsRewritten() ? &window.rewritten : nullptr);
        counts.repaired += found.repaired;
        counts.left += found.left;
        done(from, std::span<const std::uint8_t>(repaired),
             std::span<const std::int64_t>(window.rewritten));
        // What the next stretch needs of this one: the bytes above it, repaired, and below, as read.
        const std::int64_t next = std::max<std::int64_t>(to - above, 0);
        std::memmove(bytes, bytes + (next - start), static_cast<std::size_t>(loaded - next));
        start = next;
        from = to;
    }
    return counts;
}

// Changes held back from a shared copy until the whole file is known to pay for sharing.
class HeldChanges {
public:
    explicit HeldChanges(std::int64_t fileLength)
        : blocks_((fileLength + kBlockBytes - 1) / kBlockBytes)
    {
    }

    void add(std::int64_t offset, std::span<const std::uint8_t> bytes)
    {
        const std::int64_t first = offset / kBlockBytes;
        const std::int64_t last = (offset + static_cast<std::int64_t>(bytes.size()) - 1)
                                  / kBlockBytes;
        if (first > lastBlock_ + 1)
            ++runs_;
        changedBlocks_ += last - std::max(first, lastBlock_ + 1) + 1;
        lastBlock_ = std::max(lastBlock_, last);
        changes_.push_back({offset, bytes_.size(), bytes.size()});
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    }

    // Whether patching the changed blocks of a clone costs less than writing the file whole, as
    // far as the changes before block `seen` tell. Each run of changed blocks is an extent of its
    // own to allocate, remap, sync and read again later, which costs about as much as writing six
    // blocks whole; a block that changes, about two. So a frame with dropouts in up to one block
    // in eight (some 60 in a million samples) is patched, one with more written whole: on xfs and
    // btrfs, patching took 0.6-1.0x cp's time at 25 and 50 dropouts in a million (1,100 runs in
    // 11,900 blocks), where writing whole took 1.3-2.4x, and 1.9-8x at 100 and 300 (2,000 and
    // 5,500 runs), where writing whole took 1.1-1.6x. The blocks seen stand for the whole file
    // once they are a few megabytes: a frame with many dropouts then drops its clone early, where
    // otherwise most of it would be read a second time to be written whole. The changes held back
    // stay a few megabytes, whatever the file's size.
    [[nodiscard]] bool sharingPays(std::int64_t seen) const
    {
        const std::int64_t budget = std::min(blocks_, std::max(seen, kLeastSeenBlocks));
        return runs_ * kRunCost + changedBlocks_ * kBlockCost <= budget
               && bytes_.size() <= kMostHeldBytes;
    }

    // Writes every change in whole blocks, as writeChanges() writes them: the rest of each block
    // read, through `read`, from the file as it was, a piece of `buffer` at a time.
    template <typename Read, typename Write>
    void writeAll(const Read& read, const Write& write, std::span<std::uint8_t> buffer,
                  std::int64_t fileLength) const
    {
        for (std::size_t next = 0; next < changes_.size();) {
            // The blocks of this change, and of those after it that share or adjoin them.
            const std::size_t first = next;
            const std::int64_t start = changes_[next].offset / kBlockBytes * kBlockBytes;
            std::int64_t end = start;
            for (; next < changes_.size()
                   && changes_[next].offset / kBlockBytes * kBlockBytes <= end;
                 ++next)
                end = std::max(end, std::min(fileLength, (endOf(changes_[next]) + kBlockBytes - 1)
                                                             / kBlockBytes * kBlockBytes));
            writeWithChanges(read, write, buffer, start, end, first, next);
        }
    }

    // Writes bytes [start, end) of the file as it was, read through `read` a piece of `buffer` at
    // a time, with changes [first, last) put in where they fall.
    template <typename Read, typename Write>
    void writeWithChanges(const Read& read, const Write& write, std::span<std::uint8_t> buffer,
                          std::int64_t start, std::int64_t end, std::size_t first = 0,
                          std::size_t last = SIZE_MAX) const
    {
        last = std::min(last, changes_.size());
        for (std::int64_t at = start; at < end;) {
            const std::span<std::uint8_t> piece = buffer.first(static_cast<std::size_t>(
                std::min<std::int64_t>(end - at, static_cast<std::int64_t>(buffer.size()))));
            read(at, piece);
            apply(first, last, at, piece);
            write(at, std::span<const std::uint8_t>(piece));
            at += static_cast<std::int64_t>(piece.size());
        }
    }

    void clear()
    {
        changes_.clear();
        bytes_.clear();
    }

private:
    static constexpr std::int64_t kRunCost = 6;
    static constexpr std::int64_t kBlockCost = 2;
    static constexpr std::int64_t kLeastSeenBlocks = (std::int64_t{4} << 20) / kBlockBytes;
    static constexpr std::size_t kMostHeldBytes = std::size_t{16} << 20;

    struct Change {
        std::int64_t offset;
        std::size_t at; // in bytes_
        std::size_t size;
    };
    static std::int64_t endOf(const Change& change)
    {
        return change.offset + static_cast<std::int64_t>(change.size);
    }

    // Puts changes [first, last) where they fall into `bytes`, the file's from `offset` on.
    void apply(std::size_t first, std::size_t last, std::int64_t offset,
               std::span<std::uint8_t> bytes) const
    {
        const std::int64_t end = offset + static_cast<std::int64_t>(bytes.size());
        for (std::size_t index = first; index < last; ++index) {
            const Change& change = changes_[index];
            const std::int64_t from = std::max(offset, change.offset);
            const std::int64_t to = std::min(end, endOf(change));
            if (from < to)
                std::memcpy(bytes.data() + (from - offset),
                            bytes_.data() + change.at
                                + static_cast<std::size_t>(from - change.offset),
                            static_cast<std::size_t>(to - from));
        }
    }

    std::int64_t blocks_;
    std::int64_t lastBlock_ = -2;
    std::int64_t runs_ = 0;
    std::int64_t changedBlocks_ = 0;
    std::vector<Change> changes_;
    std::vector<std::uint8_t> bytes_;
};

// Writes the new file of an output: whole, in the order of its bytes; or its changes, straight
// away into a copy of its own, or held back from a shared copy until the file is known.
class NewFileWriter {
public:
    NewFileWriter(const NewFile& output, std::int64_t fileLength, RepairWindow& window)
        : output_(output), fileLength_(fileLength), window_(window), held_(fileLength)
    {
        if (output.start == FileSlot::CopyMade::Nothing)
            mode_ = Mode::Whole;
        else if (output.start == FileSlot::CopyMade::Whole)
            mode_ = Mode::Patching;
        if (!window_.spare.resize(static_cast<std::size_t>(kStretchBytes)))
            throw std::bad_alloc();
    }

    [[nodiscard]] bool writesChangesOnly() const { return mode_ != Mode::Whole; }

    void stretch(std::int64_t from, std::span<const std::uint8_t> repaired,
                 std::span<const std::int64_t> rewritten)
    {
        const PatchedFile& file = output_.file;
        const std::int64_t to = from + static_cast<std::int64_t>(repaired.size());
        if (mode_ == Mode::Patching) {
            writeChanges(file.write, from, repaired, rewritten);
            if (file.finished)
                file.finished(to);
            return;
        }
        if (mode_ == Mode::Sharing) {
            writeChanges([&](std::int64_t offset,
                             std::span<const std::uint8_t> bytes) { held_.add(offset, bytes); },
                         from, repaired, rewritten, Extent::ChangedBytes);
            if (held_.sharingPays((to + kBlockBytes - 1) / kBlockBytes))
                return;
            if (!output_.dropCopy()) {
                // The copy is the input as it was, kept since a writer came: patched after all.
                mode_ = Mode::Patching;
                held_.writeAll(file.read, file.write, window_.spare.bytes(), fileLength_);
                held_.clear();
                return;
            }
            mode_ = Mode::Whole;
        }
        copyUpTo(from);
        file.write(from, repaired);
        written_ = to;
        // In large pieces: btrfs gives each piece written back an extent of its own.
        if (file.finished && to - writtenBack_ >= kWriteBackBytes) {
            file.finished(to);
            writtenBack_ = to;
        }
    }

    void finish()
    {
        if (mode_ == Mode::Sharing)
            held_.writeAll(output_.file.read, output_.file.write, window_.spare.bytes(),
                           fileLength_);
        if (mode_ == Mode::Whole)
            copyUpTo(fileLength_);
    }

private:
    enum class Mode { Sharing, Patching, Whole };
    static constexpr std::int64_t kWriteBackBytes = std::int64_t{4} << 20;

    // Writes the new file whole up to `end`, from the input with the changes held back.
    void copyUpTo(std::int64_t end)
    {
        if (written_ < end)
            held_.writeWithChanges(output_.file.read, output_.file.write, window_.spare.bytes(),
                                   written_, end);
        written_ = std::max(written_, end);
        held_.clear();
    }

    const NewFile& output_;
    std::int64_t fileLength_;
    RepairWindow& window_;
    HeldChanges held_;
    Mode mode_ = Mode::Sharing;
    std::int64_t written_ = 0;     // of a file written whole
    std::int64_t writtenBack_ = 0; // what the system was told it may write to the disk
};

} // namespace

RepairCounts repairInWindows(const PatchedFile& file, std::int64_t fileLength,
                             const ImageLayout& layout, RepairWindow& window, RepairRule rule,
                             std::int64_t stretchBytes)
{
    return repairStretches(
        file.read, fileLength, layout, rule, window, stretchBytes,
        [&] { return static_cast<bool>(file.write); },
        [&](std::int64_t from, std::span<const std::uint8_t> repaired,
            std::span<const std::int64_t> rewritten) {
            if (file.write)
                writeChanges(file.write, from, repaired, rewritten);
            if (file.finished)
                file.finished(from + static_cast<std::int64_t>(repaired.size()));
        });
}

RepairCounts repairIntoNewFile(const NewFile& output, std::int64_t fileLength,
                               const ImageLayout* layout, RepairWindow& window, RepairRule rule,
                               std::int64_t stretchBytes)
{
    NewFileWriter writer(output, fileLength, window);
    RepairCounts counts;
    if (layout)
        counts = repairStretches(
            output.file.read, fileLength, *layout, rule, window, stretchBytes,
            [&] { return writer.writesChangesOnly(); },
            [&](std::int64_t from, std::span<const std::uint8_t> repaired,
                std::span<const std::int64_t> rewritten) {
                writer.stretch(from, repaired, rewritten);
            });
    writer.finish();
    return counts;
}

} // namespace tarnis
