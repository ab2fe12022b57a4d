#include "win32/message_box.h"

#include "win32/wide.h"

namespace tarnis::win32 {

void Win32ErrorMessageBox::show(std::string_view title, std::string_view text)
{
    ::MessageBoxW(owner_, wide(text).c_str(), wide(title).c_str(), MB_OK | MB_ICONERROR);
}

} // namespace tarnis::win32
