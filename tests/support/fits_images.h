#pragma once

// FITS headers as the tests, benchmarks and fuzz targets write them; header-only, so that each can
// use it without a test framework.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnis::test {

/// A FITS header of the given cards ("BITPIX  =                   16"), each padded to 80 characters,
/// followed by END and padded with spaces to whole 2880-byte records.
inline std::vector<std::uint8_t> fitsHeader(const std::vector<std::string>& cards)
{
    std::string text;
    for (const std::string& card : cards)
        text += (card + std::string(80, ' ')).substr(0, 80);
    text += (std::string("END") + std::string(80, ' ')).substr(0, 80);
    text.resize((text.size() + 2879) / 2880 * 2880, ' ');
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

/// The cards of a 16-bit image header: SIMPLE, BITPIX, NAXIS and the axis lengths.
inline std::vector<std::string> imageCards(const std::vector<std::int64_t>& axes)
{
    const auto card = [](const std::string& keyword, const std::string& value) {
        const std::string text = (keyword + "        ").substr(0, 8) + "= ";
        return text + std::string(20 - std::min<std::size_t>(20, value.size()), ' ') + value;
    };
    std::vector<std::string> cards = {card("SIMPLE", "T"), card("BITPIX", "16"),
                                      card("NAXIS", std::to_string(axes.size()))};
    for (std::size_t i = 0; i < axes.size(); ++i)
        cards.push_back(card("NAXIS" + std::to_string(i + 1), std::to_string(axes[i])));
    return cards;
}

} // namespace tarnis::test
