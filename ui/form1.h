#pragma once

#include "common/file_slot.h"
#include "common/selection_state.h"
#include "engine/batch.h"
#include "ui/list_box_file_list.h"
#include "ui/message_box.h"
#include "ui/open_dialog.h"

#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;

namespace tarnis {

/// The program's only window: three buttons over the list of queued files. It owns everything the
/// program keeps between clicks (the selection, the run's values, file slot 1), and every click is
/// handled to its end on the user-interface thread before the next one is served.
class Form1 : public QWidget {
    Q_OBJECT

public:
    /// The dialog and the message box default to the real ones; tests hand in their own.
    explicit Form1(std::unique_ptr<OpenFileDialog> dialog = nullptr,
                   std::unique_ptr<ErrorMessageBox> messageBox = nullptr);
    ~Form1() override;

    /// "ﾌｧｲﾙ選択": empties the list and queues the files chosen in the open-file dialog. A
    /// cancelled or failed choice ends it silently, the list left empty and the previous
    /// selection's folder and count kept.
    void selectFiles();
    /// "実行・保存": repairs the queued files; a failure is shown in a message box and the window
    /// carries on with the list and values as the failure left them.
    void runBatch();
    /// "終了": closes file slot 1, the window and the program.
    void closeApplication();

    [[nodiscard]] const SelectionState& selection() const { return selection_; }
    [[nodiscard]] const std::vector<std::string>& splitParts() const { return splitParts_; }
    [[nodiscard]] const RunValues& runValues() const { return runValues_; }
    [[nodiscard]] FileSlot& fileSlot() { return fileSlot_; }

protected:
    /// The close box ends the program too, whatever the application's own quit settings are.
    void closeEvent(QCloseEvent* event) override;

private:
    void load();

    QPushButton* Command1;
    QPushButton* Command2;
    QPushButton* Command3;
    QListWidget* List1;
    std::unique_ptr<OpenFileDialog> CommonDialog1;
    std::unique_ptr<ErrorMessageBox> messageBox_;

    ListBoxFileList fileList_;
    SelectionState selection_;
    std::vector<std::string> splitParts_;
    RunValues runValues_;
    FileSlot fileSlot_;
};

} // namespace tarnis
