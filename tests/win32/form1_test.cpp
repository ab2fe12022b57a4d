// The native window as the user drives it, under Wine: keys through the window's own keyboard
// interface, clicks as the buttons send them, a scripted dialog and a message box that records;
// and once through the real common file dialog, which a second thread fills in and confirms.
#include "win32/form1.h"

#include "common/file_names.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/scratch_dir.h"
#include "tests/window/fakes.h"
#include "win32/open_dialog.h"
#include "common/utf16.h"

#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace tarnis::win32 {
namespace {

using namespace std::string_literals;
using Entries = std::vector<std::string>;

const std::string kDone = "選択されたﾌｧｲﾙの処理を終了しました";

std::string textOf(HWND window)
{
    wchar_t text[256] = {};
    ::GetWindowTextW(window, text, 256);
    return utf8(text);
}

std::string classOf(HWND window)
{
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    return utf8(name);
}

// Where a control lies in its window's client area: left, top, width, height.
std::vector<long> placeOf(HWND control)
{
    RECT r;
    ::GetWindowRect(control, &r);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}

class Window : public ::testing::Test {
public:
    Window()
        : form(std::make_unique<test::ScriptedDialog>(script),
               std::make_unique<test::RecordingMessageBox>(messages))
    {
        form.show();
        pump();
    }
    void TearDown() override
    {
        EXPECT_TRUE(script.empty()) << "the dialog was shown fewer times than scripted";
    }

    HWND control(const char* name) { return form.control(name); }
    // Serves what is queued, as the program's loop does; a request to end the program is noted.
    void pump()
    {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                exitCode = static_cast<int>(message.wParam);
            else
                form.dispatch(message);
        }
    }
    // Serves the window's messages, as the program's loop does, until its run has ended; `during`
    // is called between messages while it goes.
    void waitForRun(const std::function<void()>& during = [] {})
    {
        for (int i = 0; i < 6000 && form.running(); ++i) {
            during();
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            pump();
        }
        ASSERT_FALSE(form.running());
    }
    // A key pressed and released where the keyboard focus is, as the keyboard delivers it.
    void key(WPARAM virtualKey)
    {
        const HWND focus = ::GetFocus();
        const LPARAM scan = static_cast<LPARAM>(
                                ::MapVirtualKeyW(static_cast<UINT>(virtualKey), MAPVK_VK_TO_VSC))
                            << 16;
        ::PostMessageW(focus, WM_KEYDOWN, virtualKey, scan | 1);
        ::PostMessageW(focus, WM_KEYUP, virtualKey, scan | 1 | 0xC0000000);
        pump();
    }
    Entries entries() { return ListBoxFileList(control("List1")).allEntries(); }
    void choose(const std::string& answer)
    {
        script.push_back(test::choose(answer));
        ::SendMessageW(control("Command1"), BM_CLICK, 0, 0);
    }

    std::deque<test::DialogAnswer> script;
    std::vector<test::ShownMessage> messages;
    Form1 form;
    std::optional<int> exitCode;
};

