#pragma once

#include <stdexcept>
#include <string>

namespace tarnis {

/// What was being done to a file when it failed. Check: a run that only counts found that the
/// output could not be written.
enum class FileAction { Read, Repair, Write, Check };

/// Why a file could not be read or written. Each cause has a sentence in each language
/// (common/texts_ja.cpp, common/texts_en.cpp); code and tests tell failures apart by cause, never by
/// wording.
enum class Cause {
    // Reported by the operating system.
    NotFound,
    IsFolder,
    NoPermission,
    DiskFull,
    FileSizeLimit,
    ReadOnlyFileSystem,
    NameTooLong,
    InvalidName,
    OutOfMemory,
    DeviceError,
    TooManyOpenFiles,
    InUse,
    SymlinkLoop,
    NoDevice,
    ValueTooLarge,
    StaleNetworkFile,
    CrossDevice,
    TimedOut,
    NetworkUnavailable,
    Unsupported,
    UnknownSystemError, // detail: the error number
    SystemError, // detail: the error number and the system's own description (systemErrorDetail())
    // Found by Tarnis itself.
    NotRegularFile,
    FolderInTheWay,
    WriteProtected,
    ChangedWhileReading,
    SlotBusy,
    TooLargeForMemory,
    OddLength,
    NameTooShort,
    NameHasFolder,
    OutputIsSelected,     // detail: the name of the input whose output it would be
    OutputOfAnotherInput, // detail: the name of the earlier input of the run whose output has that name
    NotAnEarlierOutput, // detail: the name of the input; the file under the output's name is not its output
    OutputChanged, // a file appeared or changed under the output's name while the output was written
    NotFits,       // detail, for this and the causes below: what the header holds
    NoEndCard,
    NotSixteenBit,
    NotUnsignedSamples,
    BlankSamples,
    NoImageRows,
    MissingKeyword, // detail: the keyword
    BadAxisLength,
    ImageTooLarge,
};

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
