// The command's console on Windows: a console window gets UTF-16 through WriteConsoleW, which shows
// Japanese whatever the console's code page is; a file or a pipe gets the UTF-8 bytes.
#include "cli/console.h"

#include "cli/texts.h"
#include "common/utf16.h"

#include <cerrno>
#include <string>

#include <windows.h>

namespace tarnis::cli {

namespace {

bool isConsole(HANDLE handle)
{
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

// Returns 0, or the C library's error number for the system's error.
int write(HANDLE handle, std::string_view text)
{
    if (text.empty())
        return 0;
    bool written = false;
    if (isConsole(handle)) {
        const std::wstring wide = utf16(text);
        DWORD count = 0;
        written = WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &count,
                                nullptr)
                  != 0;
    } else {
        DWORD count = 0;
        written = WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &count, nullptr)
                      != 0
                  && count == text.size();
    }
    if (written)
        return 0;
    switch (GetLastError()) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NO_DATA: // the pipe's reader is gone
    case ERROR_BROKEN_PIPE: return EPIPE;
    default: return EIO;
    }
}

class WindowsConsole : public Console {
public:
    int writeOut(std::string_view text) override
    {
        return write(GetStdHandle(STD_OUTPUT_HANDLE), text);
    }
    void writeError(std::string_view text) override
    {
        (void)write(GetStdHandle(STD_ERROR_HANDLE), text);
    }
    [[nodiscard]] bool errorIsTerminal() const override
    {
        return isConsole(GetStdHandle(STD_ERROR_HANDLE));
    }
};

} // namespace

std::unique_ptr<Console> processConsole() { return std::make_unique<WindowsConsole>(); }

Language userLanguage()
{
    if (const auto language = languageOfEnvironment())
        return *language;
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese
                                                                      : Language::English;
}

std::size_t spareFileDescriptors(std::size_t atMost) { return atMost; }

} // namespace tarnis::cli