// At 96 DPI, 15 twips to the pixel; moved to a monitor of 144 DPI, half as large again, in the
// system's UI font for that DPI.
TEST_F(Window, has_its_controls_where_they_belong_in_the_system_font_at_every_dpi)
{
    EXPECT_EQ(textOf(form.window()), "Tarnis Ver3.0");
    RECT client;
    ::GetClientRect(form.window(), &client);
    EXPECT_EQ(std::make_pair(client.right, client.bottom), std::make_pair(245L, 378L));
    EXPECT_NE(::GetClassLongPtrW(form.window(), GCLP_HICON), 0) << "the program's icon";
    EXPECT_NE(::GetWindowLongPtrW(form.window(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0)
        << "files can be dropped on it";

    struct Expected {
        const char* name;
        const char* kind;
        const char* caption;
        std::vector<long> at96;
        std::vector<long> at144;
    };
    const std::vector<Expected> controls = {
        {"Command1", "Button", "ﾌｧｲﾙ選択", {8, 8, 65, 25}, {12, 12, 98, 38}},
        {"Command2", "Button", "実行・保存", {80, 8, 65, 25}, {120, 12, 98, 38}},
        {"Command3", "Button", "終了", {160, 8, 73, 25}, {240, 12, 110, 38}},
        {"List1", "ListBox", "", {8, 40, 225, 328}, {12, 60, 338, 492}}};
    for (const UINT dpi : {96u, 144u}) {
        if (dpi != 96) {
            RECT frame{0, 0, 400, 620};
            ::SendMessageW(form.window(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                           reinterpret_cast<LPARAM>(&frame));
        }
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof metrics;
        ASSERT_TRUE(::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics,
                                                 0, dpi));
        for (const Expected& c : controls) {
            const HWND h = control(c.name);
            EXPECT_EQ(classOf(h), c.kind) << c.name;
            EXPECT_EQ(textOf(h), c.caption) << c.name;
            EXPECT_EQ(placeOf(h), dpi == 96 ? c.at96 : c.at144) << c.name << " at " << dpi;
            LOGFONTW font{};
            ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(h, WM_GETFONT, 0, 0)), sizeof font,
                         &font);
            EXPECT_EQ(std::wstring(font.lfFaceName), std::wstring(metrics.lfMessageFont.lfFaceName))
                << c.name;
            EXPECT_EQ(font.lfHeight, metrics.lfMessageFont.lfHeight) << c.name << " at " << dpi;
        }
    }
    const auto style = [&](const char* name) {
        return ::GetWindowLongPtrW(control(name), GWL_STYLE);
    };
    for (const char* button : {"Command1", "Command2", "Command3"})
        EXPECT_EQ(style(button) & BS_TYPEMASK, BS_PUSHBUTTON) << button << " is no default button";
    EXPECT_EQ(style("List1") & (LBS_SORT | LBS_MULTIPLESEL | LBS_EXTENDEDSEL), 0)
        << "one entry selected at most, in the order given";
}

TEST_F(Window, focus_starts_on_Command1_and_tab_goes_to_Command2_List1_Command3)
{
    std::vector<HWND> order{::GetFocus()};
    for (int i = 0; i < 4; ++i) {
        key(VK_TAB);
        order.push_back(::GetFocus());
    }
    EXPECT_EQ(order, (std::vector<HWND>{control("Command1"), control("Command2"), control("List1"),
                                        control("Command3"), control("Command1")}));
}

struct KeyCase {
    std::string label;
    const char* focus;
    WPARAM key;
    Entries entriesAfter; // after choosing a.fit in a folder that does not exist
    std::size_t messagesAfter;
};

class Key : public Window, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Key, presses_the_focused_button_and_nothing_else)
{
    const KeyCase& c = GetParam();
    choose("C:\\no such folder\0a.fit"s);
    ::SendMessageW(control("List1"), LB_SETCURSEL, 0, 0);
    ::SetFocus(control(c.focus));
    if (c.focus == std::string("Command1"))
        script.push_back(test::kCancel); // TearDown checks that it was shown

    key(c.key);
    waitForRun();

    EXPECT_EQ(entries(), c.entriesAfter);
    EXPECT_EQ(messages.size(), c.messagesAfter);
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Form1, Key,
                         ::testing::Values(KeyCase{"Return_on_Command1", "Command1", VK_RETURN, {}, 0},
                                           KeyCase{"Space_on_Command1", "Command1", VK_SPACE, {}, 0},
                                           KeyCase{"Return_on_Command2", "Command2", VK_RETURN, {"a.fit"}, 1},
                                           KeyCase{"Return_on_List1", "List1", VK_RETURN, {"a.fit"}, 0}),
                         [](const auto& info) { return info.param.label; });
// clang-format on

// How many entries the list holds whenever it paints during a run, noted from inside its own
// window procedure; one count for a series of paints.
std::vector<LRESULT>* paintedCounts = nullptr;
WNDPROC listProcedure = nullptr;

LRESULT CALLBACK notingPaints(HWND list, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_PAINT && paintedCounts != nullptr) {
        const LRESULT count = ::SendMessageW(list, LB_GETCOUNT, 0, 0);
        if (paintedCounts->empty() || paintedCounts->back() != count)
            paintedCounts->push_back(count);
    }
    return ::CallWindowProcW(listProcedure, list, message, wParam, lParam);
}

