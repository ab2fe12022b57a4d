// The run's own rules: how outputs are named, how many cycles a run makes, and what it does with
// files too short to hold an image row. What a run does to a file's bytes and on failures is
// tested with real FITS files and in the fault table.
#include "engine/batch.h"

#include "common/cause.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;

struct NameCase {
    std::string input;
    std::string output; // empty: no output name can be formed, for `cause`
    Cause cause = Cause::NameTooShort;
};

class OutputName : public ::testing::TestWithParam<NameCase> {};

TEST_P(OutputName, drops_four_unicode_characters_and_appends_the_suffix)
{
    const NameCase& c = GetParam();
    if (c.output.empty())
        EXPECT_ERROR((void)outputFileName(c.input, "/data/" + c.input), c.cause,
                     "/data/" + c.input);
    else
        EXPECT_EQ(outputFileName(c.input, "/data/" + c.input), c.output);
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Batch, OutputName,
                         ::testing::Values(NameCase{"img01.fit", "img01_R.fit"}, NameCase{"IMG01.FIT", "IMG01_R.fit"},
                                           NameCase{"img01.fits", "img01._R.fit"}, NameCase{"画像.fit", "画像_R.fit"},
                                           NameCase{"ファイル", "_R.fit"}, NameCase{"ｵﾘｵﾝ座.fit", "ｵﾘｵﾝ座_R.fit"},
                                           NameCase{"M 42.fit", "M 42_R.fit"}, NameCase{"🌌.fit", "🌌_R.fit"}, NameCase{"a.fi", "_R.fit"},
                                           NameCase{"画像", ""}, NameCase{"abc", ""}, NameCase{"", ""},
                                           NameCase{"x/abcd.fit", "", Cause::NameHasFolder}));
// clang-format on

class BatchRun : public ::testing::Test {
protected:
    std::optional<Error> run()
    {
        return test::errorOf([&] { runBatch(list, selection, values, slot); });
    }

    test::ScratchDir scratch;
    test::MemoryFileList list;
    SelectionState selection;
    RunValues values;
    FileSlot slot;
};

// A file with no room for an image row holds no image to read a header of: it is copied.
TEST_F(BatchRun, copies_files_no_longer_than_one_header_record_unchanged)
{
    const std::vector<Bytes> contents = {{}, {0x80}, Bytes(2880, 0x80)};
    for (std::size_t i = 0; i < contents.size(); ++i) {
        list.entries.push_back("short" + std::to_string(i) + ".fit");
        test::writeFile(scratch.file(list.entries.back()), contents[i]);
    }
    selection = {scratch.dirPath(), 4};

    EXPECT_FALSE(run());

    for (std::size_t i = 0; i < contents.size(); ++i)
        EXPECT_EQ(test::readFile(scratch.file("short" + std::to_string(i) + "_R.fit")),
                  contents[i]);
    EXPECT_EQ(values.fileLength, 2880);
    EXPECT_EQ(list.repaints, 3);
}

// The count of cycles is the selection's, not the list's: without a selection each run only
// appends the completion message, and a second run after one selection takes that message for a
// file name.
TEST_F(BatchRun, makes_as_many_cycles_as_the_selection_counted)
{
    EXPECT_FALSE(run());
    EXPECT_FALSE(run());
    EXPECT_EQ(list.entries,
              (std::vector<std::string>{test::kCompletionText, test::kCompletionText}));

    test::writeFile(scratch.file("a.fit"), test::imageWithDropouts(2, {}));
    list.entries = {"a.fit"};
    selection = {scratch.dirPath(), 2};
    EXPECT_FALSE(run());
    EXPECT_ERROR(runBatch(list, selection, values, slot), Cause::NotFound,
                 scratch.dirPath() + test::kCompletionText);
    EXPECT_EQ(list.entries, std::vector<std::string>{test::kCompletionText});
    EXPECT_EQ(values.fileName, test::kCompletionText);
}

} // namespace
} // namespace tarnis
