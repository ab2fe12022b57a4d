// tarnis-repair as capture programs and scripts run it: the real executable where its process
// matters (its arguments, streams and exit status, its system calls), the command's own entry with
// a console of the test's elsewhere, always on real files.
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
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;
using ::testing::HasSubstr;

// One dropout in the first row, which stays, and two below it.
const Bytes kImage = test::imageWithDropouts(3, {2880 + 100, 15040, 15040 + 12160 + 6});
const Bytes kOther = test::imageWithDropouts(4, {20000}, 2);

// A console that keeps what is written, and whose clock, when asked, moves on by 400 ms whenever
// it is read, so that a short run looks long.
class Console : public cli::Console {
public:
    explicit Console(bool terminal = false) : terminal_(terminal) {}
    void writeOut(std::string_view text) override { out += text; }
    void writeError(std::string_view text) override { error += text; }
    [[nodiscard]] bool errorIsTerminal() const override { return terminal_; }
    [[nodiscard]] std::chrono::steady_clock::time_point now() const override
    {
        return std::chrono::steady_clock::time_point() + std::chrono::milliseconds(400) * ++reads_;
    }

    std::string out;
    std::string error;

private:
    bool terminal_;
    mutable int reads_ = 0;
};

class Cli : public ::testing::Test {
public:
    Cli()
    {
        put("a.fit", kImage);
        put("夜/星雲 M42.fit", kOther);
        put("float.fit", test::floatImage());
    }

    void put(const std::string& name, const Bytes& bytes) const
    {
        std::filesystem::create_directories(scratch.file(name).parent_path());
        test::writeFile(scratch.file(name), bytes);
    }
    Bytes read(const std::string& name) const { return test::readFile(scratch.file(name)); }
    std::string path(const std::string& name) const { return scratch.dirPath() + name; }

    // Every file below the scratch folder and its bytes.
    std::map<std::string, Bytes> files() const
    {
        std::map<std::string, Bytes> all;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
            if (entry.is_regular_file())
                all[utf8FromPath(entry.path().lexically_relative(scratch.path()))] = test::readFile(entry.path());
        }
        return all;
    }

    // What the window's run writes for the same input.
    static Bytes windowOutput(const Bytes& input)
    {
        const test::ScratchDir other;
        test::writeFile(other.file("x.fit"), input);
        test::MemoryFileList list({"x.fit"});
        RunValues values;
        FileSlot slot;
        runBatch(list, {other.dirPath(), 2}, values, slot);
        return test::readFile(other.file("x_R.fit"));
    }

    test::ScratchDir scratch;
};

std::string described(FileAction action, const std::string& path, Cause cause, const std::string& detail = {})
{
    return std::string(Error(action, path, cause, detail).what()) + "\n";
}

// Arguments as the shell gives them, relative to its folder or absolute, Japanese too; the outputs
// beside their inputs; a failure among them reported and passed by.
TEST_F(Cli, repairs_each_file_as_the_window_does_beside_it_and_goes_on_after_a_failure)
{
    const std::string absolute = path("夜/星雲 M42.fit");

    const test::ProgramResult result = test::runProgram(TARNIS_REPAIR, {"../a.fit", "../float.fit", absolute}, scratch.file("夜"));

    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "../a.fit\t../a_R.fit\t2\t1\n" + absolute + "\t" + path("夜/星雲 M42_R.fit") + "\t1\t0\n");
    EXPECT_EQ(result.error, described(FileAction::Repair, "../float.fit", Cause::NotSixteenBit, "BITPIX = -32"));
    EXPECT_EQ(read("a_R.fit"), windowOutput(kImage));
    EXPECT_EQ(read("夜/星雲 M42_R.fit"), windowOutput(kOther));
    EXPECT_EQ(files().size(), 5u);
}

TEST_F(Cli, jobs_change_nothing_but_the_speed)
{
    std::vector<std::string> twoJobs = {"--jobs", "2"};
    for (int i = 0; i < 7; ++i) {
        twoJobs.push_back(path("light" + std::to_string(i) + ".fit"));
        put("light" + std::to_string(i) + ".fit", test::imageWithDropouts(2 + i, {15040 + 2 * i}, static_cast<std::uint32_t>(i)));
    }
    Console parallel;
    Console serial;
    EXPECT_EQ(cli::runCommand(twoJobs, parallel), 0);
    const std::map<std::string, Bytes> parallelFiles = files();
    EXPECT_EQ(cli::runCommand(std::vector<std::string>(twoJobs.begin() + 2, twoJobs.end()), serial), 0);

    EXPECT_EQ(parallel.out, serial.out) << "the lines come in the order of the files";
    EXPECT_TRUE(files() == parallelFiles);
    EXPECT_EQ(parallelFiles.size(), 3u + 14u);
}

