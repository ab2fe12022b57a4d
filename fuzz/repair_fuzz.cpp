// Holds the fast dropout repair against the plain loop in tests/support on images built from the
// fuzzer's input. Raw bytes alone would almost never put two dropouts one row apart or a dropout in
// the last row, so the input is read as a small recipe instead:
//
//   byte 0     flags: bit 0 odd length; bits 1-2 how the length is chosen; bit 3 the buffer goes on
//              past the file's length; bit 4 by a whole row (else by byte 8's count); bit 5 also
//              try the lengths that must be refused; bit 6 an image of its own layout (bytes 9-11)
//              rather than the camera's fixed one
//   byte 1     image rows after the header, 0 to 8
//   bytes 2-3  where in (or near) the row the length ends
//   byte 4     how often a sample of the background is a dropout (in 2048ths)
//   byte 5     how often a background byte is zero (in 256ths): zero stands for a missing neighbour
//   bytes 6-7  seed of the background
//   byte 8     how far the buffer goes on past the file's length, when not a whole row
//   bytes 9-11 the layout: width 1 to 6100 (byte 9 and the low 5 bits of byte 10), header records 1
//              to 3 (the top 3 bits of byte 10), planes 1 to 4 and rows per plane 1 to 8 (byte 11)
//   then       four bytes per mark: a kind (low 3 bits) with a small number (high 5 bits), and a
//              24-bit position; see applyMark
//
// Missing bytes count as zero, so every input is a valid recipe.

#include "engine/repair.h"
#include "tests/support/plain_repair.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::int64_t kHeader = 2880;
constexpr std::int64_t kRow = 12160;
constexpr std::size_t kRecipeBytes = 12;
constexpr std::size_t kMarkBytes = 4;

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data(data), size(size) {}
    [[nodiscard]] std::uint8_t byte(std::size_t i) const { return i < size ? data[i] : 0; }
    [[nodiscard]] std::uint32_t u16(std::size_t i) const { return byte(i) | std::uint32_t{byte(i + 1)} << 8; }
    [[nodiscard]] std::uint32_t u24(std::size_t i) const { return u16(i) | std::uint32_t{byte(i + 2)} << 16; }
    [[nodiscard]] std::size_t marks() const { return size > kRecipeBytes ? (size - kRecipeBytes) / kMarkBytes : 0; }

private:
    const std::uint8_t* data;
    std::size_t size;
};

// splitmix64: cheap, and the same seed always gives the same image, so a crash input replays.
class Random {
public:
    explicit Random(std::uint64_t seed) : state(seed) {}
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15u);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
        return z ^ (z >> 31);
    }

private:
    std::uint64_t state;
};

// Where the image's rows lie: the camera's fixed layout, or one of the recipe's own.
struct Geometry {
    std::int64_t header = kHeader;
    std::int64_t row = kRow;
    std::optional<tarnis::ImageLayout> layout; // none: the repair without a layout

    explicit Geometry(const Input& in)
    {
        if ((in.byte(0) & 64) == 0)
            return;
        const std::int64_t width = 1 + (in.byte(9) | (in.byte(10) & 0x1f) << 8) % 6100;
        header = kHeader * (1 + (in.byte(10) >> 5) % 3);
        row = 2 * width;
        layout = tarnis::ImageLayout{header, row, 1 + (in.byte(11) >> 2) % 8, 1 + in.byte(11) % 4};
    }
};

[[noreturn]] void fail(const char* what, std::int64_t length, std::size_t bufferSize)
{
    std::fprintf(stderr, "repair_fuzz: %s (file length %lld, buffer %zu bytes)\n", what,
                 static_cast<long long>(length), bufferSize);
    __builtin_trap();
}

std::int64_t chooseLength(const Input& in, const Geometry& g)
{
    const std::uint8_t flags = in.byte(0);
    const std::int64_t rows = in.byte(1) % 9;
    const std::uint32_t where = in.u16(2);
    const std::int64_t rowStart = g.header + rows * g.row;
    std::int64_t length = 0;
    switch ((flags >> 1) & 3) {
    case 0: // anywhere in the row
        length = rowStart + where % g.row;
        break;
    case 1: // within 128 bytes of a row's start, on either side
        length = rowStart + static_cast<std::int8_t>(where & 0xff);
        break;
    case 2: // in or just after the header, where nothing is repaired
        length = where % 3200;
        break;
    default: // just before the next row: the scan's last blocks are partial
        length = rowStart + g.row - where % 160;
        break;
    }
    return (length & ~std::int64_t{1}) | (flags & 1);
}

