// Runs one batch over the files named on the command line, in a process of its own, so that its
// peak resident memory is the batch's alone:
//
//   tarnis_batch_memory FOLDER/ NAME...
//
// The benchmark starts it and reads the peak from the operating system when it ends.
#include "engine/batch.h"
#include "tests/support/memory_file_list.h"

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FOLDER/ NAME...\n", argv[0]);
        return 2;
    }
    tarnis::test::MemoryFileList list(std::vector<std::string>(argv + 2, argv + argc));
    tarnis::RunValues run;
    tarnis::FileSlot slot;
    try {
        tarnis::runBatch(list, {argv[1], argc - 1}, run, slot);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
