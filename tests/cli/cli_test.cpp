// tarnis-repair as capture programs and scripts run it: the real executable on real files, in a
// folder that holds a.fit, 夜/星雲 M42.fit (Japanese, in a folder below), the float image float.fit
// that it refuses, m31.fit with its red channel m31_R.fit, a larger big.fit, and a colour frame c.fit.
#include "cli/command.h"
#include "common/error.h"
#include "common/text.h"
#include "engine/batch.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/program.h"
#include "tests/support/scratch_dir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;

// One dropout in the first row, which stays, and two below it; and one below the first row.
const std::map<std::string, Bytes> kInputs = {{"a.fit", test::imageWithDropouts(3, {2880 + 100, 15040, 15040 + 12160 + 6})},
                                              {"夜/星雲 M42.fit", test::imageWithDropouts(4, {20000}, 2)},
                                              {"float.fit", test::floatImage()},
                                              {"m31.fit", test::imageWithDropouts(2, {15042}, 3)},
                                              {"m31_R.fit", test::imageWithDropouts(2, {15044}, 4)},
                                              {"big.fit", test::imageWithDropouts(1000, {20000}, 5)},
                                              // Left: rows 0 and 1, and row 3 under a row-1 dropout; repaired: row 2.
                                              {"c.fit", test::imageWithDropouts(5, {2980, 15240, 39560, 27500}, 6, true)}};

std::string described(FileAction action, const std::string& path, Cause cause, const std::string& detail = {})
{
    return std::string(Error(action, path, cause, detail).what()) + "\n";
}

struct CliCase {
    std::string label;
    std::vector<std::string> arguments; // "@" stands for the scratch folder, ending with its separator
    std::string folder;                 // where it runs, in the scratch folder
    int exitStatus;
    std::string out;                    // exactly, with "@" for the scratch folder; "?" for anything
    std::string error;                  // as out
    std::set<std::string> written;      // the outputs it writes
};

void PrintTo(const CliCase& c, std::ostream* out) { *out << c.label; }

class Cli : public ::testing::TestWithParam<CliCase> {};

TEST_P(Cli, repairs_each_file_as_the_window_does_and_answers_on_the_right_stream)
{
    const CliCase& c = GetParam();
    test::ScratchDir scratch;
    for (const auto& [name, bytes] : kInputs) {
        std::filesystem::create_directories(scratch.file(name).parent_path());
        test::writeFile(scratch.file(name), bytes);
    }
    const auto here = [&](std::string text) {
        for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at))
            text.replace(at, 1, scratch.dirPath());
        return text;
    };
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments)
        arguments.push_back(here(argument));

    const test::ProgramResult result = test::runProgram(TARNIS_REPAIR, arguments, scratch.file(c.folder));

    EXPECT_EQ(result.exitStatus, c.exitStatus);
    for (const auto& [shown, expected] : {std::pair{result.out, c.out}, std::pair{result.error, c.error}})
        EXPECT_TRUE(expected == "?" || shown == here(expected)) << shown;
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
        std::string name = utf8FromPath(entry.path().lexically_relative(scratch.path()));
        std::replace(name.begin(), name.end(), '\\', '/'); // as the inputs are named on every platform
        if (!entry.is_regular_file() || kInputs.contains(name))
            continue;
        written.insert(name);
        // What the window's run writes for the same input.
        const std::string input = name.substr(0, name.size() - 6) + ".fit";
        test::ScratchDir window;
        test::writeFile(window.file("x.fit"), kInputs.at(input));
        test::MemoryFileList list({"x.fit"});
        RunValues values;
        FileSlot slot;
        runBatch(list, {window.dirPath(), 2}, values, slot);
        EXPECT_EQ(test::readFile(entry.path()), test::readFile(window.file("x_R.fit"))) << name;
    }
    EXPECT_EQ(written, c.written);
    for (const auto& [name, bytes] : kInputs)
        EXPECT_EQ(test::readFile(scratch.file(name)), bytes) << name << " changed";
}

const std::string kHint = "詳しくは「tarnis-repair --help」を見てください。\n";

