// Holds the fast dropout repair against the plain loop in tests/support on images built from the
// fuzzer's input, and the repair in windows, which writes back only what changed, against the
// repair of the whole buffer. Raw bytes alone would almost never put two dropouts one row apart or a dropout in
// a last row, so the input is read as a recipe (missing bytes count as zero, so every input is one):
//
//   byte 0     flags: bit 0 odd length; bit 1 the image's own layout (bytes 1-3) rather than the
//              camera's fixed one; bit 2 the buffer goes on a row past the file; bit 3 the byte
//              rule of earlier versions (RepairRule::Bytes) rather than the values; bits 4-5 the
//              buffer's address: aligned, odd, even but not aligned (2 and 6 bytes past a boundary);
//              bits 6-7 both set, with the own layout, a colour frame (a Bayer mosaic)
//   bytes 1-3  the layout: width 1 to 6100 (byte 1 and the low 5 bits of byte 2), header records
//              1 to 3 (the top 3 bits of byte 2), planes 1 to 4 and rows per plane 1 to 8 (byte 3,
//              bits 0-4); bits 5-7 of byte 3 the stretch the repair in windows takes at a time
//   byte 4     rows in the file after the header, 0 to 8, or 255 for a file no longer than about
//              the header (12 times byte 5); byte 5 where in the next row it ends
//   byte 6     how often a background sample is a dropout, in 256ths; byte 7 how often a byte is 0,
//              which stands for a missing neighbour
//   then       three bytes per mark, a little-endian number: its low 2 bits a kind, the next 3 a
//              count, the rest a sample's place counted back from the file's end (see below)

#include "engine/dropout_scan.h"
#include "engine/repair.h"
#include "engine/windowed_repair.h"
#include "tests/support/plain_repair.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what, std::int64_t length)
{
    std::fprintf(stderr, "repair_fuzz: %s (file length %lld)\n", what,
                 static_cast<long long>(length));
    std::abort();
}

struct Recipe {
    const std::uint8_t* data;
    std::size_t size;
    [[nodiscard]] std::uint32_t byte(std::size_t i) const { return i < size ? data[i] : 0; }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Recipe in{data, size};
    const bool ownLayout = (in.byte(0) & 2) != 0;
    const auto mosaic = (in.byte(0) & 0xC0) == 0xC0 ? tarnis::Mosaic::Bayer : tarnis::Mosaic::None;
    const auto rule = (in.byte(0) & 8) != 0 ? tarnis::RepairRule::Bytes
                                            : tarnis::RepairRule::Values;
    const tarnis::ImageLayout layout =
        ownLayout ? tarnis::ImageLayout{2880 * (1 + (in.byte(2) >> 5) % 3),
                                        2 * (1 + (in.byte(1) | (in.byte(2) & 0x1f) << 8) % 6100),
                                        1 + (in.byte(3) >> 2) % 8, 1 + in.byte(3) % 4, mosaic}
                  : tarnis::test::fixedLayout();
    const std::int64_t row = layout.rowBytes;
    std::int64_t length = in.byte(4) == 255 ? 12 * in.byte(5)
                                            : layout.dataStart + (in.byte(4) % 9) * row
                                                  + 2 * ((in.byte(5) * row / 2) >> 8);
    length = ((length - 2880) & ~std::int64_t{1}) + 2880 + (in.byte(0) & 1); // odd only when asked
    std::vector<std::uint8_t> buffer(
        static_cast<std::size_t>(length + ((in.byte(0) & 4) ? row : 0)));

