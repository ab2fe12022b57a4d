#include "common/text.h"

namespace tarnis {

namespace {

bool isContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

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
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) && upper[3] >= '0' && upper[3] <= '9';
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
