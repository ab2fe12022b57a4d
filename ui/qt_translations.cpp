#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tarnis {

std::unique_ptr<QTranslator> installQtTranslations(const QLocale& locale)
{
    auto translator = std::make_unique<QTranslator>();
    // "qt" is the catalogue that brings in those of every Qt module, qtbase's among them.
    if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        || !QCoreApplication::installTranslator(translator.get()))
        return nullptr;
    return translator;
}

} // namespace tarnis
