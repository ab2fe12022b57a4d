#include "common/standard_streams.h"
#include "ui/form1.h"
#include "ui/qt_translations.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char** argv)
{
    tarnis::openClosedStandardStreams();
    QApplication application(argc, argv);
    // On Wayland the desktop matches the windows with the menu entry by this name (plus ".desktop").
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNIS_APP_ID));
    const auto qtTranslations = tarnis::installQtTranslations();
    tarnis::Form1 form;
    // Files given to the program ("Open with", a drop on its icon) are queued as if chosen.
    if (const QStringList files = QCoreApplication::arguments().mid(1); !files.isEmpty())
        form.queueFiles(files);
    form.show();
    return application.exec();
}
