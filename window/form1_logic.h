#pragma once

#include "common/file_list.h"
#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/batch.h"

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

/// What the program's window does, whichever window system draws it: the selection, the run and
/// the end, over the window's list, its open-file dialog and its message box. It owns everything
/// the program keeps between clicks (the selection, the run's values, file slot 1). Each window
/// calls it from the handlers of its buttons, on its user-interface thread.
class Form1Logic {
public:
    Form1Logic(FileList& fileList, OpenFileDialog& dialog, ErrorMessageBox& messageBox);

    /// Loading the window: the list starts empty.
    void load();
    /// "ﾌｧｲﾙ選択": empties the list and queues the files chosen in the open-file dialog. A
    /// cancelled or refused choice ends it silently, the list left empty and the previous
    /// selection's folder and count kept; a choice too large for the dialog to hand back is said.
    void selectFiles();
    /// "実行・保存": repairs the queued files; a failure is shown in the message box and the window
    /// carries on with the list and values as the failure left them.
    void runBatch();
    /// The first step of "終了" and of the close box: lets go of file slot 1. The window then
    /// unloads itself and ends the program.
    void closeApplication();
    /// Queues the files at `paths` as if they had been chosen in the dialog: the files the program
    /// is started with ("Open with", a drop on its icon) and files dropped on the window. Relative
    /// paths are taken from `currentFolder`. Files of several folders are refused as a cancelled
    /// choice is: the list is left empty.
    void queueFiles(const std::vector<std::string>& paths, const std::string& currentFolder);

    [[nodiscard]] const SelectionState& selection() const { return selection_; }
    [[nodiscard]] const RunValues& runValues() const { return runValues_; }
    [[nodiscard]] FileSlot& fileSlot() { return fileSlot_; }

private:
    FileList& fileList_;
    OpenFileDialog& dialog_;
    ErrorMessageBox& messageBox_;
    SelectionState selection_;
    RunValues runValues_;
    FileSlot fileSlot_;
};

} // namespace tarnis
