#include "common/cause.h"

namespace tarnis {

std::string_view causeName(Cause cause) noexcept
{
    // No default: a cause without a name does not compile.
    switch (cause) {
    case Cause::NotFound: return "NotFound";
    case Cause::IsFolder: return "IsFolder";
    case Cause::NoPermission: return "NoPermission";
    case Cause::DiskFull: return "DiskFull";
    case Cause::FileSizeLimit: return "FileSizeLimit";
    case Cause::ReadOnlyFileSystem: return "ReadOnlyFileSystem";
    case Cause::NameTooLong: return "NameTooLong";
    case Cause::InvalidName: return "InvalidName";
    case Cause::OutOfMemory: return "OutOfMemory";
    case Cause::DeviceError: return "DeviceError";
    case Cause::TooManyOpenFiles: return "TooManyOpenFiles";
    case Cause::InUse: return "InUse";
    case Cause::SymlinkLoop: return "SymlinkLoop";
    case Cause::NoDevice: return "NoDevice";
    case Cause::ValueTooLarge: return "ValueTooLarge";
    case Cause::StaleNetworkFile: return "StaleNetworkFile";
    case Cause::CrossDevice: return "CrossDevice";
    case Cause::TimedOut: return "TimedOut";
    case Cause::NetworkUnavailable: return "NetworkUnavailable";
    case Cause::Unsupported: return "Unsupported";
    case Cause::UnknownSystemError: return "UnknownSystemError";
    case Cause::SystemError: return "SystemError";
    case Cause::NotRegularFile: return "NotRegularFile";
    case Cause::FolderInTheWay: return "FolderInTheWay";
    case Cause::WriteProtected: return "WriteProtected";
    case Cause::ChangedWhileReading: return "ChangedWhileReading";
    case Cause::SlotBusy: return "SlotBusy";
    case Cause::TooLargeForMemory: return "TooLargeForMemory";
    case Cause::OddLength: return "OddLength";
    case Cause::NameTooShort: return "NameTooShort";
    case Cause::NameHasFolder: return "NameHasFolder";
    case Cause::OutputIsSelected: return "OutputIsSelected";
    case Cause::OutputOfAnotherInput: return "OutputOfAnotherInput";
    case Cause::NotAnEarlierOutput: return "NotAnEarlierOutput";
    case Cause::OutputChanged: return "OutputChanged";
    case Cause::NotFits: return "NotFits";
    case Cause::NoEndCard: return "NoEndCard";
    case Cause::NotSixteenBit: return "NotSixteenBit";
    case Cause::NotUnsignedSamples: return "NotUnsignedSamples";
    case Cause::BlankSamples: return "BlankSamples";
    case Cause::NoImageRows: return "NoImageRows";
    case Cause::MissingKeyword: return "MissingKeyword";
    case Cause::BadAxisLength: return "BadAxisLength";
    case Cause::ImageTooLarge: return "ImageTooLarge";
    }
    return {};
}

} // namespace tarnis
