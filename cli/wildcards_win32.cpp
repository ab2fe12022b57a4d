// The system's half of the expansion of wildcards: the folder's listing and the folding of case.
#include "cli/wildcards.h"

#include <windows.h>

#include <string>

namespace tarnis::cli {
namespace {

std::wstring utf16(const std::string& text)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string utf8(const wchar_t* text)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length - 1 : 0), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

// The system's upper case of a character, as file names are compared; characters outside the
// basic plane have no case.
char32_t upperCase(char32_t c)
{
    if (c > 0xFFFF)
        return c;
    wchar_t unit = static_cast<wchar_t>(c);
    ::CharUpperBuffW(&unit, 1);
    return unit;
}

// The files (not folders, not hidden) that the system lists for `pattern`.
std::vector<std::string> listed(const std::string& pattern)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found {};
    const HANDLE search = ::FindFirstFileExW(utf16(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN)) == 0)
            names.push_back(utf8(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

} // namespace

std::vector<std::string> expandWildcardsOfWindows(const std::vector<std::string>& arguments)
{
    return expandWildcards(arguments, listed, upperCase);
}

} // namespace tarnis::cli
