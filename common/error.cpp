#include "common/cause.h"

#include "common/texts.h"

#include <cerrno>
#include <utility>

namespace tarnis {

namespace {

// The cause behind a C library error number (errno), UnknownSystemError for one without its own.
Cause causeOfErrorNumber(int errorNumber) noexcept
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR: return Cause::NotFound;
    case EISDIR: return Cause::IsFolder;
    case EACCES:
    case EPERM: return Cause::NoPermission;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return Cause::DiskFull;
    case EFBIG: return Cause::FileSizeLimit;
    case EROFS: return Cause::ReadOnlyFileSystem;
    case ENAMETOOLONG: return Cause::NameTooLong;
    case ENOMEM: return Cause::OutOfMemory;
    case EIO: return Cause::DeviceError;
    case EMFILE:
    case ENFILE: return Cause::TooManyOpenFiles;
    case EBUSY:
    case ETXTBSY:
    case EAGAIN: // a mandatory lock held by another program
        return Cause::InUse;
    case ELOOP: return Cause::SymlinkLoop;
    case ENODEV:
    case ENXIO: return Cause::NoDevice;
    case EOVERFLOW: return Cause::ValueTooLarge;
#ifdef ESTALE
    case ESTALE: return Cause::StaleNetworkFile;
#endif
    case EXDEV: return Cause::CrossDevice;
    case ETIMEDOUT: return Cause::TimedOut;
    case ENETDOWN:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
#ifdef EHOSTDOWN
    case EHOSTDOWN:
#endif
#ifdef ENOLINK
    case ENOLINK:
#endif
        return Cause::NetworkUnavailable;
    case ENOTSUP:
#if defined(EOPNOTSUPP) && EOPNOTSUPP != ENOTSUP
    case EOPNOTSUPP:
#endif
    case ENOSYS: return Cause::Unsupported;
    default: return Cause::UnknownSystemError;
    }
}

} // namespace

Error::Error(FileAction action, std::string path, Cause cause, std::string detail)
    : std::runtime_error(describeOnOneLine(action, path, cause, detail, Language::English)),
      action_(action), path_(std::move(path)), cause_(cause), detail_(std::move(detail))
{
}

Error systemError(FileAction action, const std::string& path, int errorNumber)
{
    const Cause cause = causeOfErrorNumber(errorNumber);
    return Error(action, path, cause,
                 cause == Cause::UnknownSystemError ? std::to_string(errorNumber) : std::string());
}

} // namespace tarnis