bool waitCursorShown(HWND window)
{
    ::SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window),
                   MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
    return ::GetCursor() == ::LoadCursorW(nullptr, IDC_WAIT);
}

// A run of many files goes on while the window serves its messages: disabled under a wait cursor,
// it paints the queue shrinking, and a click, Return and the close box made meanwhile are dropped
// rather than served once the run has ended (as a second run, which would take the completion
// message for a file name). A failure is shown in three lines.
TEST_F(Window, runs_the_chosen_files_on_while_it_paints_its_queue_and_drops_input_made_meanwhile)
{
    const test::ScratchDir scratch;
    Entries names{"a.fit", "星雲.FIT"};
    for (int i = 0; i < 10; ++i)
        names.push_back("light" + std::to_string(i) + ".fit");
    std::string answer = scratch.dirPath();
    for (const std::string& name : names) {
        test::writeFile(scratch.file(name), test::imageWithDropouts(3, {2880 + 12160 + 100}, 1));
        answer += '\0' + name;
    }
    choose(answer);
    std::vector<LRESULT> painted;
    paintedCounts = &painted;
    listProcedure = reinterpret_cast<WNDPROC>(::SetWindowLongPtrW(
        control("List1"), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&notingPaints)));
    const HWND run = control("Command2");
    ::SetFocus(run);

    ::PostMessageW(run, BM_CLICK, 0, 0);
    // Made while the run goes, and queued behind its start.
    ::PostMessageW(run, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    ::PostMessageW(run, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    ::PostMessageW(run, WM_KEYDOWN, VK_RETURN, 1);
    ::PostMessageW(run, WM_KEYUP, VK_RETURN, 1 | 0xC0000000);
    ::PostMessageW(form.window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    pump();
    EXPECT_TRUE(form.running()) << "the click returns while the run goes on";
    bool busy = true;
    int served = 0;
    waitForRun([&] {
        busy = busy && !::IsWindowEnabled(form.window()) && waitCursorShown(form.window());
        ++served;
    });
    paintedCounts = nullptr;

    std::vector<LRESULT> shrinking;
    for (auto left = static_cast<LRESULT>(names.size()); left > 0; --left)
        shrinking.push_back(left);
    painted.resize(std::min(painted.size(), shrinking.size())); // the completion message follows
    EXPECT_EQ(painted, shrinking);
    EXPECT_GT(served, 1) << "the window served its messages during the run";
    EXPECT_TRUE(busy);
    EXPECT_EQ(entries(), Entries{kDone});
    EXPECT_TRUE(messages.empty()) << messages.front().text;
    for (const std::string& name : names)
        EXPECT_TRUE(
            std::filesystem::exists(scratch.file(name.substr(0, name.size() - 4) + "_R.fit")));
    EXPECT_TRUE(::IsWindow(form.window()) && ::IsWindowEnabled(form.window()));
    EXPECT_FALSE(waitCursorShown(form.window()));
    EXPECT_EQ(::GetFocus(), run);

    ::SendMessageW(run, BM_CLICK, 0, 0); // the completion message taken for a name
    waitForRun();
    EXPECT_EQ(messages,
              (std::vector<test::ShownMessage>{
                  {"Tarnis Ver3.0", "ファイルを読み込めませんでした。\n" + scratch.dirPath() + kDone
                                        + "\nファイルが見つかりません。"}}));
}

// Files dragged from Explorer and dropped on the window, as the shell hands them over; a name wider
// than the list can be scrolled to.
TEST_F(Window, files_dropped_on_the_window_are_queued_as_if_chosen)
{
    for (
        const auto& [files, expected] : std::vector<std::pair<std::wstring, Entries>>{
            {L"C:\\data\\b.fit\0C:\\data\\Light_M42_300.0s_Bin1_gain100_20261206-221503_-10.0C_0001.fit\0"s,
             {"b.fit", "Light_M42_300.0s_Bin1_gain100_20261206-221503_-10.0C_0001.fit"}},
            {L"C:\\data\\a.fit\0C:\\other\\b.fit\0"s, // refused with a message, the list kept
             {"b.fit", "Light_M42_300.0s_Bin1_gain100_20261206-221503_-10.0C_0001.fit"}}}) {
        const HGLOBAL drop = ::GlobalAlloc(GHND, sizeof(DROPFILES)
                                                     + (files.size() + 1) * sizeof(wchar_t));
        auto* header = static_cast<DROPFILES*>(::GlobalLock(drop));
        header->pFiles = sizeof(DROPFILES);
        header->fWide = TRUE;
        std::memcpy(header + 1, files.c_str(), files.size() * sizeof(wchar_t));
        ::GlobalUnlock(drop);
        ::PostMessageW(form.window(), WM_DROPFILES, reinterpret_cast<WPARAM>(drop), 0);
        pump();
        EXPECT_EQ(entries(), expected);
        RECT inside;
        ::GetClientRect(control("List1"), &inside);
        EXPECT_GT(::SendMessageW(control("List1"), LB_GETHORIZONTALEXTENT, 0, 0), inside.right)
            << "scrolls to a long name";
    }
    EXPECT_EQ(form.selection().dirPath, "C:\\data\\");
    EXPECT_EQ(messages.size(), 1u) << "files of two folders are refused with a message";
}

TEST(Form1, Command3_and_the_close_box_close_file_slot_1_and_the_window_and_end_the_program)
{
    const test::ScratchDir scratch;
    test::writeFile(scratch.file("open.fit"), test::Bytes(10, 1));
    for (const bool closeBox : {false, true}) {
        std::deque<test::DialogAnswer> script;
        std::vector<test::ShownMessage> messages;
        Form1 form(std::make_unique<test::ScriptedDialog>(script),
                   std::make_unique<test::RecordingMessageBox>(messages));
        form.show();
        form.fileSlot().openForReading(scratch.file("open.fit").string());
        const HWND window = form.window();
        if (closeBox)
            ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            ::PostMessageW(form.control("Command3"), BM_CLICK, 0, 0);

        EXPECT_EQ(runMessageLoop(form), 0) << (closeBox ? "close box" : "Command3");
        EXPECT_FALSE(::IsWindow(window) || form.fileSlot().isOpen());
        EXPECT_TRUE(messages.empty());
    }
}

// The real common dialog, which a second thread finds, fills in and confirms as a user would.
class CommonDialog : public ::testing::Test {
protected:
    CommonDialog()
    {
        for (const char* name : {"a.fit", "b.fit"})
            test::writeFile(scratch.file(name), test::Bytes(4, 1));
        // It opens in the current folder, having never been used by this program.
        ::SetCurrentDirectoryW(utf16(scratch.dirPath()).c_str());
    }
    ~CommonDialog() override
    {
        ::SetCurrentDirectoryW(utf16(std::filesystem::temp_directory_path().string()).c_str());
    }

    // Shows `dialog`; once it shows, notes its filters, whether the read-only box shows and whether
    // its list of files takes several, and types `typed` as the file name and confirms.
    // With `folderFirst`, that folder's name is typed and confirmed first, and the dialog browses
    // into it.
    std::string showAndType(Win32OpenFileDialog& dialog, const wchar_t* typed,
                            const wchar_t* folderFirst = nullptr)
    {
        std::atomic<bool> done{false};
        std::thread user([&] {
            for (int i = 0; i < 400 && !done; ++i) {
                const HWND shown = ::FindWindowW(L"#32770", nullptr);
                if (shown == nullptr || !::IsWindowVisible(shown)) {
                    ::Sleep(25);
                    continue;
                }
                const HWND filterBox = ::GetDlgItem(shown, cmb1);
                const auto count = static_cast<int>(::SendMessageW(filterBox, CB_GETCOUNT, 0, 0));
                for (int item = 0; item < count; ++item) {
                    std::wstring text(256, L'\0');
                    text.resize(static_cast<std::size_t>(
                        ::SendMessageW(filterBox, CB_GETLBTEXT, static_cast<WPARAM>(item),
                                       reinterpret_cast<LPARAM>(text.data()))));
                    filters.push_back(utf8(text));
                }
                chosenFilter = static_cast<int>(::SendMessageW(filterBox, CB_GETCURSEL, 0, 0));
                readOnlyBoxShown = ::IsWindowVisible(::GetDlgItem(shown, chx1)) != FALSE;
                const HWND files = ::FindWindowExW(
                    ::FindWindowExW(shown, nullptr, L"SHELLDLL_DefView", nullptr), nullptr,
                    L"SysListView32", nullptr);
                oneFileAtATime = files == nullptr
                                 || (::GetWindowLongPtrW(files, GWL_STYLE) & LVS_SINGLESEL) != 0;
                HWND name = ::GetDlgItem(shown, cmb13);
                name = name != nullptr ? name : ::GetDlgItem(shown, edt1);
                if (folderFirst != nullptr) {
                    ::SetWindowTextW(name, folderFirst);
                    ::PostMessageW(shown, WM_COMMAND, IDOK, 0);
                    for (int j = 0; j < 400; ++j, ::Sleep(25)) { // until it shows that folder
                        wchar_t folder[MAX_PATH] = {};
                        ::SendMessageW(shown, CDM_GETFOLDERPATH, MAX_PATH,
                                       reinterpret_cast<LPARAM>(folder));
                        if (std::wstring(folder).ends_with(folderFirst))
                            break;
                    }
                }
                ::SetWindowTextW(name, typed);
                ::PostMessageW(shown, WM_COMMAND, IDOK, 0);
                return;
            }
        });
        std::string answer;
        try {
            answer = dialog.showOpen();
        } catch (const TooManyFilesChosen&) {
            answer = "too many";
        } catch (const DialogCancelled&) {
            answer = "cancelled";
        }
        done = true;
        user.join();
        return answer;
    }

    test::ScratchDir scratch;
    std::vector<std::string> filters;
    int chosenFilter = -1;
    bool readOnlyBoxShown = true;
    bool oneFileAtATime = true;
};

TEST_F(
    CommonDialog,
    answers_with_the_folder_and_the_names_under_the_fit_filter_keeps_the_current_folder_and_refuses_an_answer_too_long)
{
    Win32OpenFileDialog dialog(nullptr);
    const std::string answer = showAndType(dialog, L"\"a.fit\" \"b.fit\"");

    const std::string folder = scratch.dirPath().substr(0, scratch.dirPath().size() - 1);
    EXPECT_EQ(answer, folder + '\0' + "a.fit" + '\0' + "b.fit");
    EXPECT_EQ(filters,
              (std::vector<std::string>{"すべてのファイル (*.*)", "fit ファイル (*.fit)"}));
    EXPECT_EQ(chosenFilter, 1) << "the .fit filter chosen";
    EXPECT_FALSE(readOnlyBoxShown);
    EXPECT_FALSE(oneFileAtATime);

    // A file of a folder browsed into: the program's current folder stays where it was, so that
    // the card or stick the file is on can be ejected.
    std::filesystem::create_directory(scratch.file("sub"));
    test::writeFile(scratch.file("sub/c.fit"), test::Bytes(4, 1));
    EXPECT_EQ(showAndType(dialog, L"c.fit", L"sub"), scratch.dirPath() + "sub\\c.fit");
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::current_path(), scratch.path()));

    // Room for less than the full path of the one file chosen.
    Win32OpenFileDialog tooSmall(nullptr, folder.size() + 4);
    EXPECT_EQ(showAndType(tooSmall, L"a.fit"), "too many");
}

// Asked for its help or its version, the program prints it where its output goes and ends with 0,
// without a window.
TEST(Program, prints_its_help_or_its_version_and_ends_without_a_window)
{
    const test::ScratchDir scratch;
    for (const auto& [argument, firstLine] : std::vector<std::pair<std::string, std::string>>{
             {"--help", "Usage: tarnis [OPTION]... [FILE]..."}, {"-V", "tarnis 3.0"}}) {
        const test::ProgramResult result = test::runProgram(TARNIS_PROGRAM, {argument},
                                                            scratch.path());
        EXPECT_EQ(result.exitStatus, 0) << argument;
        EXPECT_EQ(result.out.substr(0, result.out.find('\n')), firstLine);
    }
}

} // namespace
} // namespace tarnis::win32