void putDropout(std::vector<std::uint8_t>& buffer, std::int64_t pos)
{
    if (pos >= 0 && pos + 1 < static_cast<std::int64_t>(buffer.size())) {
        buffer[static_cast<std::size_t>(pos)] = 0x80;
        buffer[static_cast<std::size_t>(pos + 1)] = 0x00;
    }
}

void putByte(std::vector<std::uint8_t>& buffer, std::int64_t pos, std::uint8_t value)
{
    if (pos >= 0 && pos < static_cast<std::int64_t>(buffer.size()))
        buffer[static_cast<std::size_t>(pos)] = value;
}

// Marks may land anywhere in the buffer, past the file's length too, where nothing may change.
void applyMark(std::vector<std::uint8_t>& buffer, std::int64_t length, std::uint8_t op, std::uint32_t where, const Geometry& g)
{
    const auto size = static_cast<std::int64_t>(buffer.size());
    const int number = op >> 3;
    const std::int64_t anywhere = static_cast<std::int64_t>(where) % size;
    const std::int64_t even = anywhere & ~std::int64_t{1};
    switch (op & 7) {
    case 0: // one dropout
        putDropout(buffer, even);
        break;
    case 1: // a vertical run going down from here
        for (int k = 0; k <= number; ++k)
            putDropout(buffer, even + k * g.row);
        break;
    case 2: { // a vertical run ending in the file's last row or the row before it
        const std::int64_t last = (length & ~std::int64_t{1}) - 2;
        const std::int64_t pos = last - 2 * (static_cast<std::int64_t>(where) % (g.row / 2 + 64));
        for (int k = 0; k <= number % 4; ++k)
            putDropout(buffer, pos - k * g.row);
        break;
    }
    case 3: // a horizontal run, across the scan's blocks
        for (int k = 0; k <= number; ++k)
            putDropout(buffer, even + 2 * k);
        break;
    case 4: { // one byte, with the values the averaging treats specially well represented
        static constexpr std::uint8_t kSpecial[] = {0x00, 0x80, 0x01, 0xff};
        putByte(buffer, anywhere, number < 4 ? kSpecial[number] : static_cast<std::uint8_t>(number * 8 + 3));
        break;
    }
    case 5: // 80 00 at an odd position, which is not a sample and so not a dropout
        putDropout(buffer, anywhere | 1);
        break;
    case 6: { // a vertical run around the first row that is repaired
        const std::int64_t pos = (g.header + g.row) - 256 + 2 * (static_cast<std::int64_t>(where) % 256);
        for (int k = 0; k <= number % 4; ++k)
            putDropout(buffer, pos + (k - 1) * g.row);
        break;
    }
    default: // a dropout with some of its four neighbour bytes zero
        putDropout(buffer, even);
        if (number & 1)
            putByte(buffer, even - g.row, 0);
        if (number & 2)
            putByte(buffer, even - g.row - 1, 0);
        if (number & 4)
            putByte(buffer, even + g.row, 0);
        if (number & 8)
            putByte(buffer, even + g.row - 1, 0);
        break;
    }
}

