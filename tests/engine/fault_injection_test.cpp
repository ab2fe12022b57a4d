// Faults injected into a batch of three read-only files, the second of which fails: one fault for
// each step where a run can fail. Whatever the fault, the run must stop there with an error that
// names the file and the cause; the inputs stay byte-identical; the first output is kept and
// nothing else is written (an earlier output of the failing file, which the run would renew, stays as
// it was, and no temporary file is left); the list keeps the failing entry on top; the slot is
// closed; and once the cause is gone, the next run goes through.
#include "engine/batch.h"

#include "common/cause.h"
#include "common/file_names.h"
#include "tests/support/child_process.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iterator>
#include <cstdlib>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/vfs.h>
#include <unistd.h>
#endif

namespace tarnis {
namespace {

using test::Bytes;
using test::ScratchDir;
namespace fs = std::filesystem;

// The first file of every batch is the red channel of m31.fit, named as LRGB imaging names it.
const std::string kFirst = "m31_R.fit";

// Another program's hand on the failing file, at the moments the batch cannot guard.
enum class Tamper {
    None,
    GrowAfterMeasuring,
    RewriteWhileCopied,
    WriteThroughMapping,
    LockFolderAfterReading,
    RewriteBeforeConfirming,
    RewriteBeforeCopying,
    SameBytesWrittenBackWhileCopied
};

class TamperingSlot : public FileSlot {
public:
    TamperingSlot(Tamper tamper, fs::path target, ChangeWatch watch)
        : FileSlot(TemporaryFiles::UnnamedWherePossible, watch), tamper_(tamper),
          target_(std::move(target))
    {
    }

    void openForReading(const std::string& path) override
    {
        const bool target = path == utf8FromPath(target_);
        if (tamper_ == Tamper::GrowAfterMeasuring && target)
            fs::resize_file(target_, fs::file_size(target_) + 2);
        if (tamper_ == Tamper::LockFolderAfterReading && target)
            fs::permissions(target_.parent_path(), fs::perms(0555));
#ifndef _WIN32
        // A capture program writing its frame through a shared mapping: the file stays open for
        // writing, and writes to pages it has written already change none of the file's times.
        if (tamper_ == Tamper::WriteThroughMapping && target && mapping_ == nullptr) {
            const int file = ::open(target_.c_str(), O_RDWR);
            mapping_ = static_cast<volatile char*>(
                ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, file, 0));
            mapping_[3000] = mapping_[3000];
        }
#endif
        FileSlot::openForReading(path);
    }

    void copyFrom(const std::string& source, const FileStamp& expected) override
    {
        // Rewritten at the same length after it was read and confirmed, before its copy begins.
        if (tamper_ == Tamper::RewriteBeforeCopying && source == utf8FromPath(target_)) {
            Bytes bytes = test::readFile(target_);
            bytes[3000] ^= 1;
            test::writeFile(target_, bytes);
        }
        FileSlot::copyFrom(source, expected);
        if (source != utf8FromPath(target_))
            return;
        copied_ = true;
#ifndef _WIN32
        // A program that opens the file for writing while it is copied, and rewrites it in place at
        // the same length, as FITS libraries do, once the system lets it.
        if (tamper_ == Tamper::RewriteWhileCopied) {
            const int file = ::open(target_.c_str(), O_RDWR | O_NONBLOCK);
            if (file >= 0)
                (void)!::pwrite(file, "rewritten", 9, 100), ::close(file);
        }
#endif
        if (tamper_ == Tamper::WriteThroughMapping && mapping_ != nullptr)
            mapping_[3001] = static_cast<char>(mapping_[3001] ^ 1);
    }