INSTANTIATE_TEST_SUITE_P(
    TarnisRepair, Cli,
    ::testing::Values(
        // Relative to its folder and absolute, Japanese too; each output beside its input; a failure
        // among them reported and passed by.
        CliCase{"repairs_beside_each_input_and_goes_on_after_a_failure", {"../a.fit", "../float.fit", "@夜/星雲 M42.fit"}, "夜", 1,
                "../a.fit\t../a_R.fit\t2\t1\tmono\n@夜/星雲 M42.fit\t@夜/星雲 M42_R.fit\t1\t0\tmono\n",
                described(FileAction::Repair, "../float.fit", Cause::NotSixteenBit, "BITPIX = -32"), {"a_R.fit", "夜/星雲 M42_R.fit"}},
        // The last column names the repair: a colour frame's from its own colour, or the rows'.
        CliCase{"check_counts_and_writes_nothing", {"--check", "a.fit", "c.fit"}, ".", 0,
                "a.fit\ta_R.fit\t2\t1\tmono\nc.fit\tc_R.fit\t1\t3\tbayer\n", "", {}},
        // The first file, of 12 MB, is done long after the two small ones.
        CliCase{"two_jobs_write_the_same_and_keep_the_lines_in_order", {"-j2", "big.fit", "a.fit", "夜/星雲 M42.fit"}, ".", 0,
                "big.fit\tbig_R.fit\t1\t0\tmono\na.fit\ta_R.fit\t2\t1\tmono\n夜/星雲 M42.fit\t夜/星雲 M42_R.fit\t1\t0\tmono\n", "",
                {"big_R.fit", "a_R.fit", "夜/星雲 M42_R.fit"}},
        // A file named, however it is written, is never replaced, even where it does not exist yet.
        CliCase{"never_replaces_a_file_named_on_its_command_line", {"m31.fit", "./m31_R.fit", "a.fit", "././a_R.fit"}, ".", 1,
                "./m31_R.fit\t./m31_R_R.fit\t1\t0\tmono\n",
                described(FileAction::Write, "m31_R.fit", Cause::OutputIsSelected, "m31.fit")
                    + described(FileAction::Write, "a_R.fit", Cause::OutputIsSelected, "a.fit")
                    + described(FileAction::Read, "././a_R.fit", Cause::NotFound),
                {"m31_R_R.fit"}},
        CliCase{"quiet_prints_nothing_but_errors", {"-q", "a.fit", "float.fit"}, ".", 1, "", "?", {"a_R.fit"}},
        CliCase{"help", {"--help"}, ".", 0, "?", "", {}},
        CliCase{"version", {"--version"}, ".", 0, "tarnis-repair 3.0\n", "", {}},
        CliCase{"no_file", {}, ".", 2, "", "tarnis-repair: ファイルが指定されていません。\n" + kHint, {}},
        CliCase{"unknown_option", {"--frobnicate", "a.fit"}, ".", 2, "", "tarnis-repair: 知らないオプションです: --frobnicate\n" + kHint, {}},
        CliCase{"no_jobs", {"--jobs", "0", "a.fit"}, ".", 2, "", "tarnis-repair: --jobs には 1 から 256 までの整数を指定してください: 0\n" + kHint, {}}),
    [](const auto& info) { return info.param.label; });

// An output is on disk before it gets its name, and its name is on disk before the run moves on:
// the system calls say so, for a new output and for one that replaces an earlier.
TEST(TarnisRepair, syncs_each_output_before_naming_it_and_its_folder_after)
{
#ifndef __linux__
    GTEST_SKIP() << "the system calls checked are Linux's";
#endif
    if (!std::filesystem::exists("/usr/bin/strace"))
        GTEST_SKIP() << "strace is not installed (scripts/setup.sh installs it)";
    test::ScratchDir scratch;
    test::writeFile(scratch.file("a.fit"), kInputs.at("a.fit"));
    for (const char* output : {"new", "replacing"}) {
        const std::string trace = scratch.dirPath() + "trace";
        const test::ProgramResult result = test::runProgram(
            "/usr/bin/strace", {"-f", "-e", "trace=openat,fsync,linkat,renameat,renameat2", "-o", trace,
                                // LeakSanitizer cannot work under a tracer; the rest of the sanitizers still check
                                "-E", "ASAN_OPTIONS=detect_leaks=0", TARNIS_REPAIR, "a.fit"},
            scratch.path());
        if (result.exitStatus != 0 && result.error.find("ptrace") != std::string::npos)
            GTEST_SKIP() << "this machine does not let strace trace: " << result.error;
        ASSERT_EQ(result.exitStatus, 0) << result.error;
        const Bytes bytes = test::readFile(trace);
        const std::string calls(bytes.begin(), bytes.end());
        std::filesystem::remove(trace);

        // openat(FOLDER, ".", O_WRONLY|O_CLOEXEC|O_TMPFILE, 0666) = FILE
        const std::size_t open = calls.find("O_TMPFILE");
        ASSERT_NE(open, std::string::npos) << calls;
        const std::size_t folderStart = calls.rfind("openat(", open) + 7;
        const std::string folder = calls.substr(folderStart, calls.find(',', folderStart) - folderStart);
        const std::size_t equals = calls.find("= ", open) + 2;
        const std::string file = calls.substr(equals, calls.find('\n', equals) - equals);
        const std::size_t named = std::min(calls.find("linkat(", open), calls.find("renameat", open));
        const std::size_t folderSynced = calls.find("fsync(" + folder + ")", open);
        EXPECT_LT(calls.find("fsync(" + file + ")", open), named) << output << ":\n" << calls;
        EXPECT_LT(named, folderSynced) << output << ":\n" << calls;
        EXPECT_NE(folderSynced, std::string::npos) << output << ":\n" << calls;
    }
}

// A console whose clock moves on by 400 ms whenever it is read, so that a short run looks long.
struct SlowConsole : cli::Console {
    explicit SlowConsole(bool terminal) : terminal(terminal) {}
    void writeOut(std::string_view text) override { out += text; }
    void writeError(std::string_view text) override { error += text; }
    [[nodiscard]] bool errorIsTerminal() const override { return terminal; }
    [[nodiscard]] std::chrono::steady_clock::time_point now() const override
    {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(400) * ++reads);
    }
    bool terminal;
    mutable int reads = 0;
    std::string out;
    std::string error;
};

TEST(TarnisRepair, shows_progress_of_a_long_run_on_a_terminal_only_and_clears_it)
{
    test::ScratchDir scratch;
    test::writeFile(scratch.file("a.fit"), kInputs.at("a.fit"));
    for (const bool terminal : {true, false}) {
        SlowConsole console(terminal);
        EXPECT_EQ(cli::runCommand(std::vector<std::string>(3, scratch.dirPath() + "a.fit"), console), 0);
        EXPECT_THAT(console.out, ::testing::Not(::testing::HasSubstr("\r")));
        EXPECT_EQ(console.error, terminal ? "\r3/3  0 MB  0 MB/s\r\r                 \r" : "") << "shown after a second, then cleared";
    }
}

} // namespace
} // namespace tarnis
