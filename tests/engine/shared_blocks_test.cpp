// On file systems that share blocks between files (xfs with reflink, btrfs), an output with few
// changed blocks takes room only for the blocks that hold repaired samples: the rest it shares with
// its input; one with many is written whole, in few extents rather than cut at every change. Its
// copy of the input is a snapshot: a program that writes the input once the copy is made changes
// nothing of the output. Each case makes a small file system of its own in a loop image, which only root
// may mount.
#include "engine/batch.h"

#include "common/file_names.h"
#include "engine/fits_header.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <unistd.h>

namespace tarnis {
namespace {

namespace fs = std::filesystem;
constexpr std::int64_t kBlockBytes = 4096;

// How many extents the file system keeps `path` in.
unsigned extentsOf(const fs::path& path)
{
    fiemap map{};
    map.fm_length = FIEMAP_MAX_OFFSET;
    map.fm_flags = FIEMAP_FLAG_SYNC;
    const int file = ::open(path.c_str(), O_RDONLY);
    EXPECT_EQ(::ioctl(file, FS_IOC_FIEMAP, &map), 0) << path;
    ::close(file);
    return map.fm_mapped_extents;
}

// The 4 KiB blocks of `path` whose data the file system does not share with another file.
std::set<std::int64_t> blocksOfItsOwn(const fs::path& path)
{
    constexpr unsigned kMostExtents = 512;
    std::vector<std::uint8_t> buffer(sizeof(fiemap) + kMostExtents * sizeof(fiemap_extent));
    auto* const map = reinterpret_cast<fiemap*>(buffer.data());
    map->fm_length = FIEMAP_MAX_OFFSET;
    map->fm_flags = FIEMAP_FLAG_SYNC;
    map->fm_extent_count = kMostExtents;
    const int file = ::open(path.c_str(), O_RDONLY);
    const bool mapped = ::ioctl(file, FS_IOC_FIEMAP, map) == 0;
    ::close(file);
    EXPECT_TRUE(mapped) << path;
    std::set<std::int64_t> own;
    for (unsigned i = 0; mapped && i < map->fm_mapped_extents; ++i) {
        const fiemap_extent& extent = map->fm_extents[i];
        for (auto block = static_cast<std::int64_t>(extent.fe_logical) / kBlockBytes;
             (extent.fe_flags & FIEMAP_EXTENT_SHARED) == 0
             && block * kBlockBytes
                    < static_cast<std::int64_t>(extent.fe_logical + extent.fe_length);
             ++block)
            own.insert(block);
    }
    return own;
}

// Another program opens the input for writing as soon as its copy is confirmed, and writes over
// it: its first try breaks the slot's lease, which the slot gives up at its next read.
class OverwritingSlot : public FileSlot {
public:
    void copyFrom(const std::string& source, const FileStamp& expected) override
    {
        FileSlot::copyFrom(source, expected);
        source_ = source;
    }
    void confirmUnchanged() override
    {
        FileSlot::confirmUnchanged();
        if (source_.empty())
            return;
        EXPECT_EQ(::open(source_.c_str(), O_WRONLY | O_NONBLOCK), -1)
            << "refused while the slot holds its lease";
        std::uint8_t first = 0;
        readAt(0, {&first, 1});
        test::writeFile(source_, test::Bytes(fs::file_size(source_), 0x80));
    }

private:
    std::string source_;
};

struct SharingFileSystem {
    std::string label;
    std::string make; // the command that makes it in the image named after it
};

class SharedBlocks : public ::testing::TestWithParam<SharingFileSystem> {};

TEST_P(
    SharedBlocks,
    an_output_shares_every_block_the_repair_left_where_few_change_is_written_whole_in_few_extents_where_many_do_and_is_a_snapshot_of_its_input)
{
    const SharingFileSystem& system = GetParam();
    if (!test::runningAsRoot())
        GTEST_SKIP() << "mounting a loop image needs root";
    const std::string mkfs = system.make.substr(0, system.make.find(' '));
    if (std::system(("command -v " + mkfs + " >/dev/null").c_str()) != 0)
        GTEST_SKIP() << mkfs << " is missing (scripts/setup.sh installs it)";
    test::ScratchDir scratch;
    const fs::path disk = scratch.path() / "disk";
    fs::create_directory(disk);
    test::writeFile(scratch.file("disk.img"), {});
    fs::resize_file(scratch.file("disk.img"), std::uintmax_t{400} << 20);
    const std::string image = "'" + scratch.file("disk.img").string() + "'";
    if (std::system((system.make + " " + image + " >/dev/null 2>&1").c_str()) != 0)
        GTEST_SKIP() << mkfs << " cannot make the file system on this machine";
    if (std::system(("mount -o loop " + image + " '" + disk.string() + "' 2>/dev/null").c_str())
        != 0)
        GTEST_SKIP() << "this machine does not let root mount a loop image";
    struct Unmount {
        fs::path path;
        ~Unmount()
        {
            // The loop device goes with the last unmount; lazily, should something still hold it.
            if (::umount2(path.c_str(), 0) != 0)
                ::umount2(path.c_str(), MNT_DETACH);
        }
    } unmount{disk};

    // 400 rows of the camera, 4.9 MB; dropouts in a few blocks far apart, two in one block.
    const test::Bytes frame = test::imageWithDropouts(400,
                                                      {15040, 15044, 500000, 2000000, 4000000});
    test::writeFile(disk / "a.fit", frame);
    test::MemoryFileList list({"a.fit"});
    RunValues values;
    FileSlot slot;
    runBatch(list, {utf8FromPath(disk) + "/", 2}, values, slot);

    const auto repaired = [](test::Bytes bytes) {
        repairDropouts(bytes, static_cast<std::int64_t>(bytes.size()), readImageLayout(bytes));
        return bytes;
    };
    const test::Bytes expected = repaired(frame);
    std::set<std::int64_t> changed;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (frame[i] != expected[i])
            changed.insert(static_cast<std::int64_t>(i) / kBlockBytes);
    }
    EXPECT_EQ(changed.size(), 4u);
    EXPECT_EQ(test::readFile(disk / "a_R.fit"), expected);
    EXPECT_EQ(blocksOfItsOwn(disk / "a_R.fit"), changed) << system.label;