    void confirmUnchanged() override
    {
        // Another program rewrote the frame in place while it was being read.
        if (tamper_ == Tamper::RewriteBeforeConfirming) {
            Bytes bytes = test::readFile(target_);
            bytes[3000] ^= 1;
            fs::permissions(target_, fs::perms(0644));
            test::writeFile(target_, bytes);
        }
        // The same bytes written back: only the file's times tell.
        if (tamper_ == Tamper::SameBytesWrittenBackWhileCopied && copied_)
            test::writeFile(target_, test::readFile(target_));
        FileSlot::confirmUnchanged();
    }

private:
    Tamper tamper_;
    fs::path target_;
    volatile char* mapping_ =
        nullptr; // left to the child process's end, with the file open for writing
    bool copied_ = false;
};

using Make = std::function<void(const ScratchDir&)>;

struct Fault {
    std::string label;
    std::string name; // of the failing file, between m31_R.fit and third.fit
    Make make;
    Cause cause;
    std::string pathInError = {}; // the input's name unless given
    test::ChildLimits limits = {};
    Tamper tamper = Tamper::None;
    Make undo = {}; // before the next run, for which the failing input is written anew
    bool nextRunCanSucceed = true; // not for a name that fails by nature
    ChangeWatch watch = ChangeWatch::WherePossible;
};

void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.label; }

// Every regular file in `folder` by name, hidden ones included, and unreadable ones, which the
// test as their owner may read for a moment.
std::map<std::string, Bytes> regularFilesIn(const fs::path& folder)
{
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        const fs::perms mode = entry.status().permissions();
        fs::permissions(entry.path(), fs::perms::owner_read, fs::perm_options::add);
        files[utf8FromPath(entry.path().filename())] = test::readFile(entry.path());
        fs::permissions(entry.path(), mode);
    }
    return files;
}

void removeFile(const ScratchDir& s, const std::string& name)
{
    std::error_code ignored;
    fs::permissions(s.file(name), fs::perms::owner_write, fs::perm_options::add, ignored);
    fs::remove_all(s.file(name));
}

// The inputs are read-only, as the run must not need to write them. On Windows, a mode without the
// owner's write bit is the read-only attribute.
void writeInput(const ScratchDir& s, const std::string& name,
                const Bytes& bytes = test::imageWithDropouts(3, {15040, 20000}))
{
    removeFile(s, name);
    test::writeFile(s.file(name), bytes);
    fs::permissions(s.file(name), fs::perms(0444));
}

// As root the failing run gives up its privileges for the user nobody, who then owns the folder
// and its files as any other user owns theirs.
void giveFolderToUnprivilegedUser([[maybe_unused]] const ScratchDir& s)
{
#ifndef _WIN32
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    for (const auto& entry : fs::directory_iterator(s.path()))
        ASSERT_TRUE(!test::runningAsRoot()
                    || ::lchown(entry.path().c_str(), nobody->pw_uid, nobody->pw_gid) == 0);
    ASSERT_TRUE(!test::runningAsRoot()
                || ::chown(s.path().c_str(), nobody->pw_uid, nobody->pw_gid) == 0);
#endif
}

#ifdef _WIN32
// Another program's handle on a file of the batch, sharing nothing but reading, until undone.
HANDLE heldFile = INVALID_HANDLE_VALUE;

