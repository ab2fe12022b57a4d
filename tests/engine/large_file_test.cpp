// Files past the 2 GiB that a 32-bit length could hold, made sparse so that they cost no disk.
#include "engine/batch.h"

#include "common/error.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>

namespace tarnis {
namespace {

constexpr std::int64_t kOver2GiB = (std::int64_t{1} << 31) + 12160 * 3;
constexpr std::int64_t kRow = 12160;

void writeBytesAt(const std::filesystem::path& path, std::int64_t offset, const test::Bytes& bytes)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(offset);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good());
}

test::Bytes readBytesAt(const std::filesystem::path& path, std::int64_t offset, std::size_t count)
{
    test::Bytes bytes(count);
    std::ifstream file(path, std::ios::binary);
    file.seekg(offset);
    file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count));
    EXPECT_TRUE(file.good());
    return bytes;
}

// The output of a sparse input is written in full, so the test needs that much free space.
bool roomForTheOutput(const test::ScratchDir& scratch)
{
    return std::filesystem::space(scratch.path()).available > static_cast<std::uintmax_t>(kOver2GiB) + (std::uintmax_t{1} << 30);
}

// A 16-bit image of the camera's width whose header promises a row more than the file holds, so
// that its last sample is repaired as far as the file goes.
void makeSparseFile(const std::filesystem::path& path, std::int64_t length)
{
    test::writeFile(path, {});
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(length));
    writeBytesAt(path, 0, test::fitsHeader(test::imageCards({6080, (length - 2880) / kRow + 1})));
}

TEST(LargeFiles, file_over_2_gib_is_repaired_beyond_the_2_gib_mark)
{
    test::ScratchDir scratch;
    if (!roomForTheOutput(scratch))
        GTEST_SKIP() << "not enough free disk space for a 2 GiB output";
    const auto input = scratch.file("big.fit");
    makeSparseFile(input, kOver2GiB);
    // A dropout past 2 GiB, with neighbours above and below it.
    const std::int64_t pos = kOver2GiB - 2 * kRow + 100;
    writeBytesAt(input, pos - kRow - 1, {0x11, 0x40});
    writeBytesAt(input, pos, {0x80, 0x00});
    writeBytesAt(input, pos + kRow - 1, {0x21, 0x60});

    test::MemoryFileList list({"big.fit"});
    RunValues run;
    FileSlot slot;
    runBatch(list, {scratch.dirPath(), 2}, run, slot);

    EXPECT_EQ(run.fileLength, kOver2GiB);
    EXPECT_EQ(std::filesystem::file_size(scratch.file("big_R.fit")), static_cast<std::uintmax_t>(kOver2GiB));
    EXPECT_EQ(readBytesAt(scratch.file("big_R.fit"), pos, 2), (test::Bytes{0x50, 0x19}));
    EXPECT_EQ(readBytesAt(input, pos, 2), (test::Bytes{0x80, 0x00}));
}

TEST(LargeFiles, odd_length_over_2_gib_fails_without_output)
{
    test::ScratchDir scratch;
    makeSparseFile(scratch.file("big.fit"), kOver2GiB + 1);

    test::MemoryFileList list({"big.fit"});
    RunValues run;
    FileSlot slot;
    const std::optional<Error> error = test::errorOf([&] { runBatch(list, {scratch.dirPath(), 2}, run, slot); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->cause(), Cause::OddLength);
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>{"big.fit"});
}

} // namespace
} // namespace tarnis
