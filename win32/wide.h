#pragma once

#include <string>
#include <string_view>

namespace tarnis::win32 {

/// UTF-8, as the program keeps its texts, to UTF-16, as the system takes them, and back.
[[nodiscard]] std::wstring wide(std::string_view utf8);
[[nodiscard]] std::string utf8(std::wstring_view wide);

} // namespace tarnis::win32
