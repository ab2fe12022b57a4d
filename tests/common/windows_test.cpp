// What Windows makes of names and errors: device names, which no file can have there, names that
// NTFS and exFAT take for one ignoring letter case, and errors that Tarnis has no cause of its own
// for. The names are checked on every platform.
#include "common/cause.h"
#include "common/error.h"
#include "common/file_names.h"
#include "common/texts.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarnis {
namespace {

TEST(Windows, takes_these_names_for_devices_in_any_case_and_with_any_extension)
{
    const std::vector<std::pair<std::string, bool>> names = {
        {"CON", true},        {"nul.fit", true},      {"Aux.tar.gz", true}, {"prn .fit", true},
        {"COM1", true},       {"lpt9.fit", true},     {"CONIN$", true},     {"conout$.fit", true},
        {"CON_R.fit", false}, {"console.fit", false}, {"COM10", false},     {"LPTX.fit", false},
        {"a.fit", false},     {".con", false}};
    for (const auto& [name, device] : names)
        EXPECT_EQ(isWindowsDeviceName(name), device) << name;
}

// Their up-case tables fold every script's letters, not Latin alone; a letter without a single
// upper case (ß, ŉ) stays, and so does what only looks alike.
TEST(Windows, takes_names_for_one_ignoring_letter_case_in_every_script)
{
    // A table reads best one case to a line.
    // clang-format off
    const std::vector<std::tuple<std::string, std::string, bool>> pairs = {
        {"a_R.fit", "A_r.FIT", true},
        {"ա_R.fit", "Ա_R.fit", true},        // Armenian
        {"ა_R.fit", "Ა_R.fit", true},        // Georgian: Mkhedruli and Mtavruli
        {"ⴀ_R.fit", "Ⴀ_R.fit", true},        // Georgian: Nuskhuri and Asomtavruli
        {"ꭰ_R.fit", "Ꭰ_R.fit", true},        // Cherokee
        {"ᏸ_R.fit", "Ᏸ_R.fit", true},        // Cherokee, the six letters whose small forms came first
        {"σς_R.fit", "ΣΣ_R.fit", true},      // Greek, final sigma too
        {"ᾳ_R.fit", "ᾼ_R.fit", true},        // Greek with a subscript iota: one letter in upper case
        {"ж_R.fit", "Ж_R.fit", true},        // Cyrillic
        {"𐐨_R.fit", "𐐀_R.fit", true},        // Deseret, beyond the basic plane
        {"ß_R.fit", "SS_R.fit", false},
        {"ŉ_R.fit", "ʼN_R.fit", false},
        {"a_R.fit", "а_R.fit", false},       // Latin and Cyrillic a
    };
    // clang-format on
    for (const auto& [first, second, one] : pairs)
        EXPECT_EQ(foldCase(first) == foldCase(second), one) << first << " " << second;
}

#ifdef _WIN32
TEST(Windows, describes_an_error_without_a_cause_of_its_own_in_its_own_words_with_its_number)
{
    const Error error = windowsError(FileAction::Read, "C:\\a.fit", ERROR_INVALID_HANDLE);
    EXPECT_EQ(error.cause(), Cause::SystemError);
    // The system's words, in its language, whatever language the rest is shown in.
    const std::string english = describeCause(error.cause(), error.detail(), Language::English);
    const std::string text = english.substr(0, english.rfind(" (error number 6)"));
    EXPECT_EQ(english, text + " (error number 6)");
    EXPECT_EQ(describeCause(error.cause(), error.detail(), Language::Japanese),
              text + "（エラー番号 6）");
    EXPECT_TRUE(text.size() > 10 && text.find_first_of("\r\n") == std::string::npos) << text;
    EXPECT_EQ(windowsError(FileAction::Read, "C:\\a.fit", 0x2FFFFFFF).cause(),
              Cause::UnknownSystemError);
}
#endif

} // namespace
} // namespace tarnis
