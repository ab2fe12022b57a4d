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
