#include "common/file_slot.h"

#include "common/error.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

#include <sys/stat.h>

namespace tarnis {
namespace {

using test::Bytes;
using ::testing::HasSubstr;

class FileSlotTest : public ::testing::Test {
protected:
    std::string path(const std::string& name) const { return scratch.dirPath() + name; }

    // The description of the Error that `action` throws, or a failure when it throws none.
    template <typename Action>
    std::string errorOf(Action action)
    {
        try {
            action();
        } catch (const Error& error) {
            return error.what();
        }
        ADD_FAILURE() << "no error";
        return {};
    }

    test::ScratchDir scratch;
    FileSlot slot;
};

TEST_F(FileSlotTest, measures_only_regular_files_by_name)
{
    test::writeFile(scratch.file("a.fit"), Bytes(1234));
    std::filesystem::create_directory(scratch.file("folder"));
    ::mkfifo(scratch.file("pipe").c_str(), 0644);

    EXPECT_EQ(fileLengthByName(path("a.fit")), 1234);
    EXPECT_THAT(errorOf([&] { (void)fileLengthByName(path("none.fit")); }), HasSubstr("見つかりません"));
    EXPECT_THAT(errorOf([&] { (void)fileLengthByName(path("folder")); }), HasSubstr("フォルダです"));
    EXPECT_THAT(errorOf([&] { (void)fileLengthByName(path("pipe")); }), HasSubstr("通常のファイルではありません"));
}

TEST_F(FileSlotTest, refuses_a_fifo_instead_of_waiting_for_a_writer)
{
    ::mkfifo(scratch.file("pipe").c_str(), 0644);

    EXPECT_THAT(errorOf([&] { slot.openForReading(path("pipe")); }), HasSubstr("通常のファイルではありません"));
    EXPECT_FALSE(slot.isOpen());
}

TEST_F(FileSlotTest, reads_the_whole_file_and_notices_a_changed_length)
{
    const Bytes content = {1, 2, 3, 4, 5};
    test::writeFile(scratch.file("a.fit"), content);

    slot.openForReading(path("a.fit"));
    EXPECT_EQ(slot.length(), 5);
    Bytes exact(5);
    slot.readAll(exact);
    EXPECT_EQ(exact, content);

    // A buffer sized before the file grew or shrank does not match the file any more.
    Bytes tooShort(4);
    Bytes tooLong(6);
    EXPECT_THAT(errorOf([&] { slot.readAll(tooShort); }), HasSubstr("長さが変わりました"));
    EXPECT_THAT(errorOf([&] { slot.readAll(tooLong); }), HasSubstr("長さが変わりました"));
}

TEST_F(FileSlotTest, holds_one_file_at_a_time_and_closing_an_empty_slot_does_nothing)
{
    test::writeFile(scratch.file("a.fit"), Bytes(10));
    slot.close();
    slot.openForReading(path("a.fit"));

    EXPECT_THAT(errorOf([&] { slot.openForReading(path("a.fit")); }), HasSubstr("開いたまま"));
    EXPECT_THAT(errorOf([&] { slot.openForWriting(path("b.fit")); }), HasSubstr("開いたまま"));
    slot.close();
    slot.close();
    EXPECT_FALSE(slot.isOpen());
}

TEST_F(FileSlotTest, write_shows_nothing_under_the_name_until_committed)
{
    const Bytes old(100, 0xEE);
    const Bytes fresh = {1, 2, 3};
    test::writeFile(scratch.file("out.fit"), old);

    slot.openForWriting(path("out.fit"));
    slot.writeAll(fresh);
    EXPECT_EQ(test::readFile(scratch.file("out.fit")), old);
    EXPECT_EQ(test::namesIn(scratch.path()).size(), 2u) << "the temporary file sits beside it";
    slot.commit();

    EXPECT_FALSE(slot.isOpen());
    EXPECT_EQ(test::readFile(scratch.file("out.fit")), fresh);
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>{"out.fit"});
}

TEST_F(FileSlotTest, close_abandons_an_uncommitted_write)
{
    const Bytes old(100, 0xEE);
    test::writeFile(scratch.file("out.fit"), old);

    slot.openForWriting(path("out.fit"));
    slot.writeAll(Bytes(10, 1));
    slot.close();
    slot.openForWriting(path("new.fit"));
    slot.close();

    EXPECT_EQ(test::readFile(scratch.file("out.fit")), old);
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>{"out.fit"});
}

TEST_F(FileSlotTest, new_output_gets_the_usual_permissions_for_new_files)
{
    const mode_t previous = ::umask(022);
    slot.openForWriting(path("out.fit"));
    slot.commit();
    ::umask(previous);

    struct stat status {};
    ASSERT_EQ(::stat(scratch.file("out.fit").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0644u);
}

TEST_F(FileSlotTest, refuses_to_write_over_a_folder_or_a_special_file)
{
    std::filesystem::create_directory(scratch.file("out.fit"));
    ::mkfifo(scratch.file("pipe.fit").c_str(), 0644);

    EXPECT_THAT(errorOf([&] { slot.openForWriting(path("out.fit")); }), HasSubstr("同じ名前のフォルダ"));
    EXPECT_THAT(errorOf([&] { slot.openForWriting(path("pipe.fit")); }), HasSubstr("通常のファイルではありません"));
    EXPECT_EQ(test::namesIn(scratch.path()), (std::set<std::string>{"out.fit", "pipe.fit"}));
}

TEST_F(FileSlotTest, output_in_a_missing_folder_is_reported_with_its_path)
{
    const std::string target = path("missing/out.fit");
    const std::string error = errorOf([&] { slot.openForWriting(target); });
    EXPECT_THAT(error, HasSubstr("書き込めませんでした"));
    EXPECT_THAT(error, HasSubstr(target));
    EXPECT_THAT(error, HasSubstr("見つかりません"));
}

} // namespace
} // namespace tarnis
