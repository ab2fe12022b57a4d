#pragma once

#include "window/form1_logic.h"

#include <QString>
#include <QStringList>

#include <string>

class QFileDialog;
class QWidget;

namespace tarnis {

/// Sets up Qt's own file dialog to choose several existing files with the window's two filters.
///
/// Qt's own dialog is used rather than the desktop's: GTK's filters are case-sensitive, so that
/// IMG01.FIT would not show under "*.fit", and it reads several typed names as one. And "*.*" is made to mean every file, as users of this tool
/// know it from Windows, rather than Qt's literal reading, which would hide names without a dot.
void configureOpenDialog(QFileDialog& dialog);

/// The dialog's chosen files in the answer's form described at OpenFileDialog (see answerFor()).
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
