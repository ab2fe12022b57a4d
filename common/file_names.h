#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace tarnis {

/// The separator that ends every folder text and sits between a folder and a name.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

/// Whether `c` separates folders in a path: the platform's separator, and on Windows "/" as well.
[[nodiscard]] constexpr bool isPathSeparator(char c)
{
#ifdef _WIN32
    return c == '\\' || c == '/';
#else
    return c == kPathSeparator;
#endif
}

/// Where the name in `path` starts: just after its last separator (on Windows also just after the
/// drive of a drive-relative path, "D:a.fit"), or 0 for a bare name.
[[nodiscard]] std::size_t nameStart(std::string_view path);

/// The folder part of `path`, with its separator ("" for a bare name), and the name after it.
[[nodiscard]] inline std::string_view folderOf(std::string_view path)
{
    return path.substr(0, nameStart(path));
}
[[nodiscard]] inline std::string_view nameOf(std::string_view path)
{
    return path.substr(nameStart(path));
}

/// Whether `name` holds a separator, so that it would lead into another folder.
[[nodiscard]] bool containsPathSeparator(std::string_view name);

/// Whether Windows takes the file name `name` for a device rather than a file: CON, PRN, AUX, NUL,
/// COM0 to COM9, LPT0 to LPT9, CONIN$ and CONOUT$, in any letter case, alone or followed by spaces
/// or an extension ("nul.fit").
[[nodiscard]] bool isWindowsDeviceName(std::string_view name);

/// `text` without its last `count` characters, counted as Unicode characters of the UTF-8 text (a
/// Japanese character is one, not three), or nothing when the text has fewer characters than that.
[[nodiscard]] std::optional<std::string_view> dropLastCharacters(std::string_view text,
                                                                 std::size_t count);

/// The upper case of `c` where it has one of a single character (Unicode's simple upper-case
/// mapping, as the up-case tables of NTFS and exFAT hold it), or `c` itself.
[[nodiscard]] char32_t upperCase(char32_t c);

/// `text` with every letter that has an upper case in its upper case, for telling whether two names
/// are one on a file system that ignores letter case, as NTFS, FAT and exFAT fold them: in every
/// script (Latin, Greek, Cyrillic, Armenian, Georgian, Cherokee, Deseret, ...). Anything else,
/// invalid UTF-8 included, stays as it is.
[[nodiscard]] std::string foldCase(std::string_view text);

/// A UTF-8 text as a path of the platform, so that any Unicode name reaches the file system intact.
[[nodiscard]] std::filesystem::path pathFromUtf8(std::string_view text);

/// The opposite of pathFromUtf8.
[[nodiscard]] std::string utf8FromPath(const std::filesystem::path& path);

} // namespace tarnis
