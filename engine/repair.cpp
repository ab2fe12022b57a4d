#include "engine/repair.h"

#include <bit>
#include <cstddef>
#include <cstring>

// On x86-64 with GCC or Clang the scan uses AVX2 when the processor has it (decided once, at run
// time); everywhere else, and wherever TARNIS_PORTABLE_SCAN is defined, it uses 64-bit words.
#if !defined(TARNIS_PORTABLE_SCAN) && defined(__x86_64__) && defined(__GNUC__)
#define TARNIS_AVX2_SCAN 1
#include <immintrin.h>
#else
#define TARNIS_AVX2_SCAN 0
#endif

namespace tarnis {

namespace {

constexpr std::int64_t kHeaderSize = 2880;                         // one FITS record
constexpr std::int64_t kRowBytes = 12160;                          // 6080 samples of two bytes
constexpr std::int64_t kFirstRepairable = kHeaderSize + kRowBytes; // the second image row

// 0 stands both for a zero neighbour byte and for a neighbour that is not there, so one non-zero
// neighbour is copied as it is and only two non-zero ones are averaged, rounding down.
std::uint8_t combine(unsigned below, unsigned above)
{
    return static_cast<std::uint8_t>(below > 0 && above > 0 ? (below + above) / 2 : below + above);
}

bool isDropout(const std::uint8_t* sample)
{
    return sample[0] == 0x80 && sample[1] == 0x00;
}

// Rewrites the dropout sample at `pos` (pos >= kFirstRepairable). The bytes above may have been
// rewritten earlier in this pass; the bytes below are always still as read. The low byte's
// neighbours are the bytes just before the neighbour samples' high bytes, that is the low bytes of
// the samples one place to the left: every file repaired so far was made this way, so it stays.
// Only the last row lacks a row below, so callers far from the end skip that test.
template <bool NearTheEnd>
[[gnu::always_inline]] inline void repairSample(std::uint8_t* data, std::int64_t pos, std::int64_t length)
{
    const unsigned highBelow = !NearTheEnd || pos + kRowBytes < length ? data[pos + kRowBytes] : 0;
    data[pos] = combine(highBelow, data[pos - kRowBytes]);
    const unsigned lowBelow = !NearTheEnd || pos + kRowBytes - 1 < length ? data[pos + kRowBytes - 1] : 0;
    data[pos + 1] = combine(lowBelow, data[pos - kRowBytes - 1]);
}

// The scan takes a block of 32 samples at a time and makes a mask with bit i set when the sample
// at byte i of the block is a dropout. Blocks without one, nearly all of them, cost a few
// instructions; the samples of the others are visited through the mask alone. A repair writes
// only its own sample, so the rest of the block stays as it was scanned.
constexpr std::int64_t kBlockBytes = 64;

// Eight bytes at a time: after the XOR a dropout lane is zero, and subtracting one from a zero lane
// sets its top bit, which "& ~x" keeps only for lanes whose top bit was clear. A borrow can mark a
// lane above a zero lane as well, so this only tells whether the block holds a dropout; the
// samples of such a block are then tested one by one.
std::uint64_t dropoutMaskPortable(const std::uint8_t* block)
{
    constexpr std::uint64_t kDropoutLanes =
        std::endian::native == std::endian::little ? 0x0080008000800080u : 0x8000800080008000u;
    constexpr std::uint64_t kLaneOnes = 0x0001000100010001u;
    constexpr std::uint64_t kLaneTopBits = 0x8000800080008000u;
    std::uint64_t marks = 0;
    for (int offset = 0; offset < kBlockBytes; offset += 8) {
        std::uint64_t word;
        std::memcpy(&word, block + offset, sizeof word);
        const std::uint64_t x = word ^ kDropoutLanes;
        marks |= (x - kLaneOnes) & ~x & kLaneTopBits;
    }
    if (marks == 0)
        return 0;
    std::uint64_t mask = 0;
    for (int offset = 0; offset < kBlockBytes; offset += 2) {
        if (isDropout(block + offset))
            mask |= std::uint64_t{1} << offset;
    }
    return mask;
}

// Repairs the dropouts of the block at `pos` that `mask` marks. Blocks that end a row or more
// before the end of the data have a row below every sample and take the cheaper repair.
[[gnu::always_inline]] inline void repairMarked(std::uint8_t* data, std::int64_t pos, std::uint64_t mask, std::int64_t length)
{
    const bool farFromTheEnd = pos + kBlockBytes + kRowBytes <= length;
    for (; mask != 0; mask &= mask - 1) {
        const std::int64_t sample = pos + std::countr_zero(mask);
        if (farFromTheEnd)
            repairSample<false>(data, sample, length);
        else
            repairSample<true>(data, sample, length);
    }
}

// Each scan repairs the whole blocks from `pos` on and returns where they end.
std::int64_t repairBlocksPortable(std::uint8_t* data, std::int64_t pos, std::int64_t length)
{
    for (; pos + kBlockBytes <= length; pos += kBlockBytes) {
        if (const std::uint64_t mask = dropoutMaskPortable(data + pos))
            repairMarked(data, pos, mask, length);
    }
    return pos;
}

#if TARNIS_AVX2_SCAN

// Sixteen 16-bit lanes compared at once: the bytes 80 00 load as the little-endian word 0x0080.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i dropoutLanes(const std::uint8_t* bytes)
{
    return _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes)), _mm256_set1_epi16(0x0080));
}

