#pragma once

#include <QString>
#include <QStringList>

#include <stdexcept>
#include <string>

class QFileDialog;
class QWidget;

namespace tarnis {

/// Raised by an open-file dialog that the user cancelled. The selection expects it and ends
/// quietly; nothing else is meant to see it.
class DialogCancelled : public std::runtime_error {
public:
    DialogCancelled() : std::runtime_error("the open-file dialog was cancelled") {}
};

/// The open-file dialog as the selection sees it: shown modally, answering with one full path, or
/// with the folder and then the chosen names in the dialog's order, all joined by U+0000 (UTF-8).
/// Cancelling throws DialogCancelled.
class OpenFileDialog {
public:
    virtual ~OpenFileDialog() = default;
    [[nodiscard]] virtual std::string showOpen() = 0;
};


/// Sets up Qt's own file dialog to choose several existing files with the two filters above.
///
/// On Windows this is the system's own dialog. Elsewhere Qt's own dialog is used rather than the
/// desktop's: GTK's filters are case-sensitive, so that IMG01.FIT would not show under "*.fit", and
/// it reads several typed names as one. And "*.*" is made to mean every file, as users of this tool
/// know it from Windows, rather than Qt's literal reading, which would hide names without a dot.
void configureOpenDialog(QFileDialog& dialog);

/// The dialog's chosen files (absolute paths) in the answer's form described at OpenFileDialog.
/// Files from several folders (possible by typing full paths) cannot form one answer, since every
/// output goes into its input's folder: that throws std::invalid_argument.
[[nodiscard]] std::string resultText(const QStringList& chosenFiles);

/// The real dialog, modal over `parent`. The first one opens in the user's Pictures folder, or in
/// the home folder where there is none; each later one in the folder of the files chosen last (the
/// selection's folder). A cancel changes nothing; the program keeps nothing between sessions.
class QtOpenFileDialog : public OpenFileDialog {
public:
    explicit QtOpenFileDialog(QWidget* parent) : parent_(parent) {}
    [[nodiscard]] std::string showOpen() override;

private:
    QWidget* parent_;
    QString lastFolder_;
};

} // namespace tarnis
