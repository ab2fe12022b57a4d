#include "common/standard_streams.h"

#ifndef _WIN32
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>
#endif

namespace tarnis {

void openClosedStandardStreams()
{
#ifndef _WIN32
    // In order: open() takes the lowest free number, which is the closed one.
    for (int stream = 0; stream <= 2; ++stream) {
        if (::fcntl(stream, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
        if (opened > stream) {
            ::dup2(opened, stream);
            ::close(opened);
        }
    }
#endif
}

} // namespace tarnis
