#pragma once

#include <QLocale>

#include <memory>

class QTranslator;

namespace tarnis {

/// Installs Qt's own translations for `locale`, so that what Qt draws itself (the file dialog's
/// labels, buttons and warnings, the message box's button) speaks the user's language as the
/// window does. They come from Qt's translations folder (on Debian the package
/// qt6-translations-l10n). The translations stay in effect while the returned translator lives; it
/// is null when Qt has none for the language, and Qt's texts then stay English.
[[nodiscard]] std::unique_ptr<QTranslator> installQtTranslations(
    const QLocale& locale = QLocale::system());

} // namespace tarnis
