#include "common/text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace tarnis {
namespace {

struct DropCase {
    std::string text;
    std::size_t count;
    std::optional<std::string> rest;
};

class DropLastCharacters : public ::testing::TestWithParam<DropCase> {};

TEST_P(DropLastCharacters, counts_unicode_characters_not_bytes)
{
    const DropCase& c = GetParam();
    const auto rest = dropLastCharacters(c.text, c.count);
    ASSERT_EQ(rest.has_value(), c.rest.has_value());
    if (rest) {
        EXPECT_EQ(std::string(*rest), *c.rest);
    }
}

INSTANTIATE_TEST_SUITE_P(Text, DropLastCharacters,
                         ::testing::Values(DropCase{"img01.fit", 4, "img01"},
                                           DropCase{"abcd", 4, ""},
                                           DropCase{"abc", 4, std::nullopt},
                                           DropCase{"", 0, ""},
                                           DropCase{"", 1, std::nullopt},
                                           DropCase{"星雲画像", 4, ""},       // three bytes each
                                           DropCase{"星雲画像.fit", 4, "星雲画像"},
                                           DropCase{"ｱｲｳｴｵ", 4, "ｱ"},         // half-width katakana
                                           DropCase{"x🌌.fit", 5, "x"},      // four bytes
                                           DropCase{"画像", 4, std::nullopt},
                                           DropCase{"\x80\x80", 1, ""}));     // stray continuation bytes: one character

TEST(Text, paths_keep_unicode_names_intact)
{
    const std::string name = "/データ/星雲 M42.fit";
    EXPECT_EQ(utf8FromPath(pathFromUtf8(name)), name);
    EXPECT_EQ(utf8FromPath(pathFromUtf8(name).filename()), "星雲 M42.fit");
}

} // namespace
} // namespace tarnis