Make holding(const std::string& name, DWORD access)
{
    return [=](const ScratchDir& s) {
        heldFile = ::CreateFileW(s.file(name).c_str(), access, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(heldFile, INVALID_HANDLE_VALUE);
    };
}

void release(const ScratchDir&) { ::CloseHandle(std::exchange(heldFile, INVALID_HANDLE_VALUE)); }
#endif

class FaultInjection : public ::testing::TestWithParam<Fault> {};

TEST_P(FaultInjection, stops_the_run_and_loses_nothing)
{
    const Fault& fault = GetParam();
    ScratchDir scratch;
    for (const std::string& name : {kFirst, fault.name, std::string("third.fit")})
        if (!name.empty())
            writeInput(scratch, name);
    try { // an earlier output of the failing file, where its name can be formed and fits the file system
        test::writeFile(scratch.file(outputFileName(fault.name, "")),
                        test::readFile(scratch.file(fault.name)));
    } catch (const std::exception&) {
    }
    fault.make(scratch);
    const std::map<std::string, Bytes> before = regularFilesIn(scratch.path());

    test::MemoryFileList list({kFirst, fault.name, "third.fit"});
    const SelectionState selection{scratch.dirPath(), 4};
    RunValues values;
    TamperingSlot slot(fault.tamper, scratch.file(fault.name), fault.watch);
    // The failing run happens in a child, which gives up root or takes on a limit where the fault
    // asks for it; what only the child can see is checked there and reported with the error.
    const test::ChildOutcome outcome = test::runInChild(fault.limits, [&] {
        const std::optional<Error> error = test::errorOf(
            [&] { runBatch(list, selection, values, slot); });
        std::string report = error ? std::string(causeName(error->cause())) + "\n" + error->path()
                                   : "no error";
        if (list.entries != std::vector<std::string>{fault.name, "third.fit"})
            report += "\nthe list is not as the failure should leave it";
        if (slot.isOpen())
            report += "\nthe slot was left open";
        throw std::runtime_error(report);
    });

    EXPECT_EQ(outcome.report, std::string(causeName(fault.cause)) + "\n" + scratch.dirPath()
                                  + (fault.pathInError.empty() ? fault.name : fault.pathInError));
    if (fault.tamper == Tamper::LockFolderAfterReading)
        fs::permissions(scratch.path(), fs::perms(0755));
    std::map<std::string, Bytes> after = regularFilesIn(scratch.path());
    EXPECT_EQ(after.erase("m31_R_R.fit"), 1u) << "the first output is kept";
    std::map<std::string, Bytes> expected = before;
    if (fault.tamper != Tamper::None && fault.tamper != Tamper::LockFolderAfterReading)
        after.erase(fault.name),
            expected.erase(fault.name); // another program changed it, not the run
    EXPECT_TRUE(after == expected) << "inputs and old outputs as they were, nothing else written";

    if (!fault.nextRunCanSucceed)
        return;
    if (fault.undo)
        fault.undo(scratch);
    writeInput(scratch, fault.name);
    list.entries = {fault.name, "third.fit"};
    FileSlot plainSlot;
    runBatch(list, {selection.dirPath, 3}, values, plainSlot);
    EXPECT_EQ(list.entries, std::vector<std::string>{test::kCompletionText});
    EXPECT_TRUE(fs::is_regular_file(scratch.file("third_R.fit")));
}

const Make nothing = [](const ScratchDir&) {};

// A file that another program still writes is not read-only.
Make writable(const std::string& name)
{
    return [=](const ScratchDir& s) { fs::permissions(s.file(name), fs::perms(0644)); };
}

// The faults that each platform can make; a fault that one cannot is left out there, with the reason.
// A table reads best one case to a line.
// clang-format off
const std::vector<Fault> kFaults = {
    // Measuring: the file removed after the selection (a folder or a FIFO in its place fails here too).
    Fault{.label = "file_removed_after_selection", .name = "gone.fit", .make = [](const ScratchDir& s) { removeFile(s, "gone.fit"); }, .cause = Cause::NotFound},
    // A cancelled selection leaves an empty list and the count: the input path is the folder itself.
    Fault{.label = "empty_name_after_a_cancelled_selection", .name = "", .make = nothing, .cause = Cause::IsFolder, .nextRunCanSucceed = false},
#ifndef _WIN32 // Wine enforces no access control lists, and Windows has no mode bits to clear
    Fault{.label = "no_read_permission", .name = "private.fit", .make = [](const ScratchDir& s) { giveFolderToUnprivilegedUser(s), fs::permissions(s.file("private.fit"), fs::perms::none); }, .cause = Cause::NoPermission, .limits = {.unprivileged = true}},
#endif
    Fault{.label = "file_grows_between_measuring_and_reading", .name = "growing.fit", .make = writable("growing.fit"), .cause = Cause::ChangedWhileReading, .tamper = Tamper::GrowAfterMeasuring},
#ifndef _WIN32 // the slot's handle shares no writing there, so no other program can change the file meanwhile
    Fault{.label = "file_rewritten_in_place_while_copied", .name = "rewritten.fit", .make = writable("rewritten.fit"), .cause = Cause::ChangedWhileReading, .tamper = Tamper::RewriteWhileCopied},
    // Told by the lease: the writer has the file open. Where no lease is granted, by a second read.
    Fault{.label = "input_written_through_a_shared_mapping", .name = "mapped.fit", .make = writable("mapped.fit"), .cause = Cause::InUse, .tamper = Tamper::WriteThroughMapping},
    Fault{.label = "input_written_through_a_shared_mapping_where_no_lease_is_granted", .name = "mapped.fit", .make = writable("mapped.fit"), .cause = Cause::ChangedWhileReading, .tamper = Tamper::WriteThroughMapping, .watch = ChangeWatch::ReadTwice},
    Fault{.label = "same_bytes_written_back_while_copied_where_no_lease_is_granted", .name = "touched.fit", .make = writable("touched.fit"), .cause = Cause::ChangedWhileReading, .tamper = Tamper::SameBytesWrittenBackWhileCopied, .watch = ChangeWatch::ReadTwice},
#else
    // A capture program still writing the file, and a viewer showing the earlier output.
    Fault{.label = "input_being_written_by_another_program", .name = "busy.fit", .make = holding("busy.fit", GENERIC_WRITE), .cause = Cause::InUse, .undo = release},
    Fault{.label = "output_open_in_another_program", .name = "viewed.fit", .make = holding("viewed_R.fit", GENERIC_READ), .cause = Cause::InUse, .pathInError = "viewed_R.fit", .undo = release},
#endif
    // Between the read's check and the copy: what would be copied is no longer what was read.
    Fault{.label = "file_rewritten_between_its_read_and_its_copy", .name = "recopied.fit", .make = writable("recopied.fit"), .cause = Cause::ChangedWhileReading, .tamper = Tamper::RewriteBeforeCopying},
    Fault{.label = "odd_length", .name = "cut.fit", .make = [](const ScratchDir& s) {
              Bytes image = test::imageWithDropouts(3, {15040});
              image.push_back(0);
              writeInput(s, "cut.fit", image);
          }, .cause = Cause::OddLength},
    Fault{.label = "not_a_16_bit_image", .name = "float.fit", .make = [](const ScratchDir& s) { writeInput(s, "float.fit", test::floatImage()); }, .cause = Cause::NotSixteenBit},
    // The red channel was processed first; m31.fit's output would now replace it.
    Fault{.label = "output_name_is_a_file_of_the_selection", .name = "m31.fit", .make = [](const ScratchDir& s) { writeInput(s, kFirst, test::imageWithDropouts(4, {})); }, .cause = Cause::OutputIsSelected, .pathInError = kFirst, .nextRunCanSucceed = false},
    // One its user may not write: as root, one of root's that the run, as nobody, may only read (one
    // that nobody may write is kept for root too, as the file slot's test shows); else one without
    // write permission.
    Fault{.label = "write_protected_output", .name = "kept.fit", .make = [](const ScratchDir& s) {
              giveFolderToUnprivilegedUser(s);
              fs::permissions(s.file("kept_R.fit"), fs::perms(test::runningAsRoot() ? 0644 : 0444));
#ifndef _WIN32
              ASSERT_TRUE(!test::runningAsRoot() || ::lchown(s.file("kept_R.fit").c_str(), 0, 0) == 0);
#endif
          }, .cause = Cause::WriteProtected, .pathInError = "kept_R.fit", .limits = {.unprivileged = true}, .undo = [](const ScratchDir& s) { removeFile(s, "kept_R.fit"); }},
    // 254 characters, one short of the longest name that file systems take; the output's is 256.
    Fault{.label = "output_name_too_long", .name = std::string(250, 'x') + ".fit", .make = nothing, .cause = Cause::NameTooLong, .pathInError = std::string(250, 'x') + "_R.fit", .nextRunCanSucceed = false},
#ifndef _WIN32 // a folder's read-only attribute does not keep files out of it, and Windows has no file size limit
    Fault{.label = "no_write_permission_on_the_folder", .name = "readonly.fit", .make = giveFolderToUnprivilegedUser, .cause = Cause::NoPermission, .pathInError = "readonly_R.fit", .limits = {.unprivileged = true}, .tamper = Tamper::LockFolderAfterReading},
    // The process's own file size limit: an error like any other, never a signal that kills it.
    Fault{.label = "file_size_limit_while_writing", .name = "huge.fit", .make = [](const ScratchDir& s) {
              writeInput(s, "huge.fit", test::imageWithDropouts(100, {}));
              test::writeFile(s.file("huge_R.fit"), test::imageWithDropouts(100, {}));
          }, .cause = Cause::FileSizeLimit, .pathInError = "huge_R.fit", .limits = {.fileSizeLimit = 600000}, .undo = [](const ScratchDir& s) { removeFile(s, "huge_R.fit"); }},
#endif
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Batch, FaultInjection, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return info.param.label; });

