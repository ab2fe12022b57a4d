// Tarnis on Windows: the native window. Files given to the program (Explorer's "Open with", a drop
// on its icon) are queued as if they had been chosen in the dialog.
#include "win32/form1.h"
#include "common/utf16.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>
#include <vector>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int showCommand)
{
    // The buttons and the list of common controls 6, which the manifest asks for.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    ::InitCommonControlsEx(&controls);
    // A run keeps the window from its messages; the list it repaints at each file must stay on the
    // screen rather than be covered by the system's "not responding" copy of the window.
    ::DisableProcessWindowsGhosting();

    std::vector<std::string> files;
    int count = 0;
    if (wchar_t** arguments = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i)
            files.push_back(tarnis::utf8(arguments[i]));
        ::LocalFree(arguments);
    }

    tarnis::win32::Form1 form;
    if (!files.empty())
        form.queueFiles(files);
    form.show(showCommand);
    return tarnis::win32::runMessageLoop(form);
}
