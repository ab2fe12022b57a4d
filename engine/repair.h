#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

namespace tarnis {

/// One FITS record: a header is whole records of 80-character cards, and the data start on the
/// record after it.
inline constexpr std::int64_t kRecordBytes = 2880;

/// Whether the sample whose two bytes start at `sample` is a dropout: the bytes 0x80 0x00, a
/// physical 0 under BZERO 32768.
[[nodiscard]] inline bool isDropout(const std::uint8_t* sample)
{
    return sample[0] == 0x80 && sample[1] == 0x00;
}

/// Thrown by repairDropouts for a buffer that cannot hold whole 16-bit samples after the header:
/// the file was cut short or is not an image of this kind. The buffer is left untouched.
class TruncatedImageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// How a dropout is rebuilt from the samples above and below it in its column.
enum class RepairRule {
    /// From their 16-bit physical values (stored value + 32768): their mean rounded down, or the one
    /// of them that is neither a dropout nor outside the plane and the file; with neither, the
    /// dropout is left. Every frame is repaired so.
    Values,
    /// The rule of Tarnis 3.0 and earlier for frames without a colour mosaic, kept only so that files
    /// made by those versions can be made again byte for byte: the high byte is the mean of the high
    /// bytes above and below, the low byte the mean of the bytes just before those samples (the low
    /// bytes of the samples one place to their left), each byte on its own, a byte 0 counting as no
    /// neighbour. Averaging bytes is not averaging values: 1885 over 1782 comes out as 1555. Colour
    /// frames were already repaired by their values, and still are.
    Bytes,
};

/// Rewrites, in place and in one ascending pass, every dropout sample (the bytes 0x80 0x00 at an
/// even position) from the second image row after the 2880-byte header on, from the samples of the
/// image rows directly above and below it (12160 bytes away) by `rule`: the layout of the camera
/// this tool was first made for, whatever the file's header says. `fileLength` is the length of the
/// file; `fileData` holds at least that many bytes. Throws TruncatedImageError, before changing
/// anything, for an odd `fileLength` above 2880, and std::invalid_argument for a `fileLength` that
/// is negative or larger than `fileData`.
void repairDropouts(std::span<std::uint8_t> fileData, std::int64_t fileLength,
                    RepairRule rule = RepairRule::Values);

/// What lies over the sensor's pixels. Under a colour mosaic the rows directly above and below a
/// sample hold other colours; samples of its own colour lie two rows up and two rows down.
enum class Mosaic {
    None,  ///< one colour (a monochrome camera), or none stated
    Bayer, ///< a 2x2 colour mosaic (a one-shot-colour camera), as BAYERPAT states
};

/// Where the 16-bit samples of an image lie in its file, as its FITS header tells.
struct ImageLayout {
    std::int64_t dataStart =
        kRecordBytes;              ///< the first byte after the header: a multiple of kRecordBytes
    std::int64_t rowBytes = 12160; ///< two bytes for each sample of a row (NAXIS1)
    std::int64_t rows = 1;         ///< rows of one plane (NAXIS2)
    std::int64_t planes =
        1; ///< planes of a cube (NAXIS3 and further multiplied), 1 for a plain image
    Mosaic mosaic = Mosaic::None; ///< which samples share a colour, and so which repair applies

    friend bool operator==(const ImageLayout&, const ImageLayout&) = default;
};

/// How many dropouts a repair met.
struct RepairCounts {
    std::int64_t repaired = 0; ///< given a new value from their neighbours
    std::int64_t left = 0;     ///< left as they were, having no neighbour to take a value from

    friend bool operator==(const RepairCounts&, const RepairCounts&) = default;
};

/// The same repair for an image of any width and any number of planes, each plane on its own. A
/// sample below counts only inside its plane and the file. Nothing outside the image data changes:
/// header, padding and whatever follows the image stay as they are; a file shorter than its layout
/// promises is repaired as far as its bytes go.
///
/// A dropout's neighbours are the samples of its column d rows above and d rows below it, d being 1
/// for a monochrome frame and 2 under a Bayer mosaic (the nearest samples of its own colour). Those
/// above may already have been repaired in this pass; those below are as read. A dropout in a
/// plane's first d rows has no neighbour above and is left, as is one whose neighbours are both
/// dropouts or outside the plane. With RepairRule::Bytes a monochrome frame's dropouts below its
/// first row are all counted as repaired, whatever their bytes came out as.
///
/// Throws as the repair above does, and std::invalid_argument for a layout without rows or with
/// a data start or row length that is odd or not positive, or whose data does not fit in 64 bits.
RepairCounts repairDropouts(std::span<std::uint8_t> fileData, std::int64_t fileLength,
                            const ImageLayout& layout, RepairRule rule = RepairRule::Values);

/// How far above and below a dropout the repair of `layout` reads, in bytes: a row, two rows under
/// a colour mosaic, or a whole plane where a plane has no row that far from its first.
[[nodiscard]] std::int64_t repairReach(const ImageLayout& layout);

/// The same repair for a stretch of a file held in memory in part: the dropouts at bytes [from, to)
/// of the file, with `window` holding the file's bytes from byte `windowStart` on. The bytes before
/// `from` are taken as the repair of what lies before them left them, the bytes from `from` on as
/// read, so that repairing a file's image data in stretches, one after another in ascending order,
/// gives the bytes and counts of repairing it whole. The window holds the bytes from
/// repairReach(layout) + 1 before `from` (or from the file's start) to repairReach(layout) past `to`
/// (or to the end of the file or of the plane), and nothing past the file.
///
/// Where `rewritten` is given, the offsets in the file of the dropouts given a new value are added
/// to it in ascending order, so that a caller can write back what changed without a copy of the
/// stretch to compare with: every byte the repair changes lies in one of those samples (by the
/// byte rule a sample's bytes may come out as they were).
///
/// Throws TruncatedImageError for an odd `fileLength` above 2880, and std::invalid_argument for a
/// layout as above, a stretch outside the image data, or a window that does not hold it so; and
/// std::bad_alloc where `rewritten` cannot grow, the stretch then repaired in part.
RepairCounts repairDropouts(std::span<std::uint8_t> window, std::int64_t windowStart,
                            std::int64_t fileLength, const ImageLayout& layout, std::int64_t from,
                            std::int64_t to, RepairRule rule = RepairRule::Values,
                            std::vector<std::int64_t>* rewritten = nullptr);

} // namespace tarnis
