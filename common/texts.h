#pragma once

#include "common/error.h"

#include <string>
#include <string_view>

namespace tarnis {

// The texts that the engine and the shared layer show their user. The sentences that describe a
// failure are kept in one table per language (texts_ja.cpp, texts_en.cpp) and put together here,
// so that the wording is reviewed, and changed, in one place; adding a language is adding a table.

/// The languages Tarnis speaks. The window is always Japanese; the command line speaks its user's.
enum class Language { Japanese, English };

/// Appended to the file list when a run has worked through all of its files (the window's, always
/// Japanese).
extern const std::string_view kCompletionMessage;

/// The detail of an Error of Cause::SystemError: the error's number, a space, and the system's own
/// description of it (in the system's language, whatever language it is shown in).
[[nodiscard]] std::string systemErrorDetail(std::string_view systemText, unsigned long number);

/// The sentence of a cause, with `detail` in its place: why a file could not be read or written.
[[nodiscard]] std::string describeCause(Cause cause, const std::string& detail, Language language);

/// An error as the window shows it, in three lines: what could not be done, the path, and why.
[[nodiscard]] std::string describe(FileAction action, const std::string& path, Cause cause,
                                   const std::string& detail, Language language);
[[nodiscard]] std::string describe(const Error& error, Language language);

/// An error on one line, as a command line and a log write it: the path, then what could not be
/// done and why ("/data/a.fit: cannot read: no such file"). The path and the detail are written as
/// they are given: a caller that needs one line whatever they hold escapes them first.
[[nodiscard]] std::string describeOnOneLine(FileAction action, const std::string& path, Cause cause,
                                            const std::string& detail, Language language);

} // namespace tarnis
