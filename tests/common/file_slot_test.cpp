#include "common/file_slot.h"

#include "common/cause.h"
#include "common/file_names.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/program.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace tarnis {
namespace {

using test::Bytes;
using test::errorOf;

class FileSlotTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return scratch.dirPath() + name; }

    template <typename Action>
    static std::optional<Cause> causeOf(Action action)
    {
        const std::optional<Error> error = errorOf(action);
        return error ? std::optional(error->cause()) : std::nullopt;
    }
    // The file as the caller looks at it before replacing it.
    FileStamp stampOf(const std::string& name)
    {
        FileSlot looking;
        looking.openForReading(path(name));
        return looking.stamp();
    }

    test::ScratchDir scratch;
    FileSlot slot;
};

// What a file name can lead to besides a file: a FIFO, or on Windows, where folders hold no pipes,
// a device name, which leads to the device in any folder.
#ifdef _WIN32
const std::string kSpecial = "NUL";
void makeSpecial(const std::filesystem::path&) {}
#else
const std::string kSpecial = "pipe.fit";
void makeSpecial(const std::filesystem::path& path) { ::mkfifo(path.c_str(), 0644); }
#endif

// Whatever else a name can lead to is refused, measured, opened or written to: a FIFO is not
// waited on, and nothing is written into a folder that is not there.
TEST_F(FileSlotTest, takes_regular_files_only_and_says_what_it_found_instead)
{
    test::writeFile(scratch.file("a.fit"), Bytes(1234));
    std::filesystem::create_directory(scratch.file("folder"));
    makeSpecial(scratch.file(kSpecial));

    EXPECT_EQ(fileLengthByName(path("a.fit")), 1234);
    EXPECT_EQ(causeOf([&] { (void)fileLengthByName(path("none.fit")); }), Cause::NotFound);
    EXPECT_EQ(causeOf([&] { (void)fileLengthByName(path("folder")); }), Cause::IsFolder);
    EXPECT_EQ(causeOf([&] { (void)fileLengthByName(path(kSpecial)); }), Cause::NotRegularFile);
    EXPECT_EQ(causeOf([&] { slot.openForReading(path(kSpecial)); }), Cause::NotRegularFile);
    EXPECT_EQ(causeOf([&] { slot.openForWriting(path("folder"), std::nullopt); }),
              Cause::FolderInTheWay);
    EXPECT_EQ(causeOf([&] { slot.openForWriting(path(kSpecial), std::nullopt); }),
              Cause::NotRegularFile);
    const std::optional<Error> missing = errorOf(
        [&] { slot.openForWriting(path("missing/out.fit"), std::nullopt); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(std::make_tuple(missing->cause(), missing->path(), missing->action()),
              std::make_tuple(Cause::NotFound, path("missing/out.fit"), FileAction::Write));
    EXPECT_FALSE(slot.isOpen());
    std::set<std::string> left = test::namesIn(scratch.path());
    left.erase(kSpecial);
    EXPECT_EQ(left, (std::set<std::string>{"a.fit", "folder"}));
}

class Writing : public FileSlotTest, public ::testing::WithParamInterface<TemporaryFiles> {
protected:
    Writing() : writer(GetParam()) {}
    FileSlot writer;
};

// Only the file looked at is replaced, and only while it is as it was looked at: neither a file
// that is there unexpected, nor one that appears or is replaced before the commit, nor one that is
// write-protected (for root too).
TEST_P(Writing, shows_nothing_under_the_name_until_committed_and_replaces_only_the_file_expected)
{
    const Bytes old(100, 0xEE);
    const Bytes fresh = {1, 2, 3};
    test::writeFile(scratch.file("out.fit"), old);
    std::filesystem::permissions(scratch.file("out.fit"), std::filesystem::perms(0640));

    writer.openForWriting(path("out.fit"), stampOf("out.fit"));
    writer.writeAt(0, Bytes(10, 1));
    writer.close();
    EXPECT_EQ(causeOf([&] { writer.openForWriting(path("out.fit"), std::nullopt); }),
              Cause::OutputChanged);
    writer.openForWriting(path("appears.fit"), std::nullopt);
    writer.writeAt(0, fresh);
    test::writeFile(scratch.file("appears.fit"), old);
    EXPECT_EQ(causeOf([&] { (void)writer.commit(); }), Cause::OutputChanged);
    writer.close();
    writer.openForWriting(path("out.fit"), stampOf("out.fit"));
    writer.writeAt(0, fresh);
    EXPECT_EQ(test::readFile(scratch.file("out.fit")), old);
    test::writeFile(scratch.file("out.fit"), Bytes(101, 0xEE)); // replaced meanwhile
    EXPECT_EQ(causeOf([&] { (void)writer.commit(); }), Cause::OutputChanged);
    writer.close();
    EXPECT_EQ(test::namesIn(scratch.path()), (std::set<std::string>{"appears.fit", "out.fit"}));
    EXPECT_EQ(test::readFile(scratch.file("appears.fit")), old);

    std::filesystem::permissions(scratch.file("out.fit"), std::filesystem::perms(0640));
    writer.openForWriting(path("out.fit"), stampOf("out.fit"));
    writer.writeAt(0, fresh);
    writer.commit();
    writer.openForWriting(path("new.fit"), std::nullopt, 0640);
    writer.writeAt(0, fresh);
    writer.commit();

    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(test::readFile(scratch.file("out.fit")), fresh);
    EXPECT_EQ(test::readFile(scratch.file("new.fit")), fresh);
    EXPECT_EQ(test::namesIn(scratch.path()),
              (std::set<std::string>{"appears.fit", "new.fit", "out.fit"}));
#ifdef _WIN32
    // The temporary file is hidden; the output it becomes is not. Windows files have no mode bits.
    for (const char* name : {"out.fit", "new.fit"})
        EXPECT_EQ(::GetFileAttributesW(scratch.file(name).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u)
            << name;
#else
    // A replaced output keeps its permissions; a new one gets those asked for, less the umask.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(std::filesystem::status(scratch.file("out.fit")).permissions(),
              std::filesystem::perms(0640));
    EXPECT_EQ(std::filesystem::status(scratch.file("new.fit")).permissions(),
              std::filesystem::perms(0640 & ~mask));
#endif
    std::filesystem::permissions(scratch.file("new.fit"), std::filesystem::perms(0444));
    EXPECT_EQ(causeOf([&] { writer.openForWriting(path("new.fit"), stampOf("new.fit")); }),
              Cause::WriteProtected);
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(FileSlot, Writing,
                         ::testing::Values(TemporaryFiles::UnnamedWherePossible, TemporaryFiles::Named),
                         [](const auto& info) { return info.param == TemporaryFiles::Named ? "named" : "unnamed"; });
// clang-format on

// The write names its output without a folder, as "tarnis-repair a.fit" does: the working folder
// is cleaned up as any other.
TEST_F(FileSlotTest, a_write_removes_temporary_files_of_killed_writers_only)
{
    const auto age = [&](const std::string& name) {
#ifdef _WIN32
        // Through a handle that asks for nothing but the times, which no sharing mode keeps out.
        const HANDLE file = ::CreateFileW(scratch.file(name).c_str(), FILE_WRITE_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME time{};
        ::GetSystemTimeAsFileTime(&time);
        const std::uint64_t anHourAgo = (std::uint64_t{time.dwHighDateTime} << 32
                                         | time.dwLowDateTime)
                                        - 36'000'000'000u;
        time = {static_cast<DWORD>(anHourAgo), static_cast<DWORD>(anHourAgo >> 32)};
        EXPECT_TRUE(::SetFileTime(file, nullptr, nullptr, &time));
        ::CloseHandle(file);
#else
        const std::timespec anHourAgo[2] = {{std::time(nullptr) - 3600, 0},
                                            {std::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, scratch.file(name).c_str(), anHourAgo, 0);
#endif
    };
    // Another process writing into the same folder: its file is locked, however old it looks.
    FileSlot running(TemporaryFiles::Named);
    running.openForWriting(path("running.fit"), std::nullopt);
    const std::set<std::string> runningTemporary = test::namesIn(scratch.path());
    ASSERT_EQ(runningTemporary.size(), 1u);
    age(*runningTemporary.begin());
    const std::set<std::string> users = {".tarnis-notes.tmp", "tarnis-2222222222222222.tmp"};
    for (const char* name :
         {".tarnis-notes.tmp", "tarnis-2222222222222222.tmp", ".tarnis-0123456789abcdef.tmp"}) {
        test::writeFile(scratch.file(name), Bytes(3));
        age(name);
    }
    // Just created by a writer that may not have locked it yet.
    test::writeFile(scratch.file(".tarnis-1111111111111111.tmp"), Bytes(3));

    const std::filesystem::path working = std::filesystem::current_path();
    std::filesystem::current_path(scratch.path());
    slot.openForWriting("out.fit", std::nullopt);
    slot.commit();
    std::filesystem::current_path(working);

    std::set<std::string> expected = users;
    expected.insert(*runningTemporary.begin());
    expected.insert({".tarnis-1111111111111111.tmp", "out.fit"});
    EXPECT_EQ(test::namesIn(scratch.path()), expected);
}

// A writer killed before its commit leaves nothing: its file has no name (Linux), or the system
// removes it as the process ends (Windows).
TEST_F(FileSlotTest, a_killed_writer_leaves_nothing_behind)
{
    EXPECT_NE(test::runProgram(TARNIS_KILLED_WRITER, {path("out.fit")}, scratch.path()).exitStatus,
              0);
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>{});
}

#ifdef _WIN32
// "C:out.fit" run from another drive names a file in drive C's working folder: the temporary file
// goes there too, on the output's own volume, from which alone it can be moved in one step.
TEST_F(FileSlotTest, a_path_relative_to_another_drive_writes_on_that_drive)
{
    const std::wstring folder = scratch.path().wstring();
    const std::wstring drive = folder.substr(0, 2);
    const std::wstring other = drive == L"Z:" ? L"C:\\" : L"Z:\\";
    const std::filesystem::path working = std::filesystem::current_path();
    ASSERT_TRUE(::SetEnvironmentVariableW((L"=" + drive).c_str(), folder.c_str())
                && ::SetCurrentDirectoryW(other.c_str()));
    slot.openForWriting(utf8FromPath(drive) + "out.fit", std::nullopt);
    const std::set<std::string> whileWritten = test::namesIn(scratch.path());
    slot.writeAt(0, Bytes(3, 2));
    slot.commit();
    std::filesystem::current_path(working);
    EXPECT_EQ(whileWritten.size(), 1u);
    EXPECT_EQ(test::readFile(scratch.file("out.fit")), Bytes(3, 2));
}

// A virus scanner holds the old output for a moment just as the new one is put in place.
TEST_F(FileSlotTest, puts_the_output_in_place_once_a_brief_hold_on_the_old_one_passes)
{
    test::writeFile(scratch.file("out.fit"), Bytes(5, 1));
    slot.openForWriting(path("out.fit"), stampOf("out.fit"));
    slot.writeAt(0, Bytes(3, 2));
    const HANDLE held = ::CreateFileW(scratch.file("out.fit").c_str(), GENERIC_READ, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    std::thread release([held] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        ::CloseHandle(held);
    });
    EXPECT_NO_THROW(slot.commit());
    release.join();
    EXPECT_EQ(test::readFile(scratch.file("out.fit")), Bytes(3, 2));
}
#endif

// A night's session in folders of long names leads past 260 characters, the most that Windows
// takes in a path unless the path has the \\?\ form. Between the folders "/", as Qt writes paths.
// The folders' paths stay below the limit, for the test's own calls.
TEST_F(FileSlotTest, reads_and_writes_paths_longer_than_max_path)
{
    std::filesystem::path folder = scratch.path();
    std::string path = scratch.dirPath();
    for (const char* name : {"2024-01-10 オリオン座大星雲 M42 ", "ライト 300 秒 ゲイン 120 "}) {
        folder /= pathFromUtf8(name + std::string(60, 'x'));
        path += name + std::string(60, 'x') + "/";
    }
    std::filesystem::create_directories(folder);
    path += "M42_ライト_" + std::string(60, '0') + ".fit";
    ASSERT_GT(pathFromUtf8(path).u16string().size(), 260u);
    const Bytes content = {1, 2, 3, 4};

    slot.openForWriting(path, std::nullopt);
    slot.writeAt(0, content);
    slot.commit();
    Bytes read(content.size());
    slot.openForReading(path);
    slot.readAt(0, read);
    slot.close();

    EXPECT_EQ(read, content);
    EXPECT_EQ(fileLengthByName(path), 4);
    EXPECT_TRUE(fileIdentityByName(path));
    EXPECT_EQ(test::namesIn(folder).size(), 1u);
}

} // namespace
} // namespace tarnis