#ifndef _WIN32 // Windows has no open-file limit for one process, and Wine cannot mount a small disk
// A full disk, made real with a small file system of its own, which only root may mount.
TEST(FaultInjection, full_disk_keeps_the_earlier_output_and_leaves_no_temporary_file)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "mounting the small file system that fills up needs root";
    ScratchDir scratch;
    const fs::path disk = scratch.path() / "disk";
    fs::create_directory(disk);
    if (::mount("tarnis-test", disk.c_str(), "tmpfs", 0, "size=256k") != 0)
        GTEST_SKIP() << "this machine does not let even root mount a file system";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    const Bytes image = test::imageWithDropouts(
        8, {15040}); // about 100 KB: fits twice, not three times
    const Bytes oldOutput = test::imageWithDropouts(8, {});
    test::writeFile(disk / "a.fit", image);
    test::writeFile(disk / "a_R.fit", oldOutput);
    test::MemoryFileList list({"a.fit"});
    RunValues values;
    FileSlot slot;

    EXPECT_ERROR(runBatch(list, {utf8FromPath(disk) + "/", 2}, values, slot), Cause::DiskFull,
                 utf8FromPath(disk / "a_R.fit"));
    EXPECT_TRUE(regularFilesIn(disk)
                == (std::map<std::string, Bytes>{{"a.fit", image}, {"a_R.fit", oldOutput}}));
    EXPECT_FALSE(slot.isOpen());
}

