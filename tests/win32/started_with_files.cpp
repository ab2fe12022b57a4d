// The window as Explorer starts it with files ("Open with", a drop on its icon), from another
// process as Explorer would: tarnis_started_with_files TARNIS.EXE FOLDER, where FOLDER holds a.fit,
// b.fit and sub\c.fit. Started with a.fit and b.fit (relative to FOLDER) it lists them, and its
// run writes both outputs; started with a.fit and sub\c.fit it says in a message box that they
// must come from one folder, and opens empty. Either way "終了" ends it with 0. Exits 1, saying
// why, at the first difference.
#include "win32/list_box_file_list.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
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

// The shown window of `process` of the class `className`, once it has one.
HWND windowOf(DWORD process, const wchar_t* className)
{
    struct Search {
        DWORD process;
        const wchar_t* className;
        HWND found;
    } search{process, className, nullptr};
    for (int attempt = 0; attempt < 200 && search.found == nullptr; ++attempt, ::Sleep(50)) {
        ::EnumWindows(
            [](HWND window, LPARAM data) {
                auto* s = reinterpret_cast<Search*>(data);
                DWORD owner = 0;
                ::GetWindowThreadProcessId(window, &owner);
                wchar_t name[64] = {};
                ::GetClassNameW(window, name, 64);
                if (owner == s->process && ::IsWindowVisible(window)
                    && std::wstring(name) == s->className)
                    s->found = window;
                return s->found == nullptr ? TRUE : FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
    }
    return search.found;
}

// Whether `holds` comes true within ten seconds.
bool within(const std::function<bool()>& holds)
{
    for (int attempt = 0; attempt < 200; ++attempt, ::Sleep(50)) {
        if (holds())
            return true;
    }
    return false;
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
    const HWND window = windowOf(started.dwProcessId, L"TarnisForm1");
    check(window != nullptr, "no window appeared");
    tarnis::win32::ListBoxFileList list(::FindWindowExW(window, nullptr, L"ListBox", nullptr));
    if (listed.empty()) {
        const HWND box = windowOf(started.dwProcessId, L"#32770");
        check(box != nullptr, "no message box said why nothing was queued");
        wchar_t text[256] = {};
        ::GetDlgItemTextW(box, 0xFFFF, text, 256); // the message box's text
        check(std::wstring(text)
                      == L"選択されたファイルが複数のフォルダーにあります。\r\n"
                         L"一度に処理できるのは一つのフォルダーのファイルだけです。"
                         L"同じフォルダーのファイルを選んでください。"
                  || std::wstring(text)
                         == L"選択されたファイルが複数のフォルダーにあります。\n"
                            L"一度に処理できるのは一つのフォルダーのファイルだけです。"
                            L"同じフォルダーのファイルを選んでください。",
              "the message box does not say that the files must come from one folder");
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
        check(within([box] { return !::IsWindow(box); }), "the message box did not close");
    }
    check(list.allEntries() == listed, "the list holds other files than it was started with");
    if (!listed.empty()) {
        // The click returns at once; the run goes on while the window serves its messages.
        ::SendMessageW(::FindWindowExW(window, nullptr, L"Button", L"実行・保存"), BM_CLICK, 0, 0);
        check(within([&list] {
                  return list.allEntries()
                         == std::vector<std::string>{"選択されたﾌｧｲﾙの処理を終了しました"};
              }),
              "the run did not end");
        for (const wchar_t* output : {L"\\a_R.fit", L"\\b_R.fit"})
            check(::GetFileAttributesW((folder + output).c_str()) != INVALID_FILE_ATTRIBUTES,
                  "the run wrote no output");
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
        "started with two files of one folder, listed and ran them; with files of two folders, said so and opened empty\n");
    return 0;
}
