// Faults injected into a batch of three files, the second of which fails. Whatever the fault, the
// run must stop there with a description that names the file and the cause; the inputs stay
// byte-identical; the first output is kept and nothing else is written (an earlier output of the
// failing file stays as it was, and no temporary file is left); the list keeps the failing entry on
// top; the slot is closed; and once the cause is gone, the next run goes through.
#include "engine/batch.h"

#include "common/error.h"
#include "tests/support/child_process.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnis {
namespace {

using test::Bytes;
using test::ScratchDir;
using ::testing::HasSubstr;

const std::string kDone(kCompletionMessage);
const Bytes kOldOutput(5000, 0x55);

// Another program's hand on the failing file, at the two moments the batch cannot guard.
enum class Tamper { None, GrowAfterMeasuring, ShrinkAfterOpening };

class TamperingSlot : public FileSlot {
public:
    TamperingSlot(Tamper tamper, std::filesystem::path target) : tamper_(tamper), target_(std::move(target)) {}

    void openForReading(const std::string& path) override
    {
        readingTarget_ = path == target_.string();
        if (tamper_ == Tamper::GrowAfterMeasuring && readingTarget_)
            std::filesystem::resize_file(target_, std::filesystem::file_size(target_) + 2);
        FileSlot::openForReading(path);
    }

    void readAll(std::span<std::uint8_t> buffer) override
    {
        if (tamper_ == Tamper::ShrinkAfterOpening && readingTarget_)
            std::filesystem::resize_file(target_, buffer.size() - 2);
        FileSlot::readAll(buffer);
    }

private:
    Tamper tamper_;
    std::filesystem::path target_;
    bool readingTarget_ = false;
};

struct Fault {
    std::string label;
    std::string name; // of the failing file, between first.fit and third.fit
    std::function<void(const ScratchDir&)> make;
    std::string cause;
    test::ChildLimits limits = {};
    Tamper tamper = Tamper::None;
    std::string pathInError = {}; // the input's name unless given
    // Before the next run the failing input is written anew; this undoes the rest of the fault.
    std::function<void(const ScratchDir&)> undo = {};
    bool nextRunCanSucceed = true; // not for a name that is too short by nature
};

// Every regular file below `folder`, by its path relative to it.
void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.label;
}

std::map<std::string, Bytes> regularFilesIn(const std::filesystem::path& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file())
            files[entry.path().lexically_relative(folder).string()] = test::readFile(entry.path());
    }
    return files;
}

void removeFile(const ScratchDir& s, const std::string& name)
{
    std::filesystem::remove_all(s.file(name));
}

void writeImage(const ScratchDir& scratch, const std::string& name)
{
    std::filesystem::create_directories(scratch.file(name).parent_path());
    test::writeFile(scratch.file(name), test::imageWithDropouts(3, {15040, 20000}));
}

