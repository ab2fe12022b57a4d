// A file past the 2 GiB that a 32-bit length could hold, made sparse so that it costs no disk; its
// output is written in full, so the test needs that much free space.
#include "engine/batch.h"

#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace tarnis {
namespace {

TEST(LargeFiles, file_over_2_gib_is_repaired_beyond_the_2_gib_mark)
{
    constexpr std::int64_t kRow = 12160;
    constexpr std::int64_t kLength = (std::int64_t{1} << 31) + 3 * kRow;
    const std::int64_t pos = kLength - 2 * kRow
                             + 100; // a dropout past 2 GiB, with rows above and below
    test::ScratchDir scratch;
    if (std::filesystem::space(scratch.path()).available
        < static_cast<std::uintmax_t>(kLength) + (std::uintmax_t{1} << 30))
        GTEST_SKIP() << "not enough free disk space for a 2 GiB output";
    // Its header promises a row more than the file holds, so that its last rows are repaired as far
    // as the file goes.
    test::writeFile(scratch.file("big.fit"),
                    test::fitsHeader(test::imageCards({6080, (kLength - 2880) / kRow + 1})));
    std::filesystem::resize_file(scratch.file("big.fit"), kLength);
    const auto at = [](const std::filesystem::path& path, std::int64_t offset) {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(offset);
        return file;
    };
    at(scratch.file("big.fit"), pos - kRow).write("\x40\x12", 2);
    at(scratch.file("big.fit"), pos).write("\x80\x00", 2);
    at(scratch.file("big.fit"), pos + kRow).write("\x60\x34", 2);

    test::MemoryFileList list({"big.fit"});
    RunValues run;
    FileSlot slot;
    runBatch(list, {scratch.dirPath(), 2}, run, slot);

    EXPECT_EQ(run.fileLength, kLength);
    EXPECT_EQ(std::filesystem::file_size(scratch.file("big_R.fit")),
              static_cast<std::uintmax_t>(kLength));
    char repaired[2] = {};
    at(scratch.file("big_R.fit"), pos).read(repaired, 2);
    EXPECT_EQ(std::string(repaired, 2), "\x50\x23"); // the mean of C012 and E034, physical
}

} // namespace
} // namespace tarnis
