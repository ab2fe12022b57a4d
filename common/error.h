#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnis {

/// What was being done to a file when it failed. Check: a run that only counts found that the
/// output could not be written.
enum class FileAction { Read, Repair, Write, Check };

/// Why a file could not be read or written: its values are in common/cause.h, which only the files
/// that name a cause include, so that a new cause rebuilds those alone.
enum class Cause : int;

/// The name of a cause as written in the code ("NotFound"), for tests and diagnostics; empty for a
/// value that is no cause.
[[nodiscard]] std::string_view causeName(Cause cause) noexcept;

/// The one kind of failure that Tarnis reports to its user: a file, what was being done to it and
/// why. It stays in these parts until a front end puts it into words (common/texts.h): the window
/// in Japanese, the command line in its user's language. what() is for logs and diagnostics only:
/// one line in English, "PATH: cannot read: no such file".
class Error : public std::runtime_error {
public:
    Error(FileAction action, std::string path, Cause cause, std::string detail = {});

    [[nodiscard]] FileAction action() const noexcept { return action_; }
    [[nodiscard]] const std::string& path() const noexcept { return path_; }
    [[nodiscard]] Cause cause() const noexcept { return cause_; }
    [[nodiscard]] const std::string& detail() const noexcept { return detail_; }

private:
    FileAction action_;
    std::string path_;
    Cause cause_;
    std::string detail_;
};

/// An Error for a failed system call that set `errorNumber`; an unknown number is kept as detail.
[[nodiscard]] Error systemError(FileAction action, const std::string& path, int errorNumber);

#ifdef _WIN32
/// An Error of Cause::SystemError for a Windows error code that has no cause of its own, with the
/// system's description of it (FormatMessageW, in the system's language), or of
/// Cause::UnknownSystemError where the system has none.
[[nodiscard]] Error windowsError(FileAction action, const std::string& path, unsigned long code);
#endif

} // namespace tarnis
