#include "engine/fits_header.h"

#include "common/cause.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace tarnis {

namespace {

constexpr std::size_t kCardBytes = 80;
constexpr std::int64_t kMostAxes = 999;

// The keyword of a card: its first eight columns, without the spaces that pad them.
std::string_view keywordOf(std::string_view card)
{
    std::string_view keyword = card.substr(0, 8);
    while (!keyword.empty() && keyword.back() == ' ')
        keyword.remove_suffix(1);
    return keyword;
}

// What follows "= " in columns 9 and 10, with the spaces before it skipped; nothing for a card
// without a value.
std::optional<std::string_view> valueField(std::string_view card)
{
    if (card.size() < 10 || card[8] != '=' || card[9] != ' ')
        return std::nullopt;
    std::string_view value = card.substr(10);
    while (!value.empty() && value.front() == ' ')
        value.remove_prefix(1);
    return value;
}

// Whether only spaces or a comment follow a value.
bool endsValue(std::string_view rest)
{
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    return rest.empty() || rest.front() == '/';
}

// An integer written anywhere in columns 11 to 80, perhaps with a comment after it.
std::optional<std::int64_t> integerValue(std::string_view card)
{
    const auto field = valueField(card);
    if (!field)
        return std::nullopt;
    std::string_view text = *field;
    if (text.starts_with('+') && !text.starts_with("+-")) // from_chars knows the minus sign only
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc()
        || !endsValue(text.substr(static_cast<std::size_t>(stop - text.data()))))
        return std::nullopt;
    return value;
}

// The value of a card as written, up to the spaces or comment after it ("3.2768E4").
std::string_view valueText(std::string_view card)
{
    std::string_view value = valueField(card).value_or(std::string_view());
    value = value.substr(0, std::min(value.find(' '), value.find('/')));
    return value;
}

// A real number as FITS writes it, with E or D before an exponent; nothing for anything else.
std::optional<double> realValue(std::string_view text)
{
    std::string number(text);
    std::replace(number.begin(), number.end(), 'D', 'E');
    double value = 0;
    const char* const last = number.data() + number.size();
    const auto [stop, error] = std::from_chars(number.data() + (number.starts_with('+') ? 1 : 0),
                                               last, value);
    if (error != std::errc() || stop != last)
        return std::nullopt;
    return value;
}

// Whether a BAYERPAT card names a 2x2 colour mosaic: a string of four letters, each R, G or B,
// whatever their case and the spaces among them ('RGGB', ' bggr'). Other values (an empty text, a
// 6x6 pattern, text that is no string) leave the frame to the repair from the rows above and below.
Mosaic mosaicOf(std::string_view card)
{
    const auto field = valueField(card);
    if (!field || !field->starts_with('\''))
        return Mosaic::None;
    const std::size_t close = field->find('\'', 1);
    if (close == std::string_view::npos || !endsValue(field->substr(close + 1)))
        return Mosaic::None; // no closing quote, or a quote written twice inside the text
    std::string letters;
    for (const char c : field->substr(1, close - 1)) {
        if (c != ' ')
            letters += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    const bool bayer = letters.size() == 4 && letters.find_first_not_of("RGB") == std::string::npos;
    return bayer ? Mosaic::Bayer : Mosaic::None;
}

bool isTrue(std::string_view card)
{
    const auto field = valueField(card);
    return field && !field->empty() && field->front() == 'T' && endsValue(field->substr(1));
}

// How a file begins, as a user may read it in a message: its text where it is text, as a FITS
// header would be, and otherwise its first bytes in hexadecimal, which tell a PNG or a JPEG apart.
std::string beginning(std::string_view bytes)
{
    const std::string_view text = bytes.substr(0, 30);
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; })) {
        std::string shown(text);
        while (!shown.empty() && shown.back() == ' ')
            shown.pop_back();
        return shown;
    }
    std::string hex;
    for (const char c : bytes.substr(0, 8)) {
        char digits[4];
        std::snprintf(digits, sizeof digits, hex.empty() ? "%02X" : " %02X",
                      static_cast<unsigned char>(c));
        hex += digits;
    }
    return hex;
}

} // namespace

std::optional<std::int64_t> headerLength(std::span<const std::uint8_t> bytes)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    for (std::size_t at = 0; at + kCardBytes <= text.size(); at += kCardBytes) {
        if (keywordOf(text.substr(at, kCardBytes)) == "END")
            return static_cast<std::int64_t>(at) / kRecordBytes * kRecordBytes + kRecordBytes;
    }
    return std::nullopt;
}

FitsHeaderError::FitsHeaderError(Cause cause, std::string found)
    : std::runtime_error("not a 16-bit FITS image with rows: " + found), cause_(cause),
      found_(std::move(found))
{
}

