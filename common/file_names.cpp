#include "common/file_names.h"

#include "common/case_fold_table.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

namespace tarnis {

namespace {

bool isContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The character that starts at `at` and its length in bytes, or nothing for bytes that are not
// UTF-8 (an overlong form, a surrogate, a stray continuation byte, a sequence cut short).
std::optional<std::pair<char32_t, std::size_t>> decodeAt(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    const std::size_t length = lead < 0x80           ? 1
                               : (lead >> 5) == 0x6  ? 2
                               : (lead >> 4) == 0xE  ? 3
                               : (lead >> 3) == 0x1E ? 4
                                                     : 0;
    if (length == 0 || at + length > text.size())
        return std::nullopt;
    char32_t c = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if (!isContinuationByte(text[at + i]))
            return std::nullopt;
        c = c << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
        return std::nullopt;
    return std::pair{c, length};
}

void appendUtf8(std::string& text, char32_t c)
{
    if (c < 0x80) {
        text += static_cast<char>(c);
    } else if (c < 0x800) {
        text += static_cast<char>(0xC0 | c >> 6);
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        text += static_cast<char>(0xE0 | c >> 12);
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | c >> 18);
        text += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::size_t nameStart(std::string_view path)
{
    std::size_t start = path.size();
    while (start > 0 && !isPathSeparator(path[start - 1]))
        --start;
#ifdef _WIN32
    const bool driveLetter = path.size() >= 2 && path[1] == ':'
                             && ((path[0] >= 'A' && path[0] <= 'Z')
                                 || (path[0] >= 'a' && path[0] <= 'z'));
    if (start == 0 && driveLetter)
        start = 2;
#endif
    return start;
}

bool containsPathSeparator(std::string_view name)
{
    for (const char c : name) {
        if (isPathSeparator(c))
            return true;
    }
    return false;
}

bool isWindowsDeviceName(std::string_view name)
{
    // Up to the first dot, without the spaces before it; compared in upper case.
    name = name.substr(0, name.find('.'));
    while (!name.empty() && name.back() == ' ')
        name.remove_suffix(1);
    std::string upper(name);
    for (char& c : upper)
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (upper == device)
            return true;
    }
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT"))
           && upper[3] >= '0' && upper[3] <= '9';
}

std::optional<std::string_view> dropLastCharacters(std::string_view text, std::size_t count)
{
    std::size_t end = text.size();
    for (std::size_t dropped = 0; dropped < count; ++dropped) {
        if (end == 0)
            return std::nullopt;
        // Step back over a whole character: its continuation bytes, then its lead byte. A stray
        // continuation byte at the very start still counts as one character of its own.
        do {
            --end;
        } while (end > 0 && isContinuationByte(text[end]));
    }
    return text.substr(0, end);
}

char32_t upperCase(char32_t c)
{
    using detail::kUpperCaseRuns;
    const detail::UpperCaseRun* const end = kUpperCaseRuns + detail::kUpperCaseRunCount;
    const auto run = std::lower_bound(
        kUpperCaseRuns, end, c,
        [](const detail::UpperCaseRun& r, char32_t value) { return r.last < value; });
    if (run == end || c < run->first || (c - run->first) % run->step != 0)
        return c;
    return static_cast<char32_t>(static_cast<std::int32_t>(c) + run->delta);
}

std::string foldCase(std::string_view text)
{
    std::string folded;
    folded.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto character = decodeAt(text, at);
        if (!character) {
            folded += text[at++];
            continue;
        }
        appendUtf8(folded, upperCase(character->first));
        at += character->second;
    }
    return folded;
}

std::filesystem::path pathFromUtf8(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string utf8FromPath(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace tarnis
