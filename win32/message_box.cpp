#include "win32/message_box.h"

#include "common/utf16.h"

namespace tarnis::win32 {

void Win32ErrorMessageBox::show(std::string_view title, std::string_view text)
{
    ::MessageBoxW(owner_, utf16(text).c_str(), utf16(title).c_str(), MB_OK | MB_ICONERROR);
}

} // namespace tarnis::win32
