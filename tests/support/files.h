#pragma once

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
/// A FITS header of the given cards ("BITPIX  =                   16"), each padded to 80 characters,
/// followed by END and padded with spaces to whole 2880-byte records.
[[nodiscard]] Bytes fitsHeader(const std::vector<std::string>& cards);
/// The cards of a 16-bit image header: SIMPLE, BITPIX, NAXIS and the axis lengths.
[[nodiscard]] std::vector<std::string> imageCards(const std::vector<std::int64_t>& axes);
/// A 16-bit image of the camera's width, 6080 samples, with `rows` rows after a one-record header,
/// in which no sample is a dropout, with dropouts put at `dropouts` (byte positions in the file).
[[nodiscard]] Bytes imageWithDropouts(int rows, const std::vector<std::int64_t>& dropouts, std::uint32_t seed = 1);

} // namespace tarnis::test
