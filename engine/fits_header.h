#pragma once

#include "common/error.h"
#include "engine/repair.h"

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

namespace tarnis {

/// Thrown by readImageLayout for a file that is not a 16-bit FITS image with rows: its cause says
/// what is wrong and `found()` what the header holds instead ("BITPIX = -32"), in plain ASCII.
class FitsHeaderError : public std::runtime_error {
public:
    FitsHeaderError(Cause cause, std::string found);
    [[nodiscard]] Cause cause() const noexcept { return cause_; }
    [[nodiscard]] const std::string& found() const noexcept { return found_; }

private:
    Cause cause_;
    std::string found_;
};

/// The length of the primary header at the start of `bytes`: up to the end of the 2880-byte record
/// that holds the END card, where the data starts. Nothing when `bytes` holds no END card.
[[nodiscard]] std::optional<std::int64_t> headerLength(std::span<const std::uint8_t> bytes);

/// Reads the primary header at the start of `file`: 80-character cards in 2880-byte records, up to
/// the record that holds the END card. The image data starts after that record; its rows are
/// NAXIS1 samples of 2 bytes, NAXIS2 rows make a plane, and the further axes multiplied give the
/// number of planes. A BAYERPAT of four letters R, G or B (any case, spaces ignored) marks a colour
/// frame under a 2x2 mosaic; any other BAYERPAT, or none, a frame of one colour.
///
/// Throws FitsHeaderError when the first card is not SIMPLE = T (NotFits), there is no END card
/// (NoEndCard, found: the bytes searched), NAXIS is below 2, as with a compressed image
/// (NoImageRows), BITPIX is not 16 (NotSixteenBit), BZERO or BSCALE is stated with another value
/// than the camera's 32768 and 1 (NotUnsignedSamples), BLANK = -32768 is stated without BZERO, so
/// that 0x8000 marks blank samples (BlankSamples), a keyword the layout needs is missing or not an
/// integer (MissingKeyword), an axis length is not positive or NAXIS is above 999 (BadAxisLength),
/// or the image's bytes do not fit in 64 bits (ImageTooLarge).
[[nodiscard]] ImageLayout readImageLayout(std::span<const std::uint8_t> file);

} // namespace tarnis
