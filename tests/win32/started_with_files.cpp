// The window as Explorer starts it with files ("Open with", a drop on its icon), from another
// process as Explorer would: tarnis_started_with_files TARNIS.EXE FOLDER, where FOLDER holds a.fit,
// b.fit and sub\c.fit. Started with a.fit and b.fit (relative to FOLDER) it lists them, and its
// run writes both outputs; started with a.fit and sub\c.fit it opens empty. Either way "終了"
// ends it with 0. Exits 1, saying why, at the first difference.
#include "win32/list_box_file_list.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool holds, const char* what)
{
    if (!holds) {
        std::fprintf(stderr, "FAIL: %s\n", what);
        std::exit(1);
    }
}

// The shown window of `process`, once it has one.
HWND windowOf(DWORD process)
{
    std::pair<DWORD, HWND> found{process, nullptr};
    for (int attempt = 0; attempt < 200 && found.second == nullptr; ++attempt, ::Sleep(50)) {
        ::EnumWindows(
            [](HWND window, LPARAM data) {
                auto* f = reinterpret_cast<std::pair<DWORD, HWND>*>(data);
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                if (owner == f->first && ::IsWindowVisible(window))
                    f->second = window;
                return f->second == nullptr ? TRUE : FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
    }
    return found.second;
}

void startWith(const std::wstring& program, const std::wstring& folder, std::wstring files,
               const std::vector<std::string>& listed)
{
    std::wstring commandLine = L"\"" + program + L"\" " + files;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    check(::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.c_str(), &startup, &started),
          "the program did not start");
    const HWND window = windowOf(started.dwProcessId);
    check(window != nullptr, "no window appeared");
    tarnis::win32::ListBoxFileList list(::FindWindowExW(window, nullptr, L"ListBox", nullptr));
    check(list.allEntries() == listed, "the list holds other files than it was started with");
    if (!listed.empty()) {
        ::SendMessageW(::FindWindowExW(window, nullptr, L"Button", L"実行・保存"), BM_CLICK, 0, 0);
        for (const wchar_t* output : {L"\\a_R.fit", L"\\b_R.fit"})
            check(::GetFileAttributesW((folder + output).c_str()) != INVALID_FILE_ATTRIBUTES,
                  "the run wrote no output");
        check(list.allEntries() == std::vector<std::string>{"選択されたﾌｧｲﾙの処理を終了しました"},
              "the run did not end");
    }
    ::PostMessageW(::FindWindowExW(window, nullptr, L"Button", L"終了"), BM_CLICK, 0, 0);
    DWORD status = 1;
    check(::WaitForSingleObject(started.hProcess, 20000) == WAIT_OBJECT_0
              && ::GetExitCodeProcess(started.hProcess, &status) && status == 0,
          "終了 did not end the program with 0");
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    check(argc == 3, "usage: tarnis_started_with_files TARNIS.EXE FOLDER");
    startWith(argv[1], argv[2], L"a.fit \"b.fit\"", {"a.fit", "b.fit"});
    startWith(argv[1], argv[2], L"a.fit sub\\c.fit", {});
    std::printf(
        "started with two files of one folder, listed and ran them; with files of two folders, opened empty\n");
    return 0;
}
