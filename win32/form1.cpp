#include "win32/form1.h"

#include "win32/message_box.h"
#include "win32/open_dialog.h"
#include "common/utf16.h"
#include "window/texts.h"

#include <shellapi.h>

#include <algorithm>
#include <cstddef>
#include <utility>

namespace tarnis::win32 {
namespace {

constexpr wchar_t kClassName[] = L"TarnisForm1";
// The controls' identifiers, in the order of layout::kControls; clear of IDOK and IDCANCEL, which
// the keyboard interface sends for Return and Escape.
constexpr int kFirstControlId = 100;
// The icon in the program's resources (cmake/version.rc.in).
constexpr int kIconId = 1;
// Posted by a run's thread: the run has a call for the window's thread, or has finished.
constexpr UINT kServeRun = WM_APP + 1;

// Mouse and key input, the kinds that a run drops: in the window, the caption and the frame.
constexpr std::array<std::pair<UINT, UINT>, 3> kInput = {{{WM_KEYFIRST, WM_KEYLAST},
                                                          {WM_MOUSEFIRST, WM_MOUSELAST},
                                                          {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK}}};

bool isInput(UINT message)
{
    return std::any_of(kInput.begin(), kInput.end(), [message](const auto& range) {
        return message >= range.first && message <= range.second;
    });
}

HICON programIcon(int size)
{
    return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kIconId),
                                           IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

void registerClass(WNDPROC procedure)
{
    static const bool registered = [procedure] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = ::GetModuleHandleW(nullptr);
        windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kClassName;
        windowClass.hIcon = programIcon(::GetSystemMetrics(SM_CXICON));
        windowClass.hIconSm = programIcon(::GetSystemMetrics(SM_CXSMICON));
        return ::RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

RECT pixels(const layout::Twips& place, UINT dpi)
{
    const int d = static_cast<int>(dpi);
    const int left = layout::pixels(place.left, d);
    const int top = layout::pixels(place.top, d);
    return {left, top, left + layout::pixels(place.width, d),
            top + layout::pixels(place.height, d)};
}

HWND makeControl(HWND parent, const layout::Control& control, int id)
{
    // No button is the window's default (BS_PUSHBUTTON, not BS_DEFPUSHBUTTON). The list keeps the
    // order of its entries (no LBS_SORT), allows one selected entry, and keeps the height it is
    // given rather than a whole number of rows; a name wider than the list scrolls sideways.
    const bool button = control.kind == layout::Kind::Button;
    const DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP
                        | (button ? BS_PUSHBUTTON
                                  : WS_VSCROLL | WS_HSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT);
    return ::CreateWindowExW(button ? 0 : WS_EX_CLIENTEDGE, button ? L"BUTTON" : L"LISTBOX",
                             utf16(control.caption).c_str(), style, 0, 0, 0, 0, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleW(nullptr), nullptr);
}

std::string currentFolder()
{
    const DWORD length = ::GetCurrentDirectoryW(0, nullptr);
    std::wstring folder(length, L'\0');
    folder.resize(::GetCurrentDirectoryW(length, folder.data()));
    return utf8(folder);
}

} // namespace

Form1::Form1(std::unique_ptr<OpenFileDialog> dialog, std::unique_ptr<ErrorMessageBox> messageBox)
{
    registerClass(&Form1::procedure);
    window_ = ::CreateWindowExW(0, kClassName, utf16(texts::kWindowTitle).c_str(),
                                WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, nullptr, nullptr, ::GetModuleHandleW(nullptr), this);
    if (window_ == nullptr)
        throw std::runtime_error("the window could not be created");
    wakeUpTarget_ = window_;
    // Made in tab order, which is the order in which the keyboard interface moves between them.
    for (std::size_t i = 0; i < controls_.size(); ++i)
        controls_[i] = makeControl(window_, layout::kControls[i],
                                   kFirstControlId + static_cast<int>(i));
    ::DragAcceptFiles(window_, TRUE);
    layOut(::GetDpiForWindow(window_), true);

    dialog_ = dialog ? std::move(dialog) : std::make_unique<Win32OpenFileDialog>(window_);
    messageBox_ = messageBox ? std::move(messageBox)
                             : std::make_unique<Win32ErrorMessageBox>(window_);
    fileList_ = std::make_unique<ListBoxFileList>(control("List1"));
    logic_ = std::make_unique<Form1Logic>(*fileList_, *dialog_, *messageBox_,
                                          static_cast<RunHost&>(*this));
    logic_->load();
}

Form1::~Form1()
{
    destroying_ = true;
    logic_.reset(); // a run still going ends first, with the list still there
    if (window_ != nullptr)
        ::DestroyWindow(window_);
    if (font_ != nullptr)
        ::DeleteObject(font_);
}

void Form1::show(int showCommand)
{
    ::ShowWindow(window_, showCommand);
    ::UpdateWindow(window_);
    ::SetFocus(lastFocus_ != nullptr ? lastFocus_ : controls_.front());
}

HWND Form1::control(std::string_view name) const
{
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        if (layout::kControls[i].name == name)
            return controls_[i];
    }
    return nullptr;
}

void Form1::closeApplication()
{
    if (logic_->closeApplication())
        ::DestroyWindow(window_); // which ends the message loop
}

void Form1::queueFiles(const std::vector<std::string>& paths)
{
    logic_->queueFiles(paths, currentFolder());
}

void Form1::dispatch(MSG& message)
{
    if (busy_ && isInput(message.message))
        return;
    if (window_ != nullptr && ::IsDialogMessageW(window_, &message))
        return;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
}

void Form1::showBusy(bool busy)
{
    const HCURSOR cursor = ::LoadCursorW(nullptr, busy ? IDC_WAIT : IDC_ARROW);
    if (busy) {
        if (const HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(window_, focus))
            lastFocus_ = focus;
        busy_ = true;
        ::EnableWindow(window_, FALSE);
        ::SetCursor(cursor);
        return;
    }
    // Input made during the run and still queued is dropped, never delivered to the window ready.
    MSG message;
    for (const auto& [first, last] : kInput) {
        while (::PeekMessageW(&message, nullptr, first, last, PM_REMOVE)) {}
    }
    busy_ = false;
    ::EnableWindow(window_, TRUE);
    ::SetCursor(cursor);
    ::SetFocus(lastFocus_ != nullptr ? lastFocus_ : controls_.front());
}

void Form1::wakeUp() { ::PostMessageW(wakeUpTarget_, kServeRun, 0, 0); }

void Form1::pressed(HWND control)
{
    if (control == this->control("Command1"))
        selectFiles();
    else if (control == this->control("Command2"))
        runBatch();
    else if (control == this->control("Command3"))
        closeApplication();
}

void Form1::layOut(UINT dpi, bool resize)
{
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        const RECT place = pixels(layout::kControls[i].place, dpi);
        ::SetWindowPos(controls_[i], nullptr, place.left, place.top, place.right - place.left,
                       place.bottom - place.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    // The system's UI font at this DPI, as dialogs and message boxes use it.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi)) {
        const HFONT old = font_;
        font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
        for (const HWND control : controls_)
            ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
        if (old != nullptr)
            ::DeleteObject(old);
    }
    if (!resize)
        return;
    RECT frame = pixels({0, 0, layout::kClientWidth, layout::kClientHeight}, dpi);
    const auto style = static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_STYLE));
    const auto extended = static_cast<DWORD>(::GetWindowLongPtrW(window_, GWL_EXSTYLE));
    ::AdjustWindowRectExForDpi(&frame, style, FALSE, extended, dpi);
    ::SetWindowPos(window_, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                   SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
}