// A matching lane sets the mask bits of both its bytes; the high byte's, at the even position, stays.
[[gnu::target("avx2"), gnu::always_inline]] inline std::uint64_t dropoutMask(__m256i low, __m256i high)
{
    const auto lowBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(low));
    const auto highBits = static_cast<std::uint32_t>(_mm256_movemask_epi8(high));
    return (std::uint64_t{highBits} << 32 | lowBits) & 0x5555555555555555u;
}

// Two blocks are tested at once, which keeps the loop at the speed of memory on clean data.
[[gnu::target("avx2")]] std::int64_t repairBlocksAvx2(std::uint8_t* data, std::int64_t pos, std::int64_t length)
{
    // Samples one by one up to a 32-byte boundary, so that no load straddles two cache lines. A
    // buffer at an odd address can never have its samples there, and is scanned as it lies.
    const auto address = [&] { return reinterpret_cast<std::uintptr_t>(data + pos); };
    if (reinterpret_cast<std::uintptr_t>(data) % 2 == 0) {
        for (; address() % 32 != 0 && pos + 1 < length; pos += 2) {
            if (isDropout(data + pos))
                repairSample<true>(data, pos, length);
        }
    }
    for (; pos + 2 * kBlockBytes <= length; pos += 2 * kBlockBytes) {
        const __m256i a = dropoutLanes(data + pos);
        const __m256i b = dropoutLanes(data + pos + 32);
        const __m256i c = dropoutLanes(data + pos + 64);
        const __m256i d = dropoutLanes(data + pos + 96);
        const __m256i any = _mm256_or_si256(_mm256_or_si256(a, b), _mm256_or_si256(c, d));
        if (_mm256_testz_si256(any, any))
            continue;
        if (const std::uint64_t mask = dropoutMask(a, b))
            repairMarked(data, pos, mask, length);
        if (const std::uint64_t mask = dropoutMask(c, d))
            repairMarked(data, pos + kBlockBytes, mask, length);
    }
    if (pos + kBlockBytes <= length) {
        if (const std::uint64_t mask = dropoutMask(dropoutLanes(data + pos), dropoutLanes(data + pos + 32)))
            repairMarked(data, pos, mask, length);
        pos += kBlockBytes;
    }
    return pos;
}

std::int64_t repairBlocks(std::uint8_t* data, std::int64_t pos, std::int64_t length)
{
    static const bool hasAvx2 = __builtin_cpu_supports("avx2");
    return hasAvx2 ? repairBlocksAvx2(data, pos, length) : repairBlocksPortable(data, pos, length);
}

#else

std::int64_t repairBlocks(std::uint8_t* data, std::int64_t pos, std::int64_t length)
{
    return repairBlocksPortable(data, pos, length);
}

#endif

} // namespace

void repairDropouts(std::span<std::uint8_t> fileData, std::int64_t fileLength)
{
    if (fileLength < 0 || static_cast<std::uint64_t>(fileLength) > fileData.size())
        throw std::invalid_argument("repairDropouts: fileLength is negative or larger than fileData");
    // An odd length leaves half a sample at the end; the repair would run past the buffer there.
    if (fileLength > kHeaderSize && fileLength % 2 != 0)
        throw TruncatedImageError("repairDropouts: an odd fileLength above the header cuts the last sample in half");

    std::uint8_t* const data = fileData.data();
    // Dropouts in the first row after the header are never repaired, so the scan starts below it.
    std::int64_t pos = fileLength > kFirstRepairable ? repairBlocks(data, kFirstRepairable, fileLength) : kFirstRepairable;
    for (; pos + 1 < fileLength; pos += 2) {
        if (isDropout(data + pos))
            repairSample<true>(data, pos, fileLength);
    }
}

} // namespace tarnis
