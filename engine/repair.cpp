#include "engine/repair.h"

#include <bit>
#include <cstddef>
#include <cstring>

namespace tarnis {

namespace {

constexpr std::int64_t kHeaderSize = 2880;                       // one FITS record
constexpr std::int64_t kRowBytes = 12160;                        // 6080 samples of two bytes
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
// neighbours are the bytes just before the neighbour samples' high bytes: the sample one place to
// the left of each. Every repaired file so far has been made this way, so it stays.
void repairSample(std::uint8_t* data, std::int64_t pos, std::int64_t length)
{
    const unsigned highBelow = pos + kRowBytes < length ? data[pos + kRowBytes] : 0;
    data[pos] = combine(highBelow, data[pos - kRowBytes]);
    const unsigned lowBelow = pos + kRowBytes - 1 < length ? data[pos + kRowBytes - 1] : 0;
    data[pos + 1] = combine(lowBelow, data[pos - kRowBytes - 1]);
}

// The scan looks at four samples per 64-bit word: a dropout is a 16-bit lane equal to the bytes
// 80 00 as the machine loads them, which the word test below finds without looking at lanes one by one.
constexpr std::uint64_t kDropoutLanes =
    std::endian::native == std::endian::little ? 0x0080008000800080u : 0x8000800080008000u;
constexpr std::uint64_t kLaneOnes = 0x0001000100010001u;
constexpr std::uint64_t kLaneHighBits = 0x8000800080008000u;
constexpr std::int64_t kBlockBytes = 32; // four words, sixteen samples

// Non-zero when a lane of `word` is a dropout. After the XOR a dropout lane is zero; subtracting
// one from a zero lane sets its top bit, which no lane that had its top bit set can supply through
// "& ~x". Borrows can only mark lanes above a zero lane, so the answer for the word is exact.
std::uint64_t dropoutMark(const std::uint8_t* bytes)
{
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof word);
    const std::uint64_t x = word ^ kDropoutLanes;
    return (x - kLaneOnes) & ~x & kLaneHighBits;
}

bool blockHasDropout(const std::uint8_t* block)
{
    return (dropoutMark(block) | dropoutMark(block + 8) | dropoutMark(block + 16) | dropoutMark(block + 24)) != 0;
}

} // namespace

void repairDropouts(std::span<std::uint8_t> fileData, std::int64_t fileLength)
{
    if (fileLength < 0 || static_cast<std::uint64_t>(fileLength) > fileData.size())
        throw std::invalid_argument("repairDropouts: fileLength is negative or larger than fileData");
    // An odd length leaves half a sample at the end; the repair would run past the buffer there.
    if (fileLength > kHeaderSize && fileLength % 2 != 0)
        throw TruncatedImageError("画像データの長さが奇数です。ファイルが途中で切れているか、16 ビットの画像ではありません。");

    std::uint8_t* const data = fileData.data();
    // Dropouts in the first row after the header are never repaired, so the scan starts below it.
    std::int64_t pos = kFirstRepairable;
    for (; pos + kBlockBytes <= fileLength; pos += kBlockBytes) {
        if (!blockHasDropout(data + pos))
            continue;
        // A repair writes only its own sample, so the rest of the block is still as scanned.
        for (std::int64_t sample = pos; sample < pos + kBlockBytes; sample += 2) {
            if (isDropout(data + sample))
                repairSample(data, sample, fileLength);
        }
    }
    for (; pos + 1 < fileLength; pos += 2) {
        if (isDropout(data + pos))
            repairSample(data, pos, fileLength);
    }
}

} // namespace tarnis
