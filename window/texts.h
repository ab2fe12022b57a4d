#pragma once

#include "common/version.h"

#include <string_view>

namespace tarnis::texts {

// Every fixed text of the window, in one place, UTF-8, for both windows; what the engine shows (the
// descriptions of failures, the completion message) is in common/texts.cpp.

inline constexpr std::string_view kWindowTitle = "Tarnis Ver" TARNIS_VERSION;
inline constexpr std::string_view kSelectCaption = "ﾌｧｲﾙ選択";
inline constexpr std::string_view kRunCaption = "実行・保存";
inline constexpr std::string_view kExitCaption = "終了";
/// The open-file dialog's filters, all files first, each with its pattern.
inline constexpr std::string_view kAllFilesFilter = "すべてのファイル (*.*)";
inline constexpr std::string_view kAllFilesPattern = "*.*";
inline constexpr std::string_view kFitFilesFilter = "fit ファイル (*.fit)";
inline constexpr std::string_view kFitFilesPattern = "*.fit";
/// Shown when the dialog could not hand back every chosen file; the selection then ends as a
/// cancelled one does.
inline constexpr std::string_view kTooManyFiles =
    "選択されたファイルが多すぎて、名前をすべて受け取れませんでした。\n何も選択していません。ファイルを何回かに分けて選んでください。";
/// Shown when the chosen, dropped or given files lie in more than one folder: every output goes
/// beside its input, so one run takes the files of one folder.
inline constexpr std::string_view kSeveralFolders =
    "選択されたファイルが複数のフォルダーにあります。\n一度に処理できるのは一つのフォルダーのファイルだけです。同じフォルダーのファイルを選んでください。";

} // namespace tarnis::texts
