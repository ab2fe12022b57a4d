#pragma once

#include <QString>

namespace tarnis::texts {

// Every fixed text of the window, in one place; what the engine shows (the descriptions of
// failures, the completion message) is in common/texts.cpp.

inline const QString kWindowTitle = QStringLiteral("Tarnis Ver3.0");
inline const QString kSelectCaption = QStringLiteral("ﾌｧｲﾙ選択");
inline const QString kRunCaption = QStringLiteral("実行・保存");
inline const QString kExitCaption = QStringLiteral("終了");
/// The open-file dialog's filters, all files first.
inline const QString kAllFilesFilter = QStringLiteral("すべてのファイル (*.*)");
inline const QString kFitFilesFilter = QStringLiteral("fit ファイル (*.fit)");

} // namespace tarnis::texts
