// Starts a write through file slot 1 and ends its process in the middle of it, as a kill or a
// crash does, so that a test can see what the write leaves behind:
//
//   tarnis_killed_writer FOLDER/NAME
#include "common/file_slot.h"

#include <cstdint>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#endif

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    tarnis::FileSlot slot;
    slot.openForWriting(argv[1], std::nullopt);
    slot.writeAt(0, std::vector<std::uint8_t>(100000, 1));
#ifdef _WIN32
    ::TerminateProcess(::GetCurrentProcess(), 9);
#else
    std::raise(SIGKILL);
#endif
    return 0;
}