    // The background: samples that are dropouts and bytes that are zero as often as asked.
    std::uint64_t state = 0x9e3779b97f4a7c15u * (1 + in.byte(6) + 256 * in.byte(7));
    for (std::size_t i = 0; i + 1 < buffer.size(); i += 2) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const auto r = static_cast<std::uint32_t>(state >> 24);
        const bool dropout = (r & 0xff) < in.byte(6);
        buffer[i] = dropout                          ? 0x80
                    : ((r >> 8) & 0xff) < in.byte(7) ? 0
                                                     : static_cast<std::uint8_t>(r >> 16);
        buffer[i + 1] = dropout ? 0x00 : static_cast<std::uint8_t>(r >> 24);
    }
    // Marks, at a sample counted back from the file's end so that last rows are easy to reach:
    // kind 0 a vertical run of dropouts, 1 a horizontal run, 2 a dropout with up to four of its
    // neighbour bytes zero, 3 80 00 at an odd place, which is no sample.
    const auto put = [&](std::int64_t pos, std::uint8_t high, std::uint8_t low) {
        if (pos >= 0 && pos + 1 < static_cast<std::int64_t>(buffer.size())) {
            buffer[static_cast<std::size_t>(pos)] = high;
            buffer[static_cast<std::size_t>(pos) + 1] = low;
        }
    };
    for (std::size_t at = 8; at + 3 <= size; at += 3) {
        const std::uint32_t mark = in.byte(at) | in.byte(at + 1) << 8 | in.byte(at + 2) << 16;
        const int count = static_cast<int>((mark >> 2) & 7);
        const std::int64_t pos = (length & ~std::int64_t{1}) - 2
                                 - 2 * static_cast<std::int64_t>(mark >> 5);
        for (int k = 0; k <= count; ++k) {
            switch (mark & 3) {
            case 0: put(pos - k * row, 0x80, 0x00); break;
            case 1: put(pos + 2 * k, 0x80, 0x00); break;
            case 2: {
                const std::int64_t neighbours[] = {-row, row - 2, row, -row - 2};
                put(pos, 0x80, 0x00);
                put(pos + neighbours[k % 4], 0, 0);
                break;
            }
            default: put(pos + 1, 0x80, 0x00); break;
            }
        }
    }

    // The plain loop sees the file's bytes only, so that whatever the fast pass does with the
    // bytes after the file shows as a difference.
    const std::vector<std::uint8_t> original = buffer;
    std::vector<std::uint8_t> expected(original.begin(), original.begin() + length);
    tarnis::RepairCounts plainCounts;
    const bool plainRepairs = tarnis::test::repairPlainly(expected, length, layout, &plainCounts,
                                                          rule);
    for (const tarnis::DropoutScan scan :
         {tarnis::DropoutScan::Fastest, tarnis::DropoutScan::Words}) {
        tarnis::useDropoutScan(scan);
        const std::size_t offset = std::array<std::size_t, 4>{0, 1, 2, 6}[(in.byte(0) >> 4) & 3];
        std::vector<std::uint8_t> storage(offset + original.size());
        std::copy(original.begin(), original.end(),
                  storage.begin() + static_cast<std::ptrdiff_t>(offset));
        const std::span<std::uint8_t> fast = std::span(storage).subspan(offset);
        try {
            if (ownLayout && tarnis::repairDropouts(fast, length, layout, rule) != plainCounts)
                fail("the counts differ from the plain loop's", length);
            if (!ownLayout)
                tarnis::repairDropouts(fast, length, rule);
            if (!plainRepairs)
                fail("a length the plain loop refuses was repaired", length);
        } catch (const tarnis::TruncatedImageError&) {
            if (plainRepairs
                || !std::equal(fast.begin(), fast.end(), original.begin(), original.end()))
                fail(
                    "refused a length the plain loop repairs, or changed the buffer before refusing",
                    length);
            continue;
        }
        if (!std::equal(expected.begin(), expected.end(), fast.begin()))
            fail("the repaired file differs from the plain loop's", length);
        if (!std::equal(original.begin() + length, original.end(), fast.begin() + length))
            fail("a byte after the file's length was changed", length);

        // In windows, from the file as read, its changes written back onto it: stretches of a
        // sample or a few, and of about a row, where the rows above and below (two of them each
        // way in a colour frame) fall in and out of the window.
        const std::int64_t stretches[] = {2,   64,          126,         row - 2,
                                          row, 2 * row - 2, 2 * row + 2, 3 * row + 8};
        const std::int64_t stretch = stretches[in.byte(3) >> 5];
        std::vector<std::uint8_t> patched(original.begin(), original.begin() + length);
        const tarnis::PatchedFile file{
            [&](std::int64_t offset, std::span<std::uint8_t> bytes) {
                if (offset < 0 || offset + static_cast<std::int64_t>(bytes.size()) > length)
                    fail("read past the file", length);
                std::copy_n(original.begin() + offset, bytes.size(), bytes.begin());
            },
            [&](std::int64_t offset, std::span<const std::uint8_t> bytes) {
                if (offset < layout.dataStart
                    || offset + static_cast<std::int64_t>(bytes.size()) > length)
                    fail("wrote outside the image data", length);
                std::copy(bytes.begin(), bytes.end(), patched.begin() + offset);
            },
            {}};
        tarnis::RepairWindow window;
        const tarnis::RepairCounts windowed = tarnis::repairInWindows(file, length, layout, window,
                                                                      rule, stretch);
        if (!std::equal(expected.begin(), expected.end(), patched.begin(), patched.end())
            || (ownLayout && windowed != plainCounts))
            fail("the repair in windows differs from the whole buffer's", length);
    }
    return 0;
}
