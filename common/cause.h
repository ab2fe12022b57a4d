#pragma once

#include "common/error.h"

namespace tarnis {

/// Why a file could not be read or written. Each cause has a name (common/cause.cpp) and a sentence
/// in each language (common/texts_ja.cpp, common/texts_en.cpp), each a switch without a default, so
/// that a cause missing from any of them fails the build; code and tests tell failures apart by
/// cause, never by wording. Kept out of common/error.h, which nearly every file includes.
enum class Cause : int {
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

} // namespace tarnis
