#pragma once

#include "ui/list_box_file_list.h"
#include "window/form1_logic.h"

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <memory>

class QListWidget;
class QPushButton;

namespace tarnis {

/// The program's only window on Linux: three buttons over the list of queued files, drawn by Qt
/// over what both windows share (Form1Logic). A run goes on a thread of its own while the window,
/// disabled under a wait cursor, keeps painting and drops the input made meanwhile.
class Form1 : public QWidget, private RunHost {
    Q_OBJECT

public:
    /// The dialog and the message box default to the real ones; tests hand in their own.
    explicit Form1(std::unique_ptr<OpenFileDialog> dialog = nullptr,
                   std::unique_ptr<ErrorMessageBox> messageBox = nullptr);
    ~Form1() override;

    /// "ﾌｧｲﾙ選択", "実行・保存": see Form1Logic.
    void selectFiles() { logic_.selectFiles(); }
    void runBatch() { logic_.runBatch(); }
    [[nodiscard]] bool running() const { return logic_.running(); }
    /// "終了": closes file slot 1, the window and the program; refused while a run goes.
    void closeApplication();
    /// Queues the files at `paths` as if they had been chosen in the dialog (see
    /// Form1Logic::queueFiles): the program's arguments, and files dropped on the window.
    void queueFiles(const QStringList& paths);

    [[nodiscard]] const SelectionState& selection() const { return logic_.selection(); }
    [[nodiscard]] const RunValues& runValues() const { return logic_.runValues(); }
    [[nodiscard]] FileSlot& fileSlot() { return logic_.fileSlot(); }

protected:
    /// The close box ends the program too, whatever the application's own quit settings are; during
    /// a run it is refused.
    void closeEvent(QCloseEvent* event) override;
    /// Files dragged from a file manager onto the window are taken as a choice in the dialog.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void showBusy(bool busy) override;
    void wakeUp() override;

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QListWidget* List1;
    std::unique_ptr<OpenFileDialog> CommonDialog1;
    std::unique_ptr<ErrorMessageBox> messageBox_;
    ListBoxFileList fileList_;
    QPointer<QWidget> focusBeforeRun_;
    Form1Logic logic_;
};

} // namespace tarnis
