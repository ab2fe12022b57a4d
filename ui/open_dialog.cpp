#include "ui/open_dialog.h"

#include "common/file_names.h"
#include "ui/texts.h"
#include "window/selection.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QStandardPaths>

#include <vector>

namespace tarnis {
namespace {

// Qt reads the pattern "*.*" literally, as "names with a dot", and the dialog hands the selected
// filter's patterns to its file model whenever the filter changes. Under the all-files entry the
// model is told to filter nothing instead, so that names without a dot (darks, flats and raw frames
// often have none) show as well. The dialog's own handling of the change runs first: it is
// connected to the filter box before filterSelected is.
void applyNameFilter(QFileDialog& dialog)
{
    auto* model = dialog.findChild<QFileSystemModel*>();
    if (model == nullptr)
        return;
    if (dialog.selectedNameFilter() == qtText(texts::kAllFilesFilter))
        model->setNameFilters({});
}

// Where a session's first dialog opens: never the working folder, which is "/" for a program
// started from a desktop menu.
QString firstFolder()
{
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (!pictures.isEmpty() && QFileInfo(pictures).isDir())
        return pictures;
    return QDir::homePath();
}

// The folder that an answer of the form described at OpenFileDialog names: the part before its
// first separator, or the folder of its one path.
QString answerFolder(const std::string& answer)
{
    const std::string::size_type end = answer.find(kResultSeparator);
    const std::string folder(end != std::string::npos ? std::string_view(answer).substr(0, end)
                                                      : folderOf(answer));
    return QDir::fromNativeSeparators(QString::fromStdString(folder));
}

} // namespace

void configureOpenDialog(QFileDialog& dialog)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    // Patterns match in any letter case, so that IMG01.FIT shows under "*.fit".
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    dialog.setNameFilters({qtText(texts::kAllFilesFilter), qtText(texts::kFitFilesFilter)});
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString&) { applyNameFilter(dialog); });
    dialog.selectNameFilter(qtText(texts::kFitFilesFilter));
    applyNameFilter(dialog);
}

std::string resultText(const QStringList& chosenFiles)
{
    if (chosenFiles.isEmpty())
        throw DialogCancelled();
    std::vector<std::string> paths;
    for (const QString& file : chosenFiles)
        paths.push_back(
            QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(file).absoluteFilePath()))
                .toStdString());
    return answerFor(paths);
}

std::string QtOpenFileDialog::showOpen()
{
    QFileDialog dialog(parent_);
    configureOpenDialog(dialog);
    dialog.setDirectory(lastFolder_.isEmpty() ? firstFolder() : lastFolder_);
    if (dialog.exec() != QDialog::Accepted)
        throw DialogCancelled();
    std::string result = resultText(dialog.selectedFiles());
    // The files' folder, not the one being browsed: a path typed in full may lead elsewhere.
    lastFolder_ = answerFolder(result);
    return result;
}

} // namespace tarnis