    // Where sharing costs more than it saves, the output is written whole, in few extents: a frame
    // with a dropout near its start and one in every other block further on, so that the changes
    // held back until sharing was known not to pay go into the whole file too.
    std::vector<std::int64_t> dense = {500000};
    for (std::int64_t at = 1500000; at < 4800000; at += 2 * kBlockBytes + 8)
        dense.push_back(at);
    const test::Bytes denseFrame = test::imageWithDropouts(400, dense);
    test::writeFile(disk / "c.fit", denseFrame);
    list.entries = {"c.fit"};
    runBatch(list, {utf8FromPath(disk) + "/", 2}, values, slot);
    EXPECT_EQ(test::readFile(disk / "c_R.fit"), repaired(denseFrame));
    EXPECT_EQ(blocksOfItsOwn(disk / "c_R.fit").size(),
              (denseFrame.size() + kBlockBytes - 1) / kBlockBytes)
        << "shares nothing";
    EXPECT_LE(extentsOf(disk / "c_R.fit"), 4u) << system.label;

    // The clone of a frame whose input is overwritten is kept, and patched, even where writing the
    // output whole would have paid: it is all that is left of the input as it was.
    test::writeFile(disk / "b.fit", denseFrame);
    list.entries = {"b.fit"};
    OverwritingSlot overwriting;
    runBatch(list, {utf8FromPath(disk) + "/", 2}, values, overwriting);
    EXPECT_EQ(test::readFile(disk / "b_R.fit"), repaired(denseFrame));
    EXPECT_NE(test::readFile(disk / "b.fit"), denseFrame);
}

INSTANTIATE_TEST_SUITE_P(Batch, SharedBlocks,
                         ::testing::Values(SharingFileSystem{"xfs", "mkfs.xfs -q -m reflink=1"},
                                           SharingFileSystem{"btrfs", "mkfs.btrfs -q"}),
                         [](const auto& info) { return info.param.label; });

} // namespace
} // namespace tarnis
