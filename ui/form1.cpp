#include "ui/form1.h"

#include "ui/command_button.h"
#include "ui/full_name_tips.h"
#include "ui/selection.h"
#include "ui/texts.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QListWidget>
#include <QPushButton>

#include <exception>

namespace tarnis {
namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry)
{
    // A plain window has no default button: Enter presses only the button that has the focus.
    auto* button = new CommandButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    return button;
}

QListWidget* makeListBox(QWidget* parent)
{
    auto* list = new QListWidget(parent);
    list->setObjectName(QStringLiteral("List1"));
    list->setGeometry(8, 40, 225, 328);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSortingEnabled(false); // the order of the entries is the order of the run
    list->setItemDelegate(new FullNameTips(list));
    return list;
}

// The program's icon at every size it is drawn in, as built in from data/icons/.
QIcon programIcon()
{
    QIcon icon;
    for (const QFileInfo& file : QDir(QStringLiteral(":/icons")).entryInfoList({QStringLiteral("*.png")}))
        icon.addFile(file.filePath());
    return icon;
}

} // namespace

// Positions and sizes are in device-independent pixels, so that the window scales on high-DPI
// screens. There is no layout manager on purpose: resizing the window moves nothing.
Form1::Form1(std::unique_ptr<OpenFileDialog> dialog, std::unique_ptr<ErrorMessageBox> messageBox)
    : Command1(makeButton(this, "Command1", texts::kSelectCaption, {8, 8, 65, 25})),
      Command2(makeButton(this, "Command2", texts::kRunCaption, {80, 8, 65, 25})),
      Command3(makeButton(this, "Command3", texts::kExitCaption, {160, 8, 73, 25})),
      List1(makeListBox(this)),
      CommonDialog1(dialog ? std::move(dialog) : std::make_unique<QtOpenFileDialog>(this)),
      messageBox_(messageBox ? std::move(messageBox) : std::make_unique<QtErrorMessageBox>(this)),
      fileList_(*List1)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(texts::kWindowTitle);
    setWindowIcon(programIcon()); // the dialogs over the window show it too
    resize(245, 378);

    setTabOrder(Command1, Command2);
    setTabOrder(Command2, List1);
    setTabOrder(List1, Command3);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form1::selectFiles);
    connect(Command2, &QPushButton::clicked, this, &Form1::runBatch);
    connect(Command3, &QPushButton::clicked, this, &Form1::closeApplication);

    load();
}

Form1::~Form1() = default;

void Form1::load()
{
    fileList_.clear();
}

void Form1::selectFiles()
{
    fileList_.clear();
    // Whatever goes wrong from here on, a cancel above all, ends the selection without a word:
    // the list stays empty and the previous folder and count stay as they were.
    try {
        const std::string result = CommonDialog1->showOpen();
        parseSelection(result, fileList_, selection_, splitParts_);
    } catch (...) {
    }
}

void Form1::runBatch()
{
    try {
        tarnis::runBatch(fileList_, selection_, runValues_, fileSlot_);
    } catch (const std::exception& error) {
        messageBox_->show(windowTitle(), QString::fromStdString(error.what()));
    }
}

void Form1::closeApplication()
{
    fileSlot_.close();
    close();
    QCoreApplication::exit(0);
}

void Form1::closeEvent(QCloseEvent* event)
{
    QWidget::closeEvent(event);
    if (!event->isAccepted())
        return;
    // A file left open by a failed run is let go here too when the close box ends the program.
    fileSlot_.close();
    QCoreApplication::exit(0);
}

} // namespace tarnis
