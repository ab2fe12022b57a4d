#pragma once

#include "tests/support/fits_images.h"

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace tarnis::test {

using Bytes = std::vector<std::uint8_t>;

void writeFile(const std::filesystem::path& path, const Bytes& bytes);
[[nodiscard]] Bytes readFile(const std::filesystem::path& path);
/// The names (UTF-8) of everything in a folder.
[[nodiscard]] std::set<std::string> namesIn(const std::filesystem::path& folder);
/// A 16-bit image of the camera's width, 6080 samples, with `rows` rows after a one-record header,
/// in which no sample is a dropout, with dropouts put at `dropouts` (byte positions in the file);
/// with `bayer`, a colour frame (BAYERPAT = 'RGGB').
[[nodiscard]] Bytes imageWithDropouts(int rows, const std::vector<std::int64_t>& dropouts,
                                      std::uint32_t seed = 1, bool bayer = false);
/// An image of 32-bit floating-point samples (BITPIX = -32), which the repair must refuse.
[[nodiscard]] Bytes floatImage();

} // namespace tarnis::test
