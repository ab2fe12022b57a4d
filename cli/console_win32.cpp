// The command's console on Windows: a console window gets UTF-16 through WriteConsoleW, which shows
// Japanese whatever the console's code page is; a file or a pipe gets the UTF-8 bytes.
#include "cli/console.h"

#include <string>

#include <windows.h>

namespace tarnis::cli {

namespace {

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

void write(HANDLE handle, std::string_view text)
{
    if (text.empty())
        return;
    if (isConsole(handle)) {
        const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(length), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

class WindowsConsole : public Console {
public:
    void writeOut(std::string_view text) override { write(GetStdHandle(STD_OUTPUT_HANDLE), text); }
    void writeError(std::string_view text) override { write(GetStdHandle(STD_ERROR_HANDLE), text); }
    [[nodiscard]] bool errorIsTerminal() const override { return isConsole(GetStdHandle(STD_ERROR_HANDLE)); }
};

} // namespace

std::unique_ptr<Console> processConsole()
{
    return std::make_unique<WindowsConsole>();
}

} // namespace tarnis::cli
