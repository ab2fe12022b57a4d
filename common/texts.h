#pragma once

#include "common/error.h"

#include <string>
#include <string_view>

namespace tarnis {

// Every text that the engine and the shared layer show their user is in texts.cpp, so that the
// wording is reviewed, and changed, in one place.

/// Appended to the file list when a run has worked through all of its files.
extern const std::string_view kCompletionMessage;

/// The detail of an Error of Cause::SystemError: the system's own description of the error (in the
/// system's language) and its number.
[[nodiscard]] std::string systemErrorDetail(std::string_view systemText, unsigned long number);
/// The sentence of a cause, with `detail` in its place: the last line of a description.
[[nodiscard]] std::string describeCause(Cause cause, const std::string& detail);

/// The full description of an error: what could not be done, the path, and the cause's sentence.
[[nodiscard]] std::string describe(FileAction action, const std::string& path, Cause cause, const std::string& detail);

} // namespace tarnis