std::vector<std::uint8_t> makeBuffer(const Input& in, std::int64_t length, const Geometry& g)
{
    const std::uint8_t flags = in.byte(0);
    std::size_t slack = 0;
    if (flags & 8)
        slack = (flags & 16) ? static_cast<std::size_t>(g.row + 64) : 1 + std::size_t{in.byte(8)};
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length) + slack);

    const std::uint32_t dropoutDensity = in.byte(4);
    const std::uint32_t zeroDensity = in.byte(5);
    Random random(in.u16(6) | std::uint64_t{in.byte(0)} << 16);
    for (std::size_t i = 0; i < buffer.size(); i += 2) {
        const std::uint64_t r = random.next();
        std::uint8_t high = ((r >> 11) & 0xff) < zeroDensity ? 0 : static_cast<std::uint8_t>(r >> 32);
        std::uint8_t low = ((r >> 19) & 0xff) < zeroDensity ? 0 : static_cast<std::uint8_t>(r >> 40);
        if ((r & 0x7ff) < dropoutDensity) {
            high = 0x80;
            low = 0x00;
        }
        buffer[i] = high;
        if (i + 1 < buffer.size())
            buffer[i + 1] = low;
    }
    if (!buffer.empty()) {
        for (std::size_t m = 0; m < in.marks(); ++m) {
            const std::size_t at = kRecipeBytes + m * kMarkBytes;
            applyMark(buffer, length, in.byte(at), in.u24(at + 1), g);
        }
    }
    return buffer;
}

// Lengths outside the buffer must be refused with std::invalid_argument, touching nothing.
void checkRefusedLengths(std::vector<std::uint8_t>& buffer, std::int64_t length, const Geometry& g)
{
    const std::vector<std::uint8_t> before = buffer;
    const auto size = static_cast<std::int64_t>(buffer.size());
    for (const std::int64_t wrong : {size + 1, size + 2 * kRow, std::int64_t{-1}, -length - 2}) {
        bool refused = false;
        try {
            if (g.layout)
                (void)tarnis::repairDropouts(buffer, wrong, *g.layout);
            else
                tarnis::repairDropouts(buffer, wrong);
        } catch (const std::invalid_argument&) {
            refused = true;
        } catch (...) {
        }
        if (!refused)
            fail("a length outside the buffer was not refused with std::invalid_argument", wrong, buffer.size());
        if (buffer != before)
            fail("a refused length changed the buffer", wrong, buffer.size());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Input in(data, size);
    const Geometry g(in);
    const std::int64_t length = chooseLength(in, g);
    std::vector<std::uint8_t> buffer = makeBuffer(in, length, g);
    const std::vector<std::uint8_t> original = buffer;
    const auto fileEnd = original.begin() + length;

    // The plain loop sees the file's bytes only, in a buffer of exactly that size, so whatever the
    // fast pass does with the bytes after the file shows as a difference.
    std::vector<std::uint8_t> expected(original.begin(), fileEnd);
    tarnis::RepairCounts plainCounts;
    const bool plainRepaired = g.layout ? tarnis::test::repairPlainly(expected, length, *g.layout, &plainCounts)
                                        : tarnis::test::repairPlainly(expected, length);

    bool truncated = false;
    try {
        if (g.layout && tarnis::repairDropouts(buffer, length, *g.layout) != plainCounts)
            fail("the counts differ from the plain loop's", length, buffer.size());
        if (!g.layout)
            tarnis::repairDropouts(buffer, length);
    } catch (const tarnis::TruncatedImageError&) {
        truncated = true;
    } catch (...) {
        fail("repairDropouts threw something other than TruncatedImageError", length, buffer.size());
    }

    if (!plainRepaired) {
        if (!truncated)
            fail("a length the plain loop refuses did not throw TruncatedImageError", length, buffer.size());
        if (buffer != original)
            fail("TruncatedImageError was thrown after the buffer was changed", length, buffer.size());
    } else {
        if (truncated)
            fail("TruncatedImageError was thrown for a length the plain loop repairs", length, buffer.size());
        const auto mismatch = std::mismatch(expected.begin(), expected.end(), buffer.begin());
        if (mismatch.first != expected.end()) {
            const auto at = mismatch.first - expected.begin();
            std::fprintf(stderr, "repair_fuzz: byte %td is %02x, the plain loop made %02x (was %02x)\n", at,
                         *mismatch.second, *mismatch.first, original[static_cast<std::size_t>(at)]);
            fail("the repaired file differs from the plain loop's", length, buffer.size());
        }
        if (!std::equal(fileEnd, original.end(), buffer.begin() + length))
            fail("a byte after the file's length was changed", length, buffer.size());
    }

    if (in.byte(0) & 32)
        checkRefusedLengths(buffer, length, g);
    return 0;
}