// The child that gives up root becomes "nobody"; it must still be able to write the other outputs.
void giveFolderToNobody(const ScratchDir& scratch)
{
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(::chown(scratch.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
}

// The description of the error that the run must end with.
std::string descriptionOfFailingRun(FileList& list, const SelectionState& selection, RunValues& values, FileSlot& slot)
{
    try {
        runBatch(list, selection, values, slot);
    } catch (const Error& error) {
        return error.what();
    }
    ADD_FAILURE() << "the run did not fail";
    return {};
}

class FaultInjection : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultInjection, stops_the_run_and_loses_nothing)
{
    const Fault& fault = GetParam();
    ScratchDir scratch;
    writeImage(scratch, "first.fit");
    writeImage(scratch, "third.fit");
    writeImage(scratch, fault.name);
    if (fault.name.size() >= 4)
        test::writeFile(scratch.file(outputFileName(fault.name, fault.name)), kOldOutput);
    fault.make(scratch);
    const std::map<std::string, Bytes> before = regularFilesIn(scratch.path());

    test::MemoryFileList list({"first.fit", fault.name, "third.fit"});
    const SelectionState selection{scratch.dirPath(), 4};
    RunValues values;
    TamperingSlot slot(fault.tamper, scratch.file(fault.name));
    // The failing run happens in a child, which gives up root or takes on a limit where the fault
    // asks for it; what only the child can see is checked there.
    const test::ChildOutcome outcome = test::runInChild(fault.limits, [&] {
        std::string description;
        try {
            runBatch(list, selection, values, slot);
        } catch (const Error& error) {
            description = error.what();
        }
        if (list.entries != std::vector<std::string>{fault.name, "third.fit"})
            throw std::logic_error("CHECK: the list is not as the failure should leave it");
        if (slot.isOpen())
            throw std::logic_error("CHECK: the slot was left open");
        throw std::runtime_error(description);
    });

    ASSERT_FALSE(outcome.succeeded);
    EXPECT_THAT(outcome.errorText, ::testing::Not(HasSubstr("CHECK:")));
    EXPECT_THAT(outcome.errorText, HasSubstr(fault.cause));
    EXPECT_THAT(outcome.errorText, HasSubstr(scratch.dirPath() + (fault.pathInError.empty() ? fault.name : fault.pathInError)));
    std::map<std::string, Bytes> expected = before;
    expected["first_R.fit"] = {};
    if (fault.tamper != Tamper::None)
        expected.erase(fault.name); // another program changed it, not the run
    const std::map<std::string, Bytes> after = regularFilesIn(scratch.path());
    std::set<std::string> expectedNames;
    std::set<std::string> names;
    for (const auto& [name, bytes] : expected)
        expectedNames.insert(name);
    for (const auto& [name, bytes] : after) {
        if (fault.tamper == Tamper::None || name != fault.name)
            names.insert(name);
    }
    EXPECT_EQ(names, expectedNames) << "the first output and nothing else, no temporary file";
    for (const auto& [name, bytes] : before) {
        if (expected.contains(name) && after.contains(name)) {
            EXPECT_TRUE(after.at(name) == bytes) << name << " changed";
        }
    }

    if (!fault.nextRunCanSucceed)
        return;
    removeFile(scratch, fault.name);
    writeImage(scratch, fault.name);
    if (fault.undo)
        fault.undo(scratch);
    list.entries = {fault.name, "third.fit"};
    FileSlot plainSlot;
    runBatch(list, {selection.dirPath, 3}, values, plainSlot);
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_TRUE(std::filesystem::is_regular_file(scratch.file("third_R.fit")));
}

INSTANTIATE_TEST_SUITE_P(
    Batch, FaultInjection,
    ::testing::Values(
        Fault{.label = "file_removed_after_selection",
              .name = "gone.fit",
              .make = [](const ScratchDir& s) { removeFile(s, "gone.fit"); },
              .cause = "ファイルが見つかりません"},
        Fault{.label = "folder_where_a_file_was_expected",
              .name = "folder.fit",
              .make =
                  [](const ScratchDir& s) {
                      removeFile(s, "folder.fit");
                      std::filesystem::create_directory(s.file("folder.fit"));
                  },
              .cause = "フォルダです"},
        Fault{.label = "no_read_permission",
              .name = "private.fit",
              .make =
                  [](const ScratchDir& s) {
                      giveFolderToNobody(s);
                      ::chmod(s.file("private.fit").c_str(), 0600);
                  },
              .cause = "権限がありません",
              .limits = {.dropPrivileges = true, .fileSizeLimit = std::nullopt}},
        // The other files' folder stays writable; this one's is root's own.
        Fault{.label = "no_write_permission_on_the_folder",
              .name = "locked/a.fit",
              .make = [](const ScratchDir& s) { giveFolderToNobody(s); },
              .cause = "権限がありません",
              .limits = {.dropPrivileges = true, .fileSizeLimit = std::nullopt},
              .pathInError = "locked/a_R.fit"},
        Fault{.label = "file_size_limit_while_writing",
              .name = "huge.fit",
              .make = [](const ScratchDir& s) { test::writeFile(s.file("huge.fit"), test::imageWithDropouts(100, {15040})); },
              .cause = "上限を超えます",
              .limits = {.dropPrivileges = false, .fileSizeLimit = 600000},
              .pathInError = "huge_R.fit"},
        Fault{.label = "file_grows_between_measuring_and_reading",
              .name = "growing.fit",
              .make = [](const ScratchDir&) {},
              .cause = "長さが変わりました",
              .tamper = Tamper::GrowAfterMeasuring},
        Fault{.label = "file_shrinks_between_opening_and_reading",
              .name = "shrinking.fit",
              .make = [](const ScratchDir&) {},
              .cause = "長さが変わりました",
              .tamper = Tamper::ShrinkAfterOpening},
        Fault{.label = "odd_length",
              .name = "cut.fit",
              .make = [](const ScratchDir& s) { test::writeFile(s.file("cut.fit"), Bytes(2881 + 12160 * 2, 0x80)); },
              .cause = "長さが奇数"},
        Fault{.label = "name_too_short_for_the_output_name",
              .name = "abc",
              .make = [](const ScratchDir&) {},
              .cause = "4 文字より短い",
              .nextRunCanSucceed = false},
        Fault{.label = "output_name_taken_by_a_folder",
              .name = "taken.fit",
              .make =
                  [](const ScratchDir& s) {
                      removeFile(s, "taken_R.fit");
                      std::filesystem::create_directory(s.file("taken_R.fit"));
                  },
              .cause = "同じ名前のフォルダ",
              .pathInError = "taken_R.fit",
              .undo = [](const ScratchDir& s) { removeFile(s, "taken_R.fit"); }},
        Fault{.label = "fifo_given_as_input",
              .name = "pipe.fit",
              .make =
                  [](const ScratchDir& s) {
                      removeFile(s, "pipe.fit");
                      ::mkfifo(s.file("pipe.fit").c_str(), 0644);
                  },
              .cause = "通常のファイルではありません"}),
    [](const auto& info) { return info.param.label; });

// A cancelled selection leaves an empty list and the previous count: the first cycle reads an empty
// name, so the input path is the folder itself.
TEST(FaultInjection, empty_name_after_a_cancelled_selection_fails_on_the_folder_and_writes_nothing)
{
    ScratchDir scratch;
    writeImage(scratch, "a.fit");
    test::MemoryFileList list;
    const SelectionState selection{scratch.dirPath(), 2};
    RunValues values;
    FileSlot slot;

    const std::string description = descriptionOfFailingRun(list, selection, values, slot);
    EXPECT_THAT(description, HasSubstr(scratch.dirPath() + "\n"));
    EXPECT_THAT(description, HasSubstr("フォルダです"));
    EXPECT_TRUE(list.entries.empty());
    EXPECT_FALSE(slot.isOpen());
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>{"a.fit"});

    list.entries = {"a.fit"};
    runBatch(list, selection, values, slot);
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
}

