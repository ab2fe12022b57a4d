#pragma once

#include "win32/list_box_file_list.h"
#include "window/form1_logic.h"
#include "window/layout.h"

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

namespace tarnis::win32 {

/// The program's only window on Windows: three buttons over the list of queued files, in the
/// Win32 API over what both windows share (Form1Logic). Laid out in twips, scaled for the DPI of
/// the monitor it is on, in the system's UI font. A run goes on a thread of its own while the
/// window, disabled under a wait cursor, keeps serving its messages (so the system never takes it
/// for hung) and drops the input made meanwhile.
class Form1 : private RunHost {
public:
    /// Creates the window, not yet shown. The dialog and the message box default to the real ones;
    /// tests hand in their own.
    explicit Form1(std::unique_ptr<OpenFileDialog> dialog = nullptr,
                   std::unique_ptr<ErrorMessageBox> messageBox = nullptr);
    ~Form1() override;
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    /// Shows the window; the keyboard focus goes to the first control in tab order.
    void show(int showCommand = SW_SHOWNORMAL);
    [[nodiscard]] HWND window() const { return window_; }
    /// The control of that name in the layout ("Command1", "List1", ...).
    [[nodiscard]] HWND control(std::string_view name) const;

    /// "ﾌｧｲﾙ選択", "実行・保存": see Form1Logic.
    void selectFiles() { logic_->selectFiles(); }
    void runBatch() { logic_->runBatch(); }
    [[nodiscard]] bool running() const { return logic_->running(); }
    /// "終了" and the close box: closes file slot 1 and the window, and ends the program's message
    /// loop with 0. Refused while a run goes: the window stays until it has ended.
    void closeApplication();
    /// Queues the files at `paths` as if they had been chosen in the dialog (see
    /// Form1Logic::queueFiles): the program's arguments, and files dropped on the window.
    void queueFiles(const std::vector<std::string>& paths);

    /// Serves one message of the thread's queue as the program's loop does: the window's keyboard
    /// interface first (Tab between the controls; Return and Space press the focused button).
    /// During a run, mouse and key input is dropped.
    void dispatch(MSG& message);

    [[nodiscard]] const SelectionState& selection() const { return logic_->selection(); }
    [[nodiscard]] const RunValues& runValues() const { return logic_->runValues(); }
    [[nodiscard]] FileSlot& fileSlot() { return logic_->fileSlot(); }

private:
    void showBusy(bool busy) override;
    void wakeUp() override;
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void pressed(HWND control);
    /// Places the controls and sets their font for `dpi`; with `resize`, sizes the window too.
    void layOut(UINT dpi, bool resize);

    HWND window_ = nullptr;
    std::array<HWND, layout::kControls.size()> controls_{};
    HFONT font_ = nullptr;
    HWND lastFocus_ =
        nullptr; // the control to give the focus back to when the window is active again
    bool destroying_ = false;     // by the destructor, not by the user: the program does not end
    bool busy_ = false;           // a run goes: input is dropped, the cursor is the wait cursor
    HWND wakeUpTarget_ = nullptr; // the window, for the run's thread, which never sees it change
    std::unique_ptr<OpenFileDialog> dialog_;
    std::unique_ptr<ErrorMessageBox> messageBox_;
    std::unique_ptr<ListBoxFileList> fileList_;
    std::unique_ptr<Form1Logic> logic_;
};

/// Serves the thread's messages until the window ends the program; returns the program's exit code.
int runMessageLoop(Form1& form);

} // namespace tarnis::win32
