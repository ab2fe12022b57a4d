#include "ui/form1.h"

#include "ui/command_button.h"
#include "ui/full_name_tips.h"
#include "ui/message_box.h"
#include "ui/open_dialog.h"
#include "ui/texts.h"
#include "window/layout.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QListWidget>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <algorithm>
#include <string>
#include <vector>

namespace tarnis {
namespace {

// Positions and sizes in device-independent pixels (96 to the inch), so that Qt scales the window
// on high-DPI screens. There is no layout manager on purpose: resizing the window moves nothing.
QRect geometryOf(const layout::Twips& place)
{
    constexpr int kDipsPerInch = 96;
    return {layout::pixels(place.left, kDipsPerInch), layout::pixels(place.top, kDipsPerInch),
            layout::pixels(place.width, kDipsPerInch), layout::pixels(place.height, kDipsPerInch)};
}

QWidget* makeControl(QWidget* parent, const layout::Control& control)
{
    QWidget* widget = nullptr;
    if (control.kind == layout::Kind::Button) {
        // A plain window has no default button: Enter presses only the button that has the focus.
        widget = new CommandButton(qtText(control.caption), parent);
    } else {
        auto* list = new QListWidget(parent);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setSortingEnabled(false); // the order of the entries is the order of the run
        list->setItemDelegate(new FullNameTips(list));
        widget = list;
    }
    widget->setObjectName(
        QLatin1String(control.name.data(), static_cast<qsizetype>(control.name.size())));
    widget->setGeometry(geometryOf(control.place));
    return widget;
}

template <typename Widget>
Widget* control(QWidget& form, const char* name)
{
    return form.findChild<Widget*>(QLatin1String(name), Qt::FindDirectChildrenOnly);
}

// Makes the controls, in tab order, and returns the form they are on.
QWidget& makeControls(QWidget& form)
{
    QWidget* previous = nullptr;
    for (const layout::Control& c : layout::kControls) {
        QWidget* widget = makeControl(&form, c);
        if (previous != nullptr)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
    return form;
}

// The program's icon at every size it is drawn in, as built in from data/icons/.
QIcon programIcon()
{
    QIcon icon;
    for (const QFileInfo& file :
         QDir(QStringLiteral(":/icons")).entryInfoList({QStringLiteral("*.png")}))
        icon.addFile(file.filePath());
    return icon;
}

std::vector<std::string> utf8(const QStringList& texts)
{
    std::vector<std::string> all;
    for (const QString& text : texts)
        all.push_back(text.toStdString());
    return all;
}

} // namespace

Form1::Form1(std::unique_ptr<OpenFileDialog> dialog, std::unique_ptr<ErrorMessageBox> messageBox)
    : Command1(
        control<QPushButton>(makeControls(*this), "Command1")), // the controls are made first
      Command2(control<QPushButton>(*this, "Command2")),
      Command3(control<QPushButton>(*this, "Command3")),
      List1(control<QListWidget>(*this, "List1")),
      CommonDialog1(dialog ? std::move(dialog) : std::make_unique<QtOpenFileDialog>(this)),
      messageBox_(messageBox ? std::move(messageBox) : std::make_unique<QtErrorMessageBox>(this)),
      fileList_(*List1), logic_(fileList_, *CommonDialog1, *messageBox_, *this)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(qtText(texts::kWindowTitle));
    setWindowIcon(programIcon()); // the dialogs over the window show it too
    resize(geometryOf({0, 0, layout::kClientWidth, layout::kClientHeight}).size());
    setAcceptDrops(true);
    Command1->setFocus(); // the first in tab order

    connect(Command1, &QPushButton::clicked, this, &Form1::selectFiles);
    connect(Command2, &QPushButton::clicked, this, &Form1::runBatch);
    connect(Command3, &QPushButton::clicked, this, &Form1::closeApplication);

    logic_.load();
}

Form1::~Form1() = default;

void Form1::closeApplication()
{
    if (!logic_.closeApplication())
        return;
    close();
    QCoreApplication::exit(0);
}

void Form1::queueFiles(const QStringList& paths)
{
    logic_.queueFiles(utf8(paths), QDir::currentPath().toStdString());
}

void Form1::closeEvent(QCloseEvent* event)
{
    // A file left open by a failed run is let go here too when the close box ends the program.
    // During a run the window stays: the run ends on its own, every output whole.
    if (!logic_.closeApplication()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    if (event->isAccepted())
        QCoreApplication::exit(0);
}

void Form1::showBusy(bool busy)
{
    if (busy) {
        focusBeforeRun_ = QApplication::focusWidget();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        setEnabled(false); // a disabled widget drops mouse and key events rather than keeping them
        return;
    }
    // Input that arrived during the run but has not been handled yet reaches the window while it
    // is still disabled, and is dropped there instead of pressing a button of the window ready.
    QCoreApplication::processEvents();
    setEnabled(true);
    QApplication::restoreOverrideCursor();
    if (focusBeforeRun_ != nullptr)
        focusBeforeRun_->setFocus();
}

void Form1::wakeUp()
{
    QMetaObject::invokeMethod(
        this, [this] { logic_.serveRun(); }, Qt::QueuedConnection);
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty()
        && std::all_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); }))
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        paths.append(QDir::toNativeSeparators(url.toLocalFile()));
    event->acceptProposedAction();
    queueFiles(paths);
}

} // namespace tarnis