// An SD card as Linux reads it: FAT through FUSE, which ignores letter case and gives each
// spelling of a name a number of its own, keeps times to two seconds, and has neither unnamed files
// nor links. A chosen file under another spelling of an output's name is kept, as is any other
// file there; an earlier output, however spelt, is renewed; a frame written through a mapping while
// it is read is never an output; and no lease is trusted there.
TEST(FaultInjection, a_card_that_ignores_letter_case_loses_nothing)
{
    if (!test::runningAsRoot())
        GTEST_SKIP() << "mounting a FAT image through FUSE needs root";
    if (!fs::exists("/dev/fuse")
        || std::system("{ command -v fusefat && command -v mkfs.vfat; } >/dev/null") != 0)
        GTEST_SKIP()
            << "FUSE, fusefat or mkfs.vfat is missing (scripts/setup.sh installs the last two)";
    ScratchDir scratch;
    const fs::path card = scratch.path() / "card";
    fs::create_directory(card);
    test::writeFile(scratch.file("card.img"), {});
    fs::resize_file(scratch.file("card.img"), 8 << 20);
    struct statfs mounted {};
    const std::string image = scratch.file("card.img").string();
    if (std::system(("{ mkfs.vfat " + image + " && fusefat -o rw+ " + image + " " + card.string()
                     + "; } >/dev/null")
                        .c_str())
            != 0
        || ::statfs(card.c_str(), &mounted) != 0 || mounted.f_type != 0x65735546)
        GTEST_SKIP() << "this machine does not let FUSE mount the image";
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{card};
    const std::string folder = utf8FromPath(card) + "/";
    const Bytes frame = test::imageWithDropouts(3, {15040});
    const Bytes red = test::imageWithDropouts(4, {});
    test::writeFile(card / "a.fit", frame);
    test::writeFile(card / "A_R.FIT", red);
    test::writeFile(card / "b.fit", frame);
    test::writeFile(card / "B_R.FIT", frame); // an earlier output of b.fit
    const auto run = [&](std::vector<std::string> names, FileSlot&& slot = FileSlot()) {
        test::MemoryFileList list(names);
        RunValues values;
        const std::optional<Error> error = test::errorOf([&] {
            runBatch(list, {folder, static_cast<std::int32_t>(names.size() + 1)}, values, slot);
        });
        return error ? std::optional(std::make_pair(error->cause(), error->path())) : std::nullopt;
    };

    EXPECT_EQ(run({"a.fit", "A_R.FIT"}),
              std::make_pair(Cause::OutputIsSelected, folder + "a_R.fit"));
    EXPECT_EQ(run({"a.fit"}), std::make_pair(Cause::NotAnEarlierOutput, folder + "a_R.fit"));
    EXPECT_EQ(run({"B_R.FIT", "b.fit"}), std::nullopt);
    EXPECT_EQ(test::namesIn(card), (std::set<std::string>{"a.fit", "A_R.FIT", "b.fit", "b_R.fit"}))
        << "renewed under its new spelling";
    EXPECT_TRUE(test::readFile(card / "a.fit") == frame && test::readFile(card / "A_R.FIT") == red);
    EXPECT_NE(test::readFile(card / "B_R.FIT"), frame) << "renewed";
    // A lease there tells only of writers through this kernel, not of the daemon's own: the input is
    // read again instead, as on a local file system only where no lease is granted.
    const auto watched = [](const std::string& path) {
        FileSlot slot;
        slot.openForReading(path);
        return slot.watched();
    };
    EXPECT_FALSE(watched(folder + "b.fit"));
    test::writeFile(scratch.file("local.fit"), frame);
    const Bytes leases = test::readFile("/proc/sys/fs/leases-enable");
    EXPECT_EQ(watched(scratch.dirPath() + "local.fit"), !leases.empty() && leases[0] == '1');
    for (const auto& [watch, cause] : {std::pair{ChangeWatch::WherePossible, Cause::InUse},
                                       {ChangeWatch::ReadTwice, Cause::ChangedWhileReading}})
        EXPECT_EQ(run({"b.fit"}, TamperingSlot(Tamper::WriteThroughMapping, card / "b.fit", watch)),
                  std::pair(cause, folder + "b.fit"));
}

