#pragma once

#include <string>
#include <string_view>

namespace tarnis {

// Windows only. UTF-8, as the program keeps every text and path, to UTF-16, as the system's wide
// calls take them, and back; invalid sequences become U+FFFD rather than being dropped.
[[nodiscard]] std::wstring utf16(std::string_view text);
[[nodiscard]] std::string utf8(std::wstring_view text);

} // namespace tarnis
