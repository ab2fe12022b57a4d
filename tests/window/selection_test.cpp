// The open-file dialog's answer turned into the next run's queue; the answers are written with "/"
// and given with the platform's separator.
#include "window/selection.h"

#include "common/file_names.h"
#include "tests/support/memory_file_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using namespace std::string_literals;

struct AnswerCase {
    std::string label;
    std::string answer;
    std::optional<std::string> dirPath; // none: refused, nothing changed
    std::vector<std::string> names;
};

void PrintTo(const AnswerCase& c, std::ostream* out) { *out << c.label; }

std::string native(std::string text)
{
    std::replace(text.begin(), text.end(), '/', kPathSeparator);
    return text;
}

class DialogAnswer : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(DialogAnswer, gives_the_folder_the_count_and_the_names_or_is_refused_whole)
{
    const AnswerCase& c = GetParam();
    test::MemoryFileList list;
    SelectionState selection{"/earlier/", 7};

    if (!c.dirPath) {
        EXPECT_THROW(parseSelection(native(c.answer), list, selection), std::invalid_argument);
        EXPECT_TRUE(list.entries.empty());
        EXPECT_EQ(selection.dirPath, "/earlier/");
        EXPECT_EQ(selection.entryCount, 7);
        return;
    }
    parseSelection(native(c.answer), list, selection);

    EXPECT_EQ(selection.dirPath, native(*c.dirPath));
    EXPECT_EQ(selection.entryCount, static_cast<std::int32_t>(c.names.size() + 1));
    EXPECT_EQ(list.entries, c.names);
}

INSTANTIATE_TEST_SUITE_P(
    Selection, DialogAnswer,
    ::testing::Values(
        AnswerCase{"one_file", "/data/a.fit", "/data/", {"a.fit"}},
        AnswerCase{"several_files_in_the_answers_order",
                   "/data\0c.fit\0a.fit\0B.fit"s,
                   "/data/",
                   {"c.fit", "a.fit", "B.fit"}},
        AnswerCase{"one_file_in_the_root", "/a.fit", "/", {"a.fit"}},
        AnswerCase{"folder_given_with_its_separator", "/data/\0a.fit"s, "/data/", {"a.fit"}},
        AnswerCase{"doubled_separator_before_the_name", "/data//a.fit", "/data/", {"a.fit"}},
        AnswerCase{"folder_of_separators_only", "//\0a.fit"s, "/", {"a.fit"}},
        AnswerCase{"names_without_a_dot_or_with_another_extension",
                   "/データ/星雲 M42\0noext\0notes.txt\0IMG01.FIT"s,
                   "/データ/星雲 M42/",
                   {"noext", "notes.txt", "IMG01.FIT"}},
        AnswerCase{"empty_parts_kept", "/data\0\0a.fit\0"s, "/data/", {"", "a.fit", ""}},
        AnswerCase{"one_path_naming_no_folder", "a.fit", std::nullopt, {}},
        // On Windows the folder that C: is in at the time, which the run would not look in.
        AnswerCase{"one_path_naming_only_a_drive", "C:a.fit", std::nullopt, {}},
        AnswerCase{"a_name_in_another_folder", "/data\0a.fit\0x/b.fit"s, std::nullopt, {}}),
    [](const auto& info) { return info.param.label; });

} // namespace
} // namespace tarnis
