#include "common/standard_streams.h"
#include "ui/form1.h"
#include "ui/qt_translations.h"
#include "window/arguments.h"

#include <QApplication>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Qt's messages while it connects to the display, held back: where no display can be reached Qt
// writes a screenful about platform plugins and aborts, and the user is better served by one line.
QStringList heldMessages;

void holdWhileStarting(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtFatalMsg) {
        heldMessages.append(
            context.category != nullptr && std::string(context.category) != "default"
                ? QString::fromLatin1(context.category) + QStringLiteral(": ") + text
                : text);
        return;
    }
    const bool named = !qEnvironmentVariableIsEmpty("DISPLAY")
                       || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    std::fputs(
        named
            ? "tarnis: cannot open the window: the display could not be reached\n"
            : "tarnis: cannot open the window: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
        stderr);
    std::_Exit(1);
}

} // namespace

int main(int argc, char** argv)
{
    tarnis::openClosedStandardStreams();
    // Help and version need no display, and are answered before Qt looks for one.
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    switch (tarnis::readArguments(arguments).action) {
    case tarnis::StartAction::PrintHelp: std::fputs(tarnis::helpText().data(), stdout); return 0;
    case tarnis::StartAction::PrintVersion:
        std::fputs(tarnis::versionText().data(), stdout);
        return 0;
    case tarnis::StartAction::OpenWindow: break;
    }

    const QtMessageHandler qtHandler = qInstallMessageHandler(holdWhileStarting);
    QApplication application(argc, argv);
    qInstallMessageHandler(qtHandler);
    for (const QString& message : std::as_const(heldMessages))
        std::fprintf(stderr, "%s\n", qPrintable(message));

    // On Wayland the desktop matches the windows with the menu entry by this name (plus ".desktop").
    QGuiApplication::setDesktopFileName(QStringLiteral(TARNIS_APP_ID));
    const auto qtTranslations = tarnis::installQtTranslations();
    tarnis::Form1 form;
    form.show();
    // Files given to the program ("Open with", a drop on its icon) are queued as if chosen, over the
    // window, so that a refusal's message box has it to stand on. Qt has taken its own options out.
    std::vector<std::string> files;
    for (const QString& argument : QCoreApplication::arguments().mid(1))
        files.push_back(argument.toStdString());
    if (const tarnis::Start start = tarnis::readArguments(files); !start.files.empty()) {
        QStringList paths;
        for (const std::string& file : start.files)
            paths.append(QString::fromStdString(file));
        form.queueFiles(paths);
    }
    return application.exec();
}
