#pragma once

#include "common/file_list.h"
#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/batch.h"

#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarnis {

/// Raised by an open-file dialog that the user cancelled. The selection expects it and ends
/// quietly; nothing else is meant to see it.
class DialogCancelled : public std::runtime_error {
public:
    DialogCancelled() : std::runtime_error("the open-file dialog was cancelled") {}
};

/// Raised by an open-file dialog that could not hand back every file the user chose. The selection
/// says so and ends as a cancelled one does: a part of the choice must never be taken for all of it.
class TooManyFilesChosen : public std::runtime_error {
public:
    TooManyFilesChosen()
        : std::runtime_error("the open-file dialog's answer did not fit its buffer")
    {
    }
};

/// The open-file dialog as the selection sees it: shown modally, answering with one full path, or
/// with the folder and then the chosen names in the dialog's order, all joined by U+0000 (UTF-8).
/// Cancelling throws DialogCancelled.
class OpenFileDialog {
public:
    virtual ~OpenFileDialog() = default;
    [[nodiscard]] virtual std::string showOpen() = 0;
};

/// A modal message that the user acknowledges, such as the description of a failed run. UTF-8.
class ErrorMessageBox {
public:
    virtual ~ErrorMessageBox() = default;
    virtual void show(std::string_view title, std::string_view text) = 0;
};

/// The window as a run needs it. A run goes on a thread of its own, so that the window keeps
/// serving its messages (it repaints, and the system never takes it for hung), while the window
/// refuses every input until it ends.
class RunHost {
public:
    virtual ~RunHost() = default;
    /// Shows the window busy (a wait cursor, its buttons disabled, input dropped rather than kept
    /// for later), or ready again once the run has ended. On the user-interface thread.
    virtual void showBusy(bool busy) = 0;
    /// Asks the user-interface thread to call Form1Logic::serveRun() soon. Called from the run's
    /// thread; returns at once.
    virtual void wakeUp() = 0;
};

/// What the program's window does, whichever window system draws it: the selection, the run and
/// the end, over the window's list, its open-file dialog and its message box. It owns everything
/// the program keeps between clicks (the selection, the run's values, file slot 1). Each window
/// calls it from the handlers of its buttons, on its user-interface thread. While a run goes,
/// everything else is refused: one thing happens at a time, in the order the user asked for it.
class Form1Logic {
public:
    Form1Logic(FileList& fileList, OpenFileDialog& dialog, ErrorMessageBox& messageBox,
               RunHost& host);
    /// Waits for a run that is still going, serving its calls on this thread.
    ~Form1Logic();
    Form1Logic(const Form1Logic&) = delete;
    Form1Logic& operator=(const Form1Logic&) = delete;

    /// Loading the window: the list starts empty.
    void load();
    /// "ﾌｧｲﾙ選択": empties the list and queues the files chosen in the open-file dialog. A
    /// cancelled or refused choice ends it silently, the list left empty and the previous
    /// selection's folder and count kept; a choice too large for the dialog to hand back is said.
    void selectFiles();
    /// "実行・保存": starts the run of the queued files on a thread of its own and returns; the
    /// window shows itself busy until the run ends. Its calls to the list are made on the
    /// user-interface thread through serveRun(), so the list shows each file leave. At its end a
    /// failure is shown in the message box and the window carries on with the list and values as
    /// the failure left them.
    void runBatch();
    /// Whether a run is going on.
    [[nodiscard]] bool running() const;
    /// On the user-interface thread, whenever the host was woken up: makes the call to the list
    /// that the run waits for, or ends the run once it has finished.
    void serveRun();
    /// Serves the run on this thread until it has ended.
    void waitForRun();
    /// The first step of "終了" and of the close box: lets go of file slot 1, after which the window
    /// unloads itself and ends the program. During a run it does nothing and returns false: the
    /// window stays until the run has ended, so that no output is left half written.
    [[nodiscard]] bool closeApplication();
    /// Queues the files at `paths` as if they had been chosen in the dialog: the files the program
    /// is started with ("Open with", a drop on its icon) and files dropped on the window. Relative
    /// paths are taken from `currentFolder`. Files of several folders are refused with a message,
    /// and the list and the selection stay as they were.
    void queueFiles(const std::vector<std::string>& paths, const std::string& currentFolder);

    [[nodiscard]] const SelectionState& selection() const { return selection_; }
    [[nodiscard]] const RunValues& runValues() const { return runValues_; }
    [[nodiscard]] FileSlot& fileSlot() { return fileSlot_; }

private:
    struct Run;
    // Ends the finished run: joins its thread, and with `report`, shows the window ready and the
    // run's failure.
    void endRun(bool report);
    void showFailure(const std::exception_ptr& failure);

    FileList& fileList_;
    OpenFileDialog& dialog_;
    ErrorMessageBox& messageBox_;
    RunHost& host_;
    SelectionState selection_;
    RunValues runValues_;
    FileSlot fileSlot_;
    std::unique_ptr<Run> run_;
};

} // namespace tarnis
