// Faults injected into a batch of three files, the second of which fails. Whatever the fault, the
// run must stop there with an error that names the file and the cause; the inputs stay
// byte-identical; the first output is kept and nothing else is written (an earlier output of the
// failing file stays as it was, and no temporary file is left); the list keeps the failing entry on
// top; the slot is closed; and once the cause is gone, the next run goes through.
#include "engine/batch.h"

#include "common/error.h"
#include "common/text.h"
#include "tests/support/child_process.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <ostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <pwd.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tarnis {
namespace {

using test::Bytes;
using test::ScratchDir;

// The first file of every batch is the red channel of m31.fit, named as LRGB imaging names it.
const std::string kFirst = "m31_R.fit";
const std::string kDone = test::kCompletionText;
const Bytes kOldOutput(5000, 0x55);

// Another program's hand on the failing file, at the moments the batch cannot guard.
enum class Tamper { None, GrowAfterMeasuring, ShrinkAfterOpening, RewriteAfterOpening, LockFolderAfterReading };

class TamperingSlot : public FileSlot {
public:
    TamperingSlot(Tamper tamper, std::filesystem::path target) : tamper_(tamper), target_(std::move(target)) {}

    void openForReading(const std::string& path) override
    {
        readingTarget_ = path == utf8FromPath(target_);
        if (tamper_ == Tamper::GrowAfterMeasuring && readingTarget_)
            std::filesystem::resize_file(target_, std::filesystem::file_size(target_) + 2);
        FileSlot::openForReading(path);
    }

    void readAll(std::span<std::uint8_t> buffer) override
    {
        if (tamper_ == Tamper::ShrinkAfterOpening && readingTarget_)
            std::filesystem::resize_file(target_, buffer.size() - 2);
        if (tamper_ == Tamper::RewriteAfterOpening && readingTarget_) {
            // Rewritten in place at the same length, as a FITS library in read-write mode does.
            std::fstream file(target_, std::ios::in | std::ios::out | std::ios::binary);
            file.seekp(100);
            file.write("rewritten", 9);
        }
        FileSlot::readAll(buffer);
        if (tamper_ == Tamper::LockFolderAfterReading && readingTarget_)
            std::filesystem::permissions(target_.parent_path(), std::filesystem::perms(0555));
    }

private:
    Tamper tamper_;
    std::filesystem::path target_;
    bool readingTarget_ = false;
};

struct Fault {
    std::string label;
    std::string name; // of the failing file, between m31_R.fit and third.fit
    std::function<void(const ScratchDir&)> make;
    Cause cause;
    test::ChildLimits limits = {};
    Tamper tamper = Tamper::None;
    std::string pathInError = {}; // the input's name unless given
    // Undoes the fault before the next run, for which the failing input is then written anew.
    std::function<void(const ScratchDir&)> undo = {};
    bool nextRunCanSucceed = true; // not for a name that fails by nature
};

void PrintTo(const Fault& fault, std::ostream* out)
{
    *out << fault.label;
}

// Every regular file in `folder`, by name, hidden ones included; also those that a fault made
// unreadable, which the test, as their owner, may read for a moment.
std::map<std::string, Bytes> regularFilesIn(const std::filesystem::path& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        const std::filesystem::perms mode = entry.status().permissions();
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_read, std::filesystem::perm_options::add);
        files[utf8FromPath(entry.path().filename())] = test::readFile(entry.path());
        std::filesystem::permissions(entry.path(), mode);
    }
    return files;
}

void removeFile(const ScratchDir& s, const std::string& name)
{
    std::filesystem::remove_all(s.file(name));
}

void writeImage(const ScratchDir& scratch, const std::string& name)
{
    test::writeFile(scratch.file(name), test::imageWithDropouts(3, {15040, 20000}));
}

