#pragma once

#include "ui/list_box_file_list.h"
#include "window/form1_logic.h"

#include <QStringList>
#include <QWidget>

#include <memory>

class QListWidget;
class QPushButton;

namespace tarnis {

/// The program's only window on Linux: three buttons over the list of queued files, drawn by Qt
/// over what both windows share (Form1Logic). Every click is handled to its end on the
/// user-interface thread before the next one is served.
class Form1 : public QWidget {
    Q_OBJECT

public:
    /// The dialog and the message box default to the real ones; tests hand in their own.
    explicit Form1(std::unique_ptr<OpenFileDialog> dialog = nullptr,
                   std::unique_ptr<ErrorMessageBox> messageBox = nullptr);
    ~Form1() override;

    /// "ﾌｧｲﾙ選択", "実行・保存": see Form1Logic.
    void selectFiles() { logic_.selectFiles(); }
    void runBatch() { logic_.runBatch(); }
    /// "終了": closes file slot 1, the window and the program.
    void closeApplication();
    /// Queues the files at `paths` as if they had been chosen in the dialog (see
    /// Form1Logic::queueFiles): the program's arguments, and files dropped on the window.
    void queueFiles(const QStringList& paths);

    [[nodiscard]] const SelectionState& selection() const { return logic_.selection(); }
    [[nodiscard]] const RunValues& runValues() const { return logic_.runValues(); }
    [[nodiscard]] FileSlot& fileSlot() { return logic_.fileSlot(); }

protected:
    /// The close box ends the program too, whatever the application's own quit settings are.
    void closeEvent(QCloseEvent* event) override;
    /// Files dragged from a file manager onto the window are taken as a choice in the dialog.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QListWidget* List1;
    std::unique_ptr<OpenFileDialog> CommonDialog1;
    std::unique_ptr<ErrorMessageBox> messageBox_;
    ListBoxFileList fileList_;
    Form1Logic logic_;
};

} // namespace tarnis