LRESULT CALLBACK Form1::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        ::SetWindowLongPtrW(
            window, GWLP_USERDATA,
            reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams));
    auto* form = reinterpret_cast<Form1*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY)
        ::SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    return form != nullptr ? form->handle(window, message, wParam, lParam)
                           : ::DefWindowProcW(window, message, wParam, lParam);
}

namespace {

// The paths of the files dropped on the window, in UTF-8; the drop is done with afterwards.
std::vector<std::string> droppedPaths(HDROP drop)
{
    std::vector<std::string> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        std::wstring path(::DragQueryFileW(drop, i, nullptr, 0) + 1, L'\0');
        path.resize(::DragQueryFileW(drop, i, path.data(), static_cast<UINT>(path.size())));
        paths.push_back(utf8(path));
    }
    ::DragFinish(drop);
    return paths;
}

} // namespace

LRESULT Form1::handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED && lParam != 0) {
            pressed(reinterpret_cast<HWND>(lParam));
        } else if (LOWORD(wParam) == IDOK) {
            // Return, which the keyboard interface turns into IDOK as there is no default button:
            // it presses the button that has the focus, and nothing elsewhere.
            pressed(::GetFocus());
        }
        return 0;
    case WM_ACTIVATE:
        // A plain window does not keep its focus while another window is active (the dialog, the
        // message box, another program): it is handed back here.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (const HWND focus = ::GetFocus(); focus != nullptr && ::IsChild(window, focus))
                lastFocus_ = focus;
        } else {
            ::SetFocus(lastFocus_ != nullptr ? lastFocus_ : controls_.front());
        }
        return 0;
    case WM_DROPFILES: queueFiles(droppedPaths(reinterpret_cast<HDROP>(wParam))); return 0;
    case WM_DPICHANGED: {
        // Moved to a monitor of another DPI: the system proposes the frame that keeps the client
        // area's size in twips.
        const auto* frame = reinterpret_cast<const RECT*>(lParam);
        ::SetWindowPos(window, nullptr, frame->left, frame->top, frame->right - frame->left,
                       frame->bottom - frame->top, SWP_NOZORDER | SWP_NOACTIVATE);
        layOut(HIWORD(wParam), false);
        fileList_->fitWidth(); // in the new font
        return 0;
    }
    case kServeRun:
        if (logic_ != nullptr) // none while the destructor tears the window down
            logic_->serveRun();
        return 0;
    case WM_SETCURSOR:
        if (busy_) {
            ::SetCursor(::LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        return ::DefWindowProcW(window, message, wParam, lParam);
    case WM_CLOSE: closeApplication(); return 0;
    case WM_DESTROY:
        window_ = nullptr;
        if (!destroying_)
            ::PostQuitMessage(0);
        return 0;
    default: return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

int runMessageLoop(Form1& form)
{
    MSG message{};
    for (;;) {
        const BOOL got = ::GetMessageW(&message, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(message.wParam);
        if (got == -1)
            return 1;
        form.dispatch(message);
    }
}

} // namespace tarnis::win32