// A leaked descriptor per file would end a night's batch of calibration frames half way.
TEST(FaultInjection, a_batch_keeps_no_file_open_from_one_file_to_the_next)
{
    ScratchDir scratch;
    std::vector<std::string> names;
    for (int i = 0; i < 20; ++i)
        writeInput(scratch, names.emplace_back("dark" + std::to_string(i) + ".fit"));
    test::MemoryFileList list(names);
    RunValues values;
    FileSlot slot;
    // Room for what the test process has open already and for one file at a time, not more.
    const auto open = static_cast<unsigned long>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
    const test::ChildOutcome outcome = test::runInChild({.openFileLimit = open + 4}, [&] {
        runBatch(list, {scratch.dirPath(), 21}, values, slot);
    });

    EXPECT_TRUE(outcome.succeeded) << outcome.report;
    EXPECT_EQ(test::namesIn(scratch.path()).size(), 40u);
}
#endif

#ifndef _WIN32 // the slot's handle shares no writing there, so no other program can change the file meanwhile
// --check writes nothing, so its counts are all it gives: they must not come from a changing file.
TEST(FaultInjection, a_check_of_a_file_rewritten_while_read_says_so_rather_than_count_it)
{
    ScratchDir scratch;
    writeInput(scratch, "a.fit");
    FileSlot lookingSlot;
    RunFiles files({{scratch.dirPath(), "a.fit"}}, lookingSlot,
                   {.checkOnly = true, .outputFolder = std::nullopt});
    RunValues run;
    TamperingSlot slot(Tamper::RewriteBeforeConfirming, scratch.file("a.fit"),
                       ChangeWatch::ReadTwice);

    EXPECT_ERROR(repairFile(scratch.dirPath(), "a.fit", 0, files, run, slot),
                 Cause::ChangedWhileReading, scratch.dirPath() + "a.fit");
}
#endif

} // namespace
} // namespace tarnis
