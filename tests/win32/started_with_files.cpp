// The window as Explorer starts it with files ("Open with", a drop on its icon), from another
// process as Explorer would: tarnis_started_with_files TARNIS.EXE FOLDER, where FOLDER holds a.fit,
// b.fit and sub\c.fit. Started with a.fit and b.fit (relative to FOLDER) it lists them, and its
// run writes both outputs; started with a.fit and sub\c.fit it opens empty. Either way "終了"
// ends it with 0. Prints what it found and exits 1 on the first difference.
#include "win32/wide.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using tarnis::win32::utf8;

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
    std::exit(1);
}

struct Found {
    DWORD process;
    HWND window;
};

HWND windowOf(DWORD process)
{
    Found found{process, nullptr};
    for (int attempt = 0; attempt < 200 && found.window == nullptr; ++attempt) {
        ::EnumWindows([](HWND window, LPARAM data) {
            auto* f = reinterpret_cast<Found*>(data);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner != f->process || !::IsWindowVisible(window))
                return TRUE;
            f->window = window;
            return FALSE;
        }, reinterpret_cast<LPARAM>(&found));
        ::Sleep(50);
    }
    return found.window;
}

std::vector<std::string> entries(HWND list)
{
    std::vector<std::string> all;
    const auto count = static_cast<int>(::SendMessageW(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        wchar_t text[512] = {};
        ::SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        all.push_back(utf8(text));
    }
    return all;
}

std::string joined(const std::vector<std::string>& texts)
{
    std::string all;
    for (const std::string& text : texts)
        all += "[" + text + "]";
    return all;
}

void startWith(const std::wstring& program, const std::wstring& folder, const std::wstring& files, const std::vector<std::string>& listed)
{
    std::wstring commandLine = L"\"" + program + L"\" " + files;
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &started))
        fail("the program did not start");
    const HWND window = windowOf(started.dwProcessId);
    if (window == nullptr)
        fail("no window appeared");
    const HWND list = ::FindWindowExW(window, nullptr, L"ListBox", nullptr);
    if (entries(list) != listed)
        fail("the list holds " + joined(entries(list)) + ", not " + joined(listed));
    if (!listed.empty()) {
        ::SendMessageW(::FindWindowExW(window, nullptr, L"Button", L"実行・保存"), BM_CLICK, 0, 0);
        for (const wchar_t* output : {L"a_R.fit", L"b_R.fit"}) {
            if (::GetFileAttributesW((folder + L"\\" + output).c_str()) == INVALID_FILE_ATTRIBUTES)
                fail("the run wrote no " + utf8(output));
        }
        if (entries(list) != std::vector<std::string>{"選択されたﾌｧｲﾙの処理を終了しました"})
            fail("after the run the list holds " + joined(entries(list)));
    }
    ::PostMessageW(::FindWindowExW(window, nullptr, L"Button", L"終了"), BM_CLICK, 0, 0);
    DWORD status = 1;
    if (::WaitForSingleObject(started.hProcess, 20000) != WAIT_OBJECT_0 || !::GetExitCodeProcess(started.hProcess, &status) || status != 0)
        fail("終了 did not end the program with 0");
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    std::printf("started with %s: listed %s\n", utf8(files).c_str(), joined(listed).c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        fail("usage: tarnis_started_with_files TARNIS.EXE FOLDER");
    startWith(argv[1], argv[2], L"a.fit \"b.fit\"", {"a.fit", "b.fit"});
    startWith(argv[1], argv[2], L"a.fit sub\\c.fit", {});
    return 0;
}
