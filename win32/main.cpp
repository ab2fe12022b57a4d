// Tarnis on Windows: the native window. Files given to the program (Explorer's "Open with", a drop
// on its icon) are queued as if they had been chosen in the dialog.
#include "common/utf16.h"
#include "win32/form1.h"
#include "window/arguments.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Writes `text` where a program of the console would: to its output where it was redirected, or
// else to the console of the program that started it, if any. A program of the GUI subsystem has
// neither by itself.
void print(std::string_view text)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS))
            return;
        out = ::CreateFileW(L"CONOUT$", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode)) {
        const std::wstring wide = tarnis::utf16(text);
        ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    } else {
        ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand)
{
    std::vector<std::string> arguments;
    int count = 0;
    if (wchar_t** given = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            arguments.push_back(tarnis::utf8(given[i]));
        ::LocalFree(given);
    }
    const tarnis::Start start = tarnis::readArguments(arguments);
    switch (start.action) {
    case tarnis::StartAction::PrintHelp: print(tarnis::helpText()); return 0;
    case tarnis::StartAction::PrintVersion: print(tarnis::versionText()); return 0;
    case tarnis::StartAction::OpenWindow: break;
    }

    // The buttons and the list of common controls 6, which the manifest asks for.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);

    tarnis::win32::Form1 form;
    form.show(showCommand);
    // Over the window, so that a refusal's message box has it to stand on.
    if (!start.files.empty())
        form.queueFiles(start.files);
    return tarnis::win32::runMessageLoop(form);
}