namespace {

// The first card of each keyword up to END, by keyword.
using Cards = std::map<std::string_view, std::string_view>;

std::int64_t integerOf(const Cards& cards, const std::string& keyword)
{
    const auto found = cards.find(keyword);
    const auto value = found == cards.end() ? std::nullopt : integerValue(found->second);
    if (!value)
        throw FitsHeaderError(Cause::MissingKeyword, keyword);
    return *value;
}

// Refuses what is no image of 16-bit samples with rows, or whose 0x8000 is a value of its own.
void checkSamples(const Cards& cards, std::int64_t axes)
{
    // No axes first: a tile-compressed image has an empty primary header, often with BITPIX = 8,
    // before the extension that holds it, and is told as such.
    if (axes < 2)
        throw FitsHeaderError(Cause::NoImageRows, "NAXIS = " + std::to_string(axes));
    const std::int64_t bitpix = integerOf(cards, "BITPIX");
    if (bitpix != 16)
        throw FitsHeaderError(Cause::NotSixteenBit, "BITPIX = " + std::to_string(bitpix));
    // A dropout is a physical 0 stored as 0x8000, as samples are stored where BZERO is 32768 and
    // BSCALE is 1. A file that states other values holds signed or scaled samples, in which 0x8000
    // is a value of its own (signed images often mark blank pixels with it), never a dropout. A file
    // that states neither is taken as the camera writes it.
    for (const auto& [keyword, camera] :
         {std::pair<std::string_view, double>{"BZERO", 32768}, {"BSCALE", 1}}) {
        const auto found = cards.find(keyword);
        if (found != cards.end() && realValue(valueText(found->second)) != camera)
            throw FitsHeaderError(Cause::NotUnsignedSamples,
                                  std::string(keyword) + " = "
                                      + std::string(valueText(found->second)));
    }
    // A signed image that names -32768 (0x8000) its blank value marks undefined samples with it on
    // purpose: they are not dropouts. With BZERO = 32768 that value is the camera's physical 0.
    if (const auto blank = cards.find("BLANK");
        blank != cards.end() && integerValue(blank->second) == -32768 && !cards.contains("BZERO"))
        throw FitsHeaderError(Cause::BlankSamples, "BLANK = -32768");
    if (axes > kMostAxes)
        throw FitsHeaderError(Cause::BadAxisLength, "NAXIS = " + std::to_string(axes));
}

// Sets the layout's row, rows and planes from the axes' lengths, which must be positive and leave
// the image's bytes countable after the header.
void readAxes(const Cards& cards, std::int64_t axes, ImageLayout& layout)
{
    std::int64_t room = (std::numeric_limits<std::int64_t>::max() - layout.dataStart) / 2;
    std::string sizes;
    bool fits = true;
    for (std::int64_t axis = 1; axis <= axes; ++axis) {
        const std::string keyword = "NAXIS" + std::to_string(axis);
        const std::int64_t length = integerOf(cards, keyword);
        if (length <= 0)
            throw FitsHeaderError(Cause::BadAxisLength, keyword + " = " + std::to_string(length));
        sizes += (axis > 1 ? " x " : "") + std::to_string(length);
        fits = fits && length <= room;
        if (!fits)
            continue; // the other axes are still checked for what a user would need to know
        room /= length;
        if (axis == 1)
            layout.rowBytes = 2 * length;
        else if (axis == 2)
            layout.rows = length;
        else
            layout.planes *= length;
    }
    if (!fits)
        throw FitsHeaderError(Cause::ImageTooLarge, sizes);
}

} // namespace

ImageLayout readImageLayout(std::span<const std::uint8_t> file)
{
    const std::string_view bytes(reinterpret_cast<const char*>(file.data()), file.size());
    const std::size_t cardCount = bytes.size() / kCardBytes;
    const auto card = [&](std::size_t index) {
        return bytes.substr(index * kCardBytes, kCardBytes);
    };

    if (cardCount == 0 || keywordOf(card(0)) != "SIMPLE" || !isTrue(card(0)))
        throw FitsHeaderError(Cause::NotFits, beginning(bytes));

    // The header ends with the record that holds END.
    const std::optional<std::int64_t> headerEnd = headerLength(file);
    if (!headerEnd)
        throw FitsHeaderError(Cause::NoEndCard, std::to_string(file.size()));
    Cards cards;
    for (std::size_t i = 0; i < cardCount && keywordOf(card(i)) != "END"; ++i)
        cards.emplace(keywordOf(card(i)), card(i));

    const std::int64_t axes = integerOf(cards, "NAXIS");
    checkSamples(cards, axes);
    ImageLayout layout;
    layout.dataStart = *headerEnd;
    readAxes(cards, axes, layout);
    if (const auto found = cards.find("BAYERPAT"); found != cards.end())
        layout.mosaic = mosaicOf(found->second);
    return layout;
}

} // namespace tarnis
