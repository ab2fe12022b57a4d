// Windows' own descriptions of its errors, for those that Tarnis has no cause of its own for.
#include "common/cause.h"

#include "common/texts.h"
#include "common/utf16.h"

#include <windows.h>

namespace tarnis {

Error windowsError(FileAction action, const std::string& path, unsigned long code)
{
    wchar_t* text = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring wide(text != nullptr ? text : L"", length);
    ::LocalFree(text);
    // The system ends its sentences with a line break, and breaks some of its longer texts into
    // lines: a failure is said on one line.
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' '))
        wide.pop_back();
    for (wchar_t& c : wide)
        c = c < L' ' ? L' ' : c;
    if (wide.empty())
        return Error(action, path, Cause::UnknownSystemError, std::to_string(code));
    return Error(action, path, Cause::SystemError, systemErrorDetail(utf8(wide), code));
}

} // namespace tarnis
