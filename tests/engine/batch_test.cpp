#include "engine/batch.h"

#include "common/error.h"
#include "engine/repair.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;
using test::MemoryFileList;
using test::ScratchDir;

const std::string kDone = test::kCompletionText;

// -- Output names ----------------------------------------------------------------------------

struct NameCase {
    std::string input;
    std::string output; // empty: no output name can be formed, for `cause`
    Cause cause = Cause::NameTooShort;
};

class OutputName : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputName, drops_four_characters_and_appends_the_suffix)
{
    const NameCase& c = GetParam();
    if (c.output.empty()) {
        const std::optional<Error> error = test::errorOf([&] { (void)outputFileName(c.input, "/data/" + c.input); });
        ASSERT_TRUE(error) << c.input;
        EXPECT_EQ(error->cause(), c.cause);
        EXPECT_EQ(error->path(), "/data/" + c.input);
    } else {
        EXPECT_EQ(outputFileName(c.input, "/data/" + c.input), c.output);
    }
}

INSTANTIATE_TEST_SUITE_P(Batch, OutputName,
                         ::testing::Values(NameCase{"img01.fit", "img01_R.fit"},
                                           NameCase{"IMG01.FIT", "IMG01_R.fit"},
                                           NameCase{"img01.fits", "img01._R.fit"},
                                           NameCase{"画像.fit", "画像_R.fit"},
                                           NameCase{"ファイル", "_R.fit"},
                                           NameCase{"ｵﾘｵﾝ座.fit", "ｵﾘｵﾝ座_R.fit"},
                                           NameCase{"M 42.fit", "M 42_R.fit"},
                                           NameCase{"🌌.fit", "🌌_R.fit"},
                                           NameCase{"a.fi", "_R.fit"},
                                           NameCase{"画像", ""},
                                           NameCase{"abc", ""},
                                           NameCase{"", ""},
                                           NameCase{"x/abcd.fit", "", Cause::NameHasFolder}));

// -- Runs on real files ----------------------------------------------------------------------

class BatchRun : public ::testing::Test {
protected:
    Bytes input(const std::string& name) const { return test::readFile(scratch.file(name)); }
    void put(const std::string& name, const Bytes& bytes) const { test::writeFile(scratch.file(name), bytes); }

    void select(const std::vector<std::string>& names)
    {
        list.entries = names;
        selection = {scratch.dirPath(), static_cast<std::int32_t>(names.size() + 1)};
    }

    // Runs the batch and returns its error, if it failed.
    std::optional<Error> run()
    {
        return test::errorOf([&] { runBatch(list, selection, values, slot); });
    }

    static Bytes repaired(Bytes bytes)
    {
        repairDropouts(bytes, static_cast<std::int64_t>(bytes.size()));
        return bytes;
    }

    ScratchDir scratch;
    MemoryFileList list;
    SelectionState selection;
    RunValues values;
    FileSlot slot;
};

TEST_F(BatchRun, repairs_every_selected_file_beside_it_and_ends_with_the_completion_message)
{
    const Bytes first = test::imageWithDropouts(4, {15040, 15040 + 12160, 2880 + 3 * 12160 + 8}, 1);
    const Bytes second = test::imageWithDropouts(3, {20000, 2880}, 2);
    put("星雲 M42.fit", first);
    put("画像.FIT", second);
    select({"星雲 M42.fit", "画像.FIT"});

    EXPECT_FALSE(run());

    EXPECT_EQ(input("星雲 M42_R.fit"), repaired(first));
    EXPECT_EQ(input("画像_R.fit"), repaired(second));
    EXPECT_NE(input("星雲 M42_R.fit"), first);
    EXPECT_EQ(input("星雲 M42.fit"), first);
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_EQ(list.repaints, 2);
    EXPECT_EQ(test::namesIn(scratch.path()),
              (std::set<std::string>{"星雲 M42.fit", "星雲 M42_R.fit", "画像.FIT", "画像_R.fit"}));
    EXPECT_EQ(values.fileName, "画像.FIT");
    EXPECT_EQ(values.fileLength, static_cast<std::int64_t>(second.size()));
    EXPECT_FALSE(slot.isOpen());
}

TEST_F(BatchRun, short_and_empty_files_are_copied_unchanged)
{
    const std::vector<Bytes> contents = {{}, {0x80}, Bytes(2880, 0x80), Bytes(2879, 0x80)};
    std::vector<std::string> names;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        names.push_back("short" + std::to_string(i) + ".fit");
        put(names.back(), contents[i]);
    }
    select(names);

    EXPECT_FALSE(run());

    for (std::size_t i = 0; i < contents.size(); ++i)
        EXPECT_EQ(input("short" + std::to_string(i) + "_R.fit"), contents[i]);
}

TEST_F(BatchRun, existing_longer_output_is_replaced_whole)
{
    const Bytes image = test::imageWithDropouts(2, {15040});
    put("a.fit", image);
    put("a_R.fit", Bytes(image.size() * 2, 0xEE));
    std::filesystem::permissions(scratch.file("a_R.fit"), std::filesystem::perms(0640));
    select({"a.fit"});

    EXPECT_FALSE(run());

    EXPECT_EQ(input("a_R.fit"), repaired(image));
#ifndef _WIN32 // Windows files have no mode bits to keep
    EXPECT_EQ(std::filesystem::status(scratch.file("a_R.fit")).permissions(), std::filesystem::perms(0640));
#endif
}

TEST_F(BatchRun, a_four_character_name_gives_the_bare_suffix)
{
    put("ファイル", Bytes(100, 1));
    select({"ファイル"});

    EXPECT_FALSE(run());

    EXPECT_EQ(input("_R.fit"), Bytes(100, 1));
}

TEST_F(BatchRun, without_a_selection_each_run_only_appends_the_completion_message)
{
    EXPECT_FALSE(run());
    EXPECT_FALSE(run());

    EXPECT_EQ(list.entries, (std::vector<std::string>{kDone, kDone}));
    EXPECT_EQ(list.repaints, 0);
}

TEST_F(BatchRun, second_run_after_one_selection_fails_on_the_completion_message)
{
    put("a.fit", test::imageWithDropouts(2, {}));
    select({"a.fit"});
    ASSERT_FALSE(run());

    const std::optional<Error> error = run();

    ASSERT_TRUE(error);
    EXPECT_EQ(error->path(), scratch.dirPath() + kDone);
    EXPECT_EQ(error->cause(), Cause::NotFound);
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_EQ(selection.entryCount, 2);
}

} // namespace
} // namespace tarnis
