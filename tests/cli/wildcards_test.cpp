// The expansion of wildcards that tarnis-repair does on Windows, where no shell does, with a folder
// as the system lists it for "*.fit": foo.fits among the files, matched through its short name.
#include "cli/wildcards.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tarnis::cli {
namespace {

char32_t asciiUpperCase(char32_t c) { return c >= U'a' && c <= U'z' ? c - U'a' + U'A' : c; }

TEST(Wildcards, expand_to_the_files_whose_own_names_match_in_any_case_or_stay_as_given)
{
    std::vector<std::string> asked;
    const auto listed = [&](const std::string& argument) {
        asked.push_back(argument);
        return std::vector<std::string>{"a.fit",    "B.FIT",  "foo.fits", "c.fit.bak",
                                        "星雲.Fit", "ab.fit", "jup_0001"};
    };
    const std::vector<std::pair<std::vector<std::string>, std::vector<std::string>>> cases = {
        {{"data/*.fit"}, {"data/a.fit", "data/B.FIT", "data/星雲.Fit", "data/ab.fit"}},
        {{"-q", "C:?.fit", "*.f*t"},
         {"-q", "C:a.fit", "C:B.FIT", "a.fit", "B.FIT", "星雲.Fit", "ab.fit"}},
        {{"星雲.*", "a*b*"}, {"星雲.Fit", "ab.fit"}},
        // As cmd's dir: "*.*" is every name, and ".*" may be no extension at all.
        {{"*.*"}, {"a.fit", "B.FIT", "foo.fits", "c.fit.bak", "星雲.Fit", "ab.fit", "jup_0001"}},
        {{"jup_000?.*"}, {"jup_0001"}},
        {{"*.xyz", "a.fit"}, {"*.xyz", "a.fit"}},
    };
    for (const auto& [arguments, expanded] : cases)
        EXPECT_EQ(expandWildcards(arguments, listed, asciiUpperCase), expanded)
            << arguments.front();
    EXPECT_EQ(asked, (std::vector<std::string>{"data/*.fit", "C:?.fit", "*.f*t", "星雲.*", "a*b*",
                                               "*.*", "jup_000?.*", "*.xyz"}))
        << "only names with wildcards";
}

} // namespace
} // namespace tarnis::cli
