// The system's half of the expansion of wildcards: the folder's listing and the folding of case.
#include "cli/wildcards.h"
#include "common/utf16.h"

#include <windows.h>

#include <string>

namespace tarnis::cli {
namespace {

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
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileExW(utf16(pattern).c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, 0);
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
