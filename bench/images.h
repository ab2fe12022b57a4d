#pragma once

#include "tests/support/fits_images.h"

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace tarnis::bench {

// A full frame of the camera: 6080 x 4000 samples after the 2880-byte header, about 48 MB. Frames
// of other widths have about as many bytes.
inline constexpr std::int64_t kCameraWidth = 6080;
inline constexpr std::size_t kHeaderBytes = 2880;
inline constexpr std::size_t kFrameBytes = kHeaderBytes + 4000 * 2 * kCameraWidth;

inline std::int64_t rowsOfWidth(std::int64_t width)
{
    return static_cast<std::int64_t>(kFrameBytes - kHeaderBytes) / (2 * width);
}

/// A frame of sky background `width` samples wide, of `rows` rows or about a full frame's bytes, in
/// which the given share of samples are dropouts, after a one-record FITS header; with `bayer`, a
/// colour frame (BAYERPAT = 'RGGB'). No byte is 0xFF, so that memchr for 0xFF runs over the whole
/// frame as the baseline.
inline std::vector<std::uint8_t> skyFrame(double dropoutShare, std::uint32_t seed = 42,
                                          std::int64_t width = kCameraWidth, std::int64_t rows = 0,
                                          bool bayer = false)
{
    rows = rows > 0 ? rows : rowsOfWidth(width);
    std::vector<std::string> cards = test::imageCards({width, rows});
    if (bayer)
        cards.push_back("BAYERPAT= 'RGGB'");
    std::vector<std::uint8_t> frame = test::fitsHeader(cards);
    frame.resize(kHeaderBytes + static_cast<std::size_t>(rows * 2 * width));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> high(0x81, 0x8F);
    std::uniform_int_distribution<int> low(0x00, 0xFE);
    std::bernoulli_distribution dropout(dropoutShare);
    for (std::size_t pos = kHeaderBytes; pos < frame.size(); pos += 2) {
        const bool isDropout = dropoutShare > 0 && dropout(random);
        frame[pos] = isDropout ? 0x80 : static_cast<std::uint8_t>(high(random));
        frame[pos + 1] = isDropout ? 0x00 : static_cast<std::uint8_t>(low(random));
    }
    return frame;
}

/// The hardest frame for a scan that looks for the byte 0x80: every high byte is 0x80, the low
/// bytes are random, so about one sample in 256 is a dropout, scattered everywhere.
inline std::vector<std::uint8_t> adversarialFrame(std::uint32_t seed = 7)
{
    std::vector<std::uint8_t> frame = skyFrame(0.0, seed);
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> low(0x00, 0xFE);
    for (std::size_t pos = kHeaderBytes; pos < frame.size(); pos += 2) {
        frame[pos] = 0x80;
        frame[pos + 1] = static_cast<std::uint8_t>(low(random));
    }
    return frame;
}

} // namespace tarnis::bench
