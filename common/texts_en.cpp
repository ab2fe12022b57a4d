// The English sentences of the descriptions of failures, for the command line outside a Japanese
// locale and for logs. They follow a path on one line, as GNU programs write their messages: no
// capital at the start, no full stop at the end.
#include "common/sentences.h"

namespace tarnis {

namespace {

std::string_view actionSentence(FileAction action)
{
    switch (action) {
    case FileAction::Read: return "cannot read";
    case FileAction::Repair: return "cannot repair";
    case FileAction::Write: return "cannot write";
    case FileAction::Check: return "a run would not write this output";
    }
    return {};
}

// One sentence per cause, one case to a line: long because the causes are many.
std::string_view causeSentence(Cause cause)
{
    switch (cause) {
    case Cause::NotFound: return "no such file";
    case Cause::IsFolder: return "it is a folder, not a file";
    case Cause::NoPermission: return "permission denied";
    case Cause::DiskFull: return "no space left on the disk";
    case Cause::FileSizeLimit: return "the file would exceed the file size limit";
    case Cause::ReadOnlyFileSystem: return "the place is read-only";
    case Cause::NameTooLong: return "the file name or the path is too long";
    case Cause::InvalidName:
        return "the file name or the path holds a character that is not allowed, or is malformed";
    case Cause::OutOfMemory: return "out of memory";
    case Cause::DeviceError: return "input/output error on the disk";
    case Cause::TooManyOpenFiles: return "too many open files";
    case Cause::InUse: return "the file is in use by another program";
    case Cause::SymlinkLoop: return "symbolic links loop, or are too many";
    case Cause::NoDevice:
        return "the device of the file is not there; check that the drive is still attached";
    case Cause::ValueTooLarge: return "the file is too large to be handled on this system";
    case Cause::StaleNetworkFile:
        return "the file on the network is no longer valid; give it again";
    case Cause::CrossDevice: return "a file cannot be moved across drives";
    case Cause::TimedOut: return "no answer in time; check the network drive";
    case Cause::NetworkUnavailable: return "the network cannot be reached";
    case Cause::Unsupported: return "the operation is not supported there";
    case Cause::UnknownSystemError: return "unexpected error (error number {})";
    case Cause::SystemError: return "{text} (error number {number})";
    case Cause::NotRegularFile: return "not a regular file (a device, a pipe or the like)";
    case Cause::FolderInTheWay: return "a folder of the same name is in the way";
    case Cause::WriteProtected: return "the file there is write-protected, so it is not replaced";
    case Cause::ChangedWhileReading:
        return "the file changed while it was read; check that no other program is writing it";
    case Cause::SlotBusy: return "another file is still open";
    case Cause::TooLargeForMemory: return "not enough memory to read the whole file";
    case Cause::OddLength:
        return "the image data has an odd length; the file is cut short, or not a 16-bit image";
    case Cause::NameTooShort:
        return "the name is shorter than 4 characters, so no output name can be made of it";
    case Cause::NameHasFolder:
        return "the name holds a folder separator, so the output's place is unclear";
    case Cause::OutputIsSelected:
        return "the output of '{}' would have the name of a file to be repaired, which is never replaced";
    case Cause::OutputOfAnotherInput:
        return "the output of '{}', repaired earlier in this run, has the same name (ignoring letter case); it is not replaced";
    case Cause::NotAnEarlierOutput:
        return "a file of this name exists and is no output made from '{}'; it is not replaced";
    case Cause::OutputChanged:
        return "another program made or changed a file of this name while the output was written; it is not replaced";
    case Cause::NotFits: return "not a FITS file (it starts with '{}')";
    case Cause::NoEndCard: return "no end of the FITS header (END) in its first {} bytes";
    case Cause::NotSixteenBit: return "not a 16-bit integer image ({})";
    case Cause::NotUnsignedSamples:
        return "not an unsigned 16-bit image (BZERO = 32768, BSCALE = 1), so dropouts cannot be told from values ({})";
    case Cause::BlankSamples:
        return "0x8000 samples mark blank pixels in this file ({}), so they are not repaired as dropouts";
    case Cause::NoImageRows:
        return "not an image with rows ({}); compressed images are not supported";
    case Cause::MissingKeyword: return "the FITS header has no {} with an integer value";
    case Cause::BadAxisLength: return "the image's size is wrong ({})";
    case Cause::ImageTooLarge: return "the image's size is beyond what can be handled ({})";
    }
    return {};
}

} // namespace

const Sentences kEnglishSentences{actionSentence, causeSentence, ": "};

} // namespace tarnis