// As root the failing run gives up its privileges for the user nobody, who then owns the folder
// and its files as any other user owns theirs.
void giveFolderToUnprivilegedUser([[maybe_unused]] const ScratchDir& scratch)
{
    if (!test::runningAsRoot())
        return;
#ifndef _WIN32
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(::chown(scratch.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    for (const auto& entry : std::filesystem::directory_iterator(scratch.path()))
        ASSERT_EQ(::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
#endif
}

// On Windows, without the owner's write bit the file gets the read-only attribute.
void chmodFile(const ScratchDir& s, const std::string& name, int mode)
{
    std::filesystem::permissions(s.file(name), std::filesystem::perms(mode));
}

#ifdef _WIN32
// Another program's handle on a file of the batch, sharing nothing but reading, until undone.
HANDLE heldFile = INVALID_HANDLE_VALUE;

void holdFile(const ScratchDir& s, const std::string& name, DWORD access)
{
    heldFile = ::CreateFileW(s.file(name).c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(heldFile, INVALID_HANDLE_VALUE);
}

void releaseFile(const ScratchDir&)
{
    ::CloseHandle(std::exchange(heldFile, INVALID_HANDLE_VALUE));
}
#endif

class FaultInjection : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultInjection, stops_the_run_and_loses_nothing)
{
    const Fault& fault = GetParam();
    ScratchDir scratch;
    for (const std::string& name : {kFirst, fault.name, std::string("third.fit")})
        writeImage(scratch, name);
    test::writeFile(scratch.file("failing_R.fit"), kOldOutput); // an earlier output of the failing file
    std::error_code noSuchName; // for a name that forms no output name, or one too long for a file
    if (fault.name.size() >= 4)
        std::filesystem::rename(scratch.file("failing_R.fit"), scratch.file(outputFileName(fault.name, fault.name)), noSuchName);
    fault.make(scratch);
    const std::map<std::string, Bytes> before = regularFilesIn(scratch.path());

    test::MemoryFileList list({kFirst, fault.name, "third.fit"});
    const SelectionState selection{scratch.dirPath(), 4};
    RunValues values;
    TamperingSlot slot(fault.tamper, scratch.file(fault.name));
    // The failing run happens in a child, which gives up root or takes on a limit where the fault
    // asks for it; what only the child can see is checked there and reported with the error.
    const test::ChildOutcome outcome = test::runInChild(fault.limits, [&] {
        const std::optional<Error> error = test::errorOf([&] { runBatch(list, selection, values, slot); });
        std::string report = error ? std::to_string(static_cast<int>(error->cause())) + "\n" + error->path() : "none";
        if (list.entries != std::vector<std::string>{fault.name, "third.fit"})
            report += "\nthe list is not as the failure should leave it";
        if (slot.isOpen())
            report += "\nthe slot was left open";
        throw std::runtime_error(report);
    });

    const std::string path = scratch.dirPath() + (fault.pathInError.empty() ? fault.name : fault.pathInError);
    EXPECT_EQ(outcome.report, std::to_string(static_cast<int>(fault.cause)) + "\n" + path);
    if (fault.tamper == Tamper::LockFolderAfterReading)
        std::filesystem::permissions(scratch.path(), std::filesystem::perms(0755));
    std::map<std::string, Bytes> after = regularFilesIn(scratch.path());
    ASSERT_TRUE(after.contains("m31_R_R.fit")) << "the first output is kept";
    after.erase("m31_R_R.fit");
    if (fault.tamper != Tamper::None && fault.tamper != Tamper::LockFolderAfterReading) {
        after.erase(fault.name); // another program changed it, not the run
        EXPECT_TRUE(before.contains(fault.name));
        std::map<std::string, Bytes> beforeButTampered = before;
        beforeButTampered.erase(fault.name);
        EXPECT_TRUE(after == beforeButTampered) << "inputs and old outputs as they were, nothing else written";
    } else {
        EXPECT_TRUE(after == before) << "inputs and old outputs as they were, nothing else written";
    }

    if (!fault.nextRunCanSucceed)
        return;
    if (fault.undo)
        fault.undo(scratch);
    removeFile(scratch, fault.name);
    writeImage(scratch, fault.name);
    list.entries = {fault.name, "third.fit"};
    FileSlot plainSlot;
    runBatch(list, {selection.dirPath, 3}, values, plainSlot);
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_TRUE(std::filesystem::is_regular_file(scratch.file("third_R.fit")));
}

// The faults that each platform can make; a fault that one cannot is left out there, with the reason.
const std::vector<Fault> kFaults = {
        Fault{.label = "file_removed_after_selection",
              .name = "gone.fit",
              .make = [](const ScratchDir& s) { removeFile(s, "gone.fit"); },
              .cause = Cause::NotFound},
        Fault{.label = "folder_where_a_file_was_expected",
              .name = "folder.fit",
              .make =
                  [](const ScratchDir& s) {
                      removeFile(s, "folder.fit");
                      std::filesystem::create_directory(s.file("folder.fit"));
                  },
              .cause = Cause::IsFolder},
#ifndef _WIN32 // Windows keeps pipes out of folders
        Fault{.label = "fifo_given_as_input",
              .name = "pipe.fit",
              .make =
                  [](const ScratchDir& s) {
                      removeFile(s, "pipe.fit");
                      ::mkfifo(s.file("pipe.fit").c_str(), 0644);
                  },
              .cause = Cause::NotRegularFile},
#endif
#ifndef _WIN32 // Wine enforces no access control lists, and Windows has no mode bits to clear
        Fault{.label = "no_read_permission",
              .name = "private.fit",
              .make =
                  [](const ScratchDir& s) {
                      giveFolderToUnprivilegedUser(s);
                      chmodFile(s, "private.fit", 0000);
                  },
              .cause = Cause::NoPermission,
              .limits = {.unprivileged = true}},
#endif
        Fault{.label = "file_grows_between_measuring_and_reading",
              .name = "growing.fit",
              .make = [](const ScratchDir&) {},
              .cause = Cause::ChangedWhileReading,
              .tamper = Tamper::GrowAfterMeasuring},
#ifndef _WIN32 // the slot's handle shares no writing, so no other program can change the file then
        Fault{.label = "file_shrinks_between_opening_and_reading",
              .name = "shrinking.fit",
              .make = [](const ScratchDir&) {},
              .cause = Cause::ChangedWhileReading,
              .tamper = Tamper::ShrinkAfterOpening},
        Fault{.label = "file_rewritten_in_place_while_read",
              .name = "rewritten.fit",
              .make = [](const ScratchDir&) {},
              .cause = Cause::ChangedWhileReading,
              .tamper = Tamper::RewriteAfterOpening},
#else
        // A capture program still writing the file: the slot cannot share it, and says why.
        Fault{.label = "input_being_written_by_another_program",
              .name = "busy.fit",
              .make = [](const ScratchDir& s) { holdFile(s, "busy.fit", GENERIC_WRITE); },
              .cause = Cause::InUse,
              .undo = releaseFile},
        // A viewer showing the earlier output: Windows renames over no open file.
        Fault{.label = "output_open_in_another_program",
              .name = "viewed.fit",
              .make = [](const ScratchDir& s) { holdFile(s, "viewed_R.fit", GENERIC_READ); },
              .cause = Cause::InUse,
              .pathInError = "viewed_R.fit",
              .undo = releaseFile},
#endif
        Fault{.label = "odd_length",
              .name = "cut.fit",
              .make =
                  [](const ScratchDir& s) {
                      Bytes image = test::imageWithDropouts(3, {15040});
                      image.push_back(0);
                      test::writeFile(s.file("cut.fit"), image);
                  },
              .cause = Cause::OddLength},
        Fault{.label = "not_a_16_bit_image",
              .name = "float.fit",
              .make =
                  [](const ScratchDir& s) {
                      std::vector<std::string> cards = test::imageCards({6080, 3});
                      cards[1] = "BITPIX  =                  -32";
                      Bytes image = test::fitsHeader(cards);
                      image.resize(image.size() + 4 * 6080 * 3, 0x80);
                      test::writeFile(s.file("float.fit"), image);
                  },
              .cause = Cause::NotSixteenBit},
        Fault{.label = "name_too_short_for_the_output_name",
              .name = "abc",
              .make = [](const ScratchDir&) {},
              .cause = Cause::NameTooShort,
              .nextRunCanSucceed = false},
        // 254 characters, one short of the longest name that file systems take; the output's is 256.
        Fault{.label = "output_name_too_long",
              .name = std::string(250, 'x') + ".fit",
              .make = [](const ScratchDir&) {},
              .cause = Cause::NameTooLong,
              .pathInError = std::string(250, 'x') + "_R.fit",
              .nextRunCanSucceed = false},
        // The red channel was processed first; m31.fit's output would now replace it.
        Fault{.label = "output_name_is_a_file_of_the_selection",
              .name = "m31.fit",
              .make = [](const ScratchDir& s) { removeFile(s, kFirst); writeImage(s, kFirst); },
              .cause = Cause::OutputIsSelected,
              .pathInError = kFirst,
              .nextRunCanSucceed = false},
        Fault{.label = "output_name_taken_by_a_folder",
              .name = "taken.fit",
              .make =
                  [](const ScratchDir& s) {
                      removeFile(s, "taken_R.fit");
                      std::filesystem::create_directory(s.file("taken_R.fit"));
                  },
              .cause = Cause::FolderInTheWay,
              .pathInError = "taken_R.fit",
              .undo = [](const ScratchDir& s) { removeFile(s, "taken_R.fit"); }},
        Fault{.label = "write_protected_output",
              .name = "kept.fit",
              .make =
                  [](const ScratchDir& s) {
                      giveFolderToUnprivilegedUser(s);
                      chmodFile(s, "kept_R.fit", 0444);
                  },
              .cause = Cause::WriteProtected,
              .limits = {.unprivileged = true},
              .pathInError = "kept_R.fit",
              .undo = [](const ScratchDir& s) { chmodFile(s, "kept_R.fit", 0644); }},
#ifndef _WIN32 // a folder's read-only attribute does not keep files out of it
        Fault{.label = "no_write_permission_on_the_folder",
              .name = "readonly.fit",
              .make = [](const ScratchDir& s) { giveFolderToUnprivilegedUser(s); },
              .cause = Cause::NoPermission,
              .limits = {.unprivileged = true},
              .tamper = Tamper::LockFolderAfterReading,
              .pathInError = "readonly_R.fit"},
#endif
#ifndef _WIN32 // Windows sets no file size limit on a process
        // The process's own file size limit: an error like any other, never a signal that kills it.
        Fault{.label = "file_size_limit_while_writing",
              .name = "huge.fit",
              .make = [](const ScratchDir& s) { test::writeFile(s.file("huge.fit"), test::imageWithDropouts(100, {15040})); },
              .cause = Cause::FileSizeLimit,
              .limits = {.fileSizeLimit = 600000},
              .pathInError = "huge_R.fit"},
#endif
};

INSTANTIATE_TEST_SUITE_P(Batch, FaultInjection, ::testing::ValuesIn(kFaults), [](const auto& info) { return info.param.label; });

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

    const std::optional<Error> error = test::errorOf([&] { runBatch(list, selection, values, slot); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->cause(), Cause::IsFolder);
    EXPECT_EQ(error->path(), scratch.dirPath());
    EXPECT_TRUE(list.entries.empty());
    EXPECT_FALSE(slot.isOpen());
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>{"a.fit"});
}

// A full disk, made real with a small file system of its own. Wine cannot mount one; for the
// Windows build the test run mounts it where it may (tests/engine/CMakeLists.txt).
TEST(FaultInjection, full_disk_keeps_the_earlier_output_and_leaves_no_temporary_file)
{
#ifdef _WIN32
    const char* const smallDisk = std::getenv("TARNIS_SMALL_DISK");
    ULARGE_INTEGER available {};
    ULARGE_INTEGER capacity {};
    if (smallDisk == nullptr || !::GetDiskFreeSpaceExA(smallDisk, &available, &capacity, nullptr)
        || capacity.QuadPart > (std::uint64_t{1} << 20))
        GTEST_SKIP() << "the test run mounted no small file system (that needs root)";
    const ScratchDir scratch(smallDisk);
    const std::filesystem::path disk = scratch.path();
#else
    if (!test::runningAsRoot())
        GTEST_SKIP() << "mounting the small file system that fills up needs root";
    ScratchDir scratch;
    const std::filesystem::path disk = scratch.path() / "disk";
    std::filesystem::create_directory(disk);
    if (::mount("tarnis-test", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "this machine does not let even root mount a file system";
    struct Unmount {
        std::filesystem::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
#endif

    const Bytes image = test::imageWithDropouts(12, {15040}); // about 150 KB: fits once, not twice
    test::writeFile(disk / "a.fit", image);
    test::writeFile(disk / "a_R.fit", kOldOutput);
    test::MemoryFileList list({"a.fit"});
    const SelectionState selection{utf8FromPath(disk) + kPathSeparator, 2};
    RunValues values;
    FileSlot slot;

    const std::optional<Error> error = test::errorOf([&] { runBatch(list, selection, values, slot); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->cause(), Cause::DiskFull);
    EXPECT_EQ(error->path(), selection.dirPath + "a_R.fit");
    EXPECT_EQ(test::readFile(disk / "a_R.fit"), kOldOutput);
    EXPECT_EQ(test::readFile(disk / "a.fit"), image);
    EXPECT_EQ(test::namesIn(disk), (std::set<std::string>{"a.fit", "a_R.fit"}));
    EXPECT_EQ(list.entries, std::vector<std::string>{"a.fit"});
    EXPECT_FALSE(slot.isOpen());
}

#ifndef _WIN32 // Windows has no open-file limit to set for one process, and Wine counts no handles
// A leaked descriptor per file would end a night's batch of calibration frames half way.
TEST(FaultInjection, a_batch_keeps_no_file_open_from_one_file_to_the_next)
{
    ScratchDir scratch;
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i) {
        names.push_back("dark" + std::to_string(i) + ".fit");
        writeImage(scratch, names.back());
    }
    test::MemoryFileList list(names);
    RunValues values;
    FileSlot slot;
    // Room for what the test process has open already and for one file at a time, not more.
    const auto open = static_cast<unsigned long>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                               std::filesystem::directory_iterator()));
    const test::ChildOutcome outcome = test::runInChild({.openFileLimit = open + 4}, [&] {
        runBatch(list, {scratch.dirPath(), 21}, values, slot);
    });

    EXPECT_TRUE(outcome.succeeded) << outcome.report;
    EXPECT_EQ(test::namesIn(scratch.path()).size(), 40u);
}

// Users do kill a window that looks frozen during a long run. Whenever that happens, the folder
// holds the inputs and complete outputs, and nothing else. Left out on Windows, which cannot fork:
// there a killed run leaves its hidden temporary file to the next write into the folder.
TEST(FaultInjection, a_kill_at_any_moment_leaves_only_the_inputs_and_complete_outputs)
{
    ScratchDir scratch;
    const Bytes image = test::imageWithDropouts(700, {15040, 15040 + 12160 * 300}); // about 8.5 MB
    std::vector<std::string> names;
    for (int i = 0; i < 4; ++i) {
        names.push_back("light" + std::to_string(i) + ".fit");
        test::writeFile(scratch.file(names.back()), image);
    }
    const auto runInChild = [&] {
        const pid_t child = ::fork();
        if (child == 0) {
            test::MemoryFileList list(names);
            RunValues values;
            FileSlot slot;
            runBatch(list, {scratch.dirPath(), 5}, values, slot);
            ::_exit(0);
        }
        return child;
    };
    // A whole run first, for the complete output and for how long a run takes.
    const auto start = std::chrono::steady_clock::now();
    ::waitpid(runInChild(), nullptr, 0);
    const auto runTime = std::chrono::steady_clock::now() - start;
    const Bytes output = test::readFile(scratch.file("light0_R.fit"));
    ASSERT_NE(output, image);

    std::mt19937 random(20261206);
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (attempt % 2 == 0) { // new outputs, and outputs replaced
            for (int i = 0; i < 4; ++i)
                std::filesystem::remove(scratch.file("light" + std::to_string(i) + "_R.fit"));
        }
        const pid_t child = runInChild();
        std::this_thread::sleep_for(runTime * std::uniform_real_distribution<double>(0.0, 1.0)(random));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);

        for (const auto& [name, bytes] : regularFilesIn(scratch.path())) {
            if (name.ends_with("_R.fit"))
                EXPECT_TRUE(bytes == output) << name << " is not a complete output";
            else
                EXPECT_TRUE(bytes == image && std::count(names.begin(), names.end(), name) == 1) << name;
        }
        EXPECT_EQ(test::namesIn(scratch.path()).size(), regularFilesIn(scratch.path()).size());
    }
}

#endif

} // namespace
} // namespace tarnis
