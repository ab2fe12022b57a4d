#include "ui/form1.h"
#include "ui/qt_translations.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    // Lets a Wayland desktop match the windows with the menu entry of that name (.desktop).
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNIS_APP_ID));
    const auto qtTranslations = tarnis::installQtTranslations();
    tarnis::Form1 form;
    form.show();
    return application.exec();
}