TEST_F(Cli, never_replaces_a_file_named_on_its_command_line)
{
    put("m31.fit", kImage);
    put("m31_R.fit", kOther); // the red channel, named as LRGB imaging names it
    const std::map<std::string, Bytes> before = files();
    // Named too, however it is written, even where there is no such file yet.
    const std::string odd = scratch.dirPath() + "./a_R.fit";
    Console console;

    EXPECT_EQ(cli::runCommand({path("m31.fit"), path("./m31_R.fit"), path("a.fit"), odd}, console), 1);

    EXPECT_EQ(console.out, path("./m31_R.fit") + "\t" + path("./m31_R_R.fit") + "\t1\t0\n");
    EXPECT_EQ(console.error, described(FileAction::Write, path("m31_R.fit"), Cause::OutputIsSelected, "m31.fit")
                                 + described(FileAction::Write, path("a_R.fit"), Cause::OutputIsSelected, "a.fit")
                                 + described(FileAction::Read, odd, Cause::NotFound));
    std::map<std::string, Bytes> after = files();
    EXPECT_EQ(after.erase("m31_R_R.fit"), 1u);
    EXPECT_TRUE(after == before);
}

// An output is on disk before it gets its name, and its name is on disk before the run moves on:
// the system calls say so, for a new output and for one that replaces an earlier.
TEST_F(Cli, syncs_each_output_before_naming_it_and_its_folder_after)
{
#ifndef __linux__
    GTEST_SKIP() << "the system calls checked are Linux's";
#endif
    if (!std::filesystem::exists("/usr/bin/strace"))
        GTEST_SKIP() << "strace is not installed (scripts/setup.sh installs it)";
    for (const char* output : {"new", "replacing"}) {
        const std::string trace = path("trace");
        const test::ProgramResult result = test::runProgram(
            "/usr/bin/strace", {"-f", "-e", "trace=openat,fsync,linkat,renameat,renameat2", "-o", trace, TARNIS_REPAIR, "a.fit"},
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

struct UsageCase {
    std::string label;
    std::vector<std::string> arguments; // "a.fit" stands for the scratch folder's
    int exitStatus;
    std::string out; // a part of what standard output holds, "" for nothing
    bool writes;     // whether a_R.fit is written
};

void PrintTo(const UsageCase& c, std::ostream* out)
{
    *out << c.label;
}

class Usage : public Cli, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(Usage, is_answered_on_the_right_stream_with_its_exit_status)
{
    const UsageCase& c = GetParam();
    std::vector<std::string> arguments = c.arguments;
    std::replace(arguments.begin(), arguments.end(), std::string("a.fit"), path("a.fit"));
    Console console;

    EXPECT_EQ(cli::runCommand(arguments, console), c.exitStatus);

    EXPECT_THAT(console.out, c.out.empty() ? ::testing::Matcher<std::string>(::testing::IsEmpty()) : HasSubstr(c.out));
    // Errors, and nothing else, go to standard error: a usage error says where to read more.
    EXPECT_THAT(console.error, c.exitStatus == 2 ? HasSubstr("tarnis-repair --help") : ::testing::Matcher<std::string>(::testing::IsEmpty()));
    EXPECT_EQ(std::filesystem::exists(scratch.file("a_R.fit")), c.writes);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Usage,
    ::testing::Values(UsageCase{"no_file", {}, 2, "", false},
                      UsageCase{"unknown_option", {"--frobnicate", "a.fit"}, 2, "", false},
                      UsageCase{"no_jobs", {"--jobs", "0", "a.fit"}, 2, "", false},
                      UsageCase{"jobs_without_a_number", {"a.fit", "-j"}, 2, "", false},
                      UsageCase{"help", {"--help"}, 0, "終了ステータス", false},
                      UsageCase{"version", {"--version"}, 0, "tarnis-repair 3.0\n", false},
                      UsageCase{"quiet", {"-q", "a.fit"}, 0, "", true},
                      UsageCase{"check_writes_nothing", {"--check", "a.fit"}, 0, "a_R.fit\t2\t1\n", false},
                      UsageCase{"jobs_joined_to_its_number", {"-j2", "a.fit"}, 0, "a_R.fit\t2\t1\n", true}),
    [](const auto& info) { return info.param.label; });

TEST_F(Cli, shows_progress_of_a_long_run_on_a_terminal_only_and_clears_it)
{
    const std::vector<std::string> arguments(3, path("a.fit"));
    for (const bool terminal : {true, false}) {
        Console console(terminal);
        EXPECT_EQ(cli::runCommand(arguments, console), 0);
        EXPECT_THAT(console.out, ::testing::Not(HasSubstr("\r")));
        EXPECT_EQ(console.error, terminal ? "\r3/3  0 MB  0 MB/s\r\r                 \r" : "") << "shown after a second, then cleared";
    }
}

} // namespace
} // namespace tarnis