// A full disk, made real with a small filesystem of its own where the machine lets the test mount one.
TEST(FaultInjection, full_disk_keeps_the_earlier_output_and_leaves_no_temporary_file)
{
    ScratchDir scratch;
    const std::filesystem::path disk = scratch.path() / "disk";
    std::filesystem::create_directory(disk);
    if (::mount("tarnis-test", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "cannot mount a small filesystem here";
    struct Unmount {
        std::filesystem::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    const Bytes image = test::imageWithDropouts(12, {15040}); // about 150 KB: fits once, not twice
    test::writeFile(disk / "a.fit", image);
    test::writeFile(disk / "a_R.fit", kOldOutput);
    test::MemoryFileList list({"a.fit"});
    const SelectionState selection{disk.string() + "/", 2};
    RunValues values;
    FileSlot slot;

    const std::string description = descriptionOfFailingRun(list, selection, values, slot);
    EXPECT_THAT(description, HasSubstr("空き容量が足りません"));
    EXPECT_THAT(description, HasSubstr(selection.dirPath + "a_R.fit"));
    EXPECT_EQ(test::readFile(disk / "a_R.fit"), kOldOutput);
    EXPECT_EQ(test::readFile(disk / "a.fit"), image);
    EXPECT_EQ(test::namesIn(disk), (std::set<std::string>{"a.fit", "a_R.fit"}));
    EXPECT_EQ(list.entries, std::vector<std::string>{"a.fit"});
    EXPECT_FALSE(slot.isOpen());
}

// Many small files in one run, as a night's calibration frames can be.
TEST(ManyFiles, batch_of_a_thousand_small_files_completes)
{
    ScratchDir scratch;
    std::vector<std::string> names;
    for (int i = 0; i < 1000; ++i) {
        names.push_back("dark" + std::to_string(i) + ".fit");
        test::writeFile(scratch.file(names.back()), Bytes(3000 + 2 * static_cast<std::size_t>(i % 7), 0x80));
    }
    test::MemoryFileList list(names);
    RunValues values;
    FileSlot slot;

    runBatch(list, {scratch.dirPath(), 1001}, values, slot);

    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_EQ(test::namesIn(scratch.path()).size(), 2000u);
    EXPECT_EQ(test::readFile(scratch.file("dark999_R.fit")), test::readFile(scratch.file("dark999.fit")));
}

} // namespace
} // namespace tarnis
