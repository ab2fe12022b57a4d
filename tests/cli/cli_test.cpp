// tarnis-repair as capture programs and scripts run it: the real executable on real files, in a
// folder that holds a.fit, 夜/星雲 M42.fit (Japanese, in a folder below), the float image float.fit
// that it refuses, m31.fit with its red channel m31_R.fit (the same header: a camera that writes no
// filter), a larger big.fit, a bias frame bias.fit whose zeros are stored as dropouts, flat.fit with
// exactly 1 % dropouts, cut.fit cut off in its last row, a colour frame c.fit, and a name with a
// backslash, a tab and a line break in it; "link" leads to the folder 夜, where m42.fit and m42.fts
// are.
#include "cli/command.h"
#include "common/cause.h"
#include "common/file_names.h"
#include "common/texts.h"
#include "engine/batch.h"
#include "engine/fits_header.h"
#include "tests/support/errors.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/plain_repair.h"
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
#include <tuple>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;

// A frame of `rows` rows with `count` zeros, stored as dropouts, below its first row.
Bytes frameWithZeros(int rows, std::int64_t count)
{
    std::vector<std::int64_t> zeros;
    for (std::int64_t i = 0; i < count; ++i)
        zeros.push_back(2880 + 12160 + 40 * i);
    return test::imageWithDropouts(rows, zeros, 9);
}

// Three rows, the last cut off half way: 15,200 of the 18,240 samples its header promises.
Bytes cutOffFrame()
{
    Bytes frame = test::imageWithDropouts(3, {15040}, 10);
    frame.resize(2880 + 12160 * 2 + 6080);
    return frame;
}

// One dropout in the first row, which stays, and two below it; and one below the first row.
const std::map<std::string, Bytes> kInputs = {
    {"a.fit", test::imageWithDropouts(3, {2880 + 100, 15040, 15040 + 12160 + 6})},
    {"夜/星雲 M42.fit", test::imageWithDropouts(4, {20000}, 2)},
    {"float.fit", test::floatImage()},
    {"m31.fit", test::imageWithDropouts(2, {15042}, 3)},
    {"m31_R.fit", test::imageWithDropouts(2, {15044}, 4)},
    {"big.fit", test::imageWithDropouts(1000, {20000}, 5)},
    // Left: rows 0 and 1, and row 3 under a row-1 dropout; repaired: row 2.
    {"c.fit", test::imageWithDropouts(5, {2980, 15240, 39560, 27500}, 6, true)},
    {"夜/m42.fit", test::imageWithDropouts(2, {}, 6)},
    {"夜/m42.fts", test::imageWithDropouts(2, {}, 7)},
    // A frame taken without an offset: 250 of its 12160 samples (2.06 %) are zeros; and one with
    // exactly 1 % (304 of 30400), which is not warned about.
    {"bias.fit", frameWithZeros(2, 250)},
    {"flat.fit", frameWithZeros(5, 304)},
    {"cut.fit", cutOffFrame()},
#ifndef _WIN32 // such names are not allowed there
    {"a\\b\tc\nd.fit", test::imageWithDropouts(2, {}, 8)},
#endif
};

// Whether `shown` reads as `expected`, in which "…" stands for any text.
bool readsAs(std::string_view shown, std::string_view expected)
{
    constexpr std::string_view kAny = "…";
    std::size_t gap = expected.find(kAny);
    if (gap == std::string_view::npos)
        return shown == expected;
    if (!shown.starts_with(expected.substr(0, gap)))
        return false;
    shown.remove_prefix(gap);
    for (expected.remove_prefix(gap + kAny.size());
         (gap = expected.find(kAny)) != std::string_view::npos;
         expected.remove_prefix(gap + kAny.size())) {
        const std::size_t at = shown.find(expected.substr(0, gap));
        if (at == std::string_view::npos)
            return false;
        shown.remove_prefix(at + gap);
    }
    return shown.ends_with(expected);
}

struct CliCase {
    std::string label;
    std::vector<std::string>
        arguments; // "@" stands for the scratch folder, ending with its separator; "%" for its drive
    std::string folder; // where it runs, in the scratch folder
    int exitStatus;
    std::string out;   // as the user reads it, with "@" for the scratch folder; "…" for any text
    std::string error; // as out
    std::set<std::string> written; // the outputs it writes
    std::string locale =
        "LANG=C";            // LC_ALL, LC_MESSAGES and LANG: those given here, the others empty
    std::string before = {}; // shell words before the command and after its redirections
    std::string after = {};
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
#ifndef _WIN32 // symbolic links need a privilege there
    std::filesystem::create_directory_symlink(pathFromUtf8("夜"), scratch.file("link"));
#endif
    const auto here = [&](std::string text) {
        for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at))
            text.replace(at, 1, scratch.dirPath());
        if (text == "%")
            text = scratch.dirPath().substr(0, 2);
        return text;
    };
    std::vector<std::string> arguments;
    for (const std::string& argument : c.arguments)
        arguments.push_back(here(argument));

    std::vector<std::string> environment = {"LC_ALL=", "LC_MESSAGES=", "LANG="};
    for (std::size_t at = 0; at < c.locale.size(); at = c.locale.find(' ', at) + 1) {
        environment.push_back(c.locale.substr(at, c.locale.find(' ', at) - at));
        if (c.locale.find(' ', at) == std::string::npos)
            break;
    }

    const test::ProgramResult result = test::runProgram(
        TARNIS_REPAIR, arguments, scratch.file(c.folder), c.before, c.after, environment);

    EXPECT_EQ(result.exitStatus, c.exitStatus);
    for (const auto& [shown, expected] :
         {std::pair{result.out, c.out}, std::pair{result.error, c.error}})
        EXPECT_TRUE(readsAs(shown, here(expected))) << shown;
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
        std::string name = utf8FromPath(entry.path().lexically_relative(scratch.path()));
        std::replace(name.begin(), name.end(), kPathSeparator,
                     '/'); // as the inputs are named on every platform
        if (!entry.is_regular_file() || kInputs.contains(name))
            continue;
        written.insert(name);
        // What the window's run writes for the input whose output has this name (of m42.fit and
        // m42.fts, which share one, either).
        bool fromAnInput = false;
        for (const auto& [input, bytes] : kInputs) {
            if (outputFileName(utf8FromPath(pathFromUtf8(input).filename()), input)
                != utf8FromPath(entry.path().filename()))
                continue;
            test::ScratchDir window;
            test::writeFile(window.file("x.fit"), bytes);
            test::MemoryFileList list({"x.fit"});
            RunValues values;
            FileSlot slot;
            runBatch(list, {window.dirPath(), 2}, values, slot);
            fromAnInput = fromAnInput
                          || test::readFile(entry.path()) == test::readFile(window.file("x_R.fit"));
        }
        EXPECT_TRUE(fromAnInput) << name << " is no input's output as the window writes it";
    }
    EXPECT_EQ(written, c.written);
    for (const auto& [name, bytes] : kInputs)
        EXPECT_EQ(test::readFile(scratch.file(name)), bytes) << name << " changed";
}

const std::string kHint = "Try 'tarnis-repair --help' for more information.\n";
const std::string kJapaneseHint = "詳しくは「tarnis-repair --help」を見てください。\n";
const std::string kJapanese = "LANG=ja_JP.UTF-8";

// A table reads best one case to a line.
// clang-format off
const std::vector<CliCase> kCases = {
    // Relative to its folder and absolute, Japanese too; each output beside its input; a failure
    // among them said on one line and passed by.
    CliCase{"repairs_beside_each_input_and_goes_on_after_a_failure", {"../a.fit", "../float.fit", "@夜/星雲 M42.fit"}, "夜", 1,
            "../a.fit\t../a_R.fit\t2\t1\tmono\n@夜/星雲 M42.fit\t@夜/星雲 M42_R.fit\t1\t0\tmono\n",
            "tarnis-repair: ../float.fit: cannot repair: not a 16-bit integer image (BITPIX = -32)\n", {"a_R.fit", "夜/星雲 M42_R.fit"}},
    // And says what a run would refuse: nothing is to be written. In Japanese under a Japanese locale.
    CliCase{"check_counts_and_writes_nothing", {"--check", "a.fit", "m31.fit", "m31_R.fit", "bias.fit", "c.fit", "cut.fit"}, ".", 1,
            "a.fit\ta_R.fit\t2\t1\tmono\nm31_R.fit\tm31_R_R.fit\t1\t0\tmono\nbias.fit\tbias_R.fit\t250\t0\tmono\nc.fit\tc_R.fit\t1\t3\tbayer\n"
            "cut.fit\tcut_R.fit\t1\t0\tmono\n",
            "tarnis-repair: m31_R.fit: このファイルの出力は書き込めません。「m31.fit」の出力ファイルの名前が、選択されたファイルと同じです。"
            "選択されたファイルは上書きしません。\n"
            "tarnis-repair: bias.fit: 警告: サンプルの 2.06 % がドロップアウトです。オフセットなしで撮った画像（バイアスや、シミュレーターの"
            "画像など）では本当の 0 も同じ形で記録されるため、ドロップアウトとして修復されます。\n"
            "tarnis-repair: cut.fit: 警告: ファイルがヘッダーの示す画像より短く、画像の 18,240 サンプルのうち 15,200 サンプルしかありません。"
            "あるサンプルだけを数えました。\n",
            {}, kJapanese},
    // A frame with no offset: its zeros are repaired as dropouts, and that is said, even with --quiet;
    // as is a file cut short.
    CliCase{"warns_of_a_file_whose_samples_are_more_than_one_percent_dropouts_or_that_is_cut_short", {"--quiet", "bias.fit", "flat.fit", "cut.fit"}, ".", 0, "",
            "tarnis-repair: bias.fit: warning: 2.06 % of the samples are dropouts; a frame taken without an offset (a bias, a "
            "simulator's frame) stores its true zeros alike, and they were repaired as dropouts\n"
            "tarnis-repair: cut.fit: warning: the file ends before the image its header describes: it holds 15,200 of the image's "
            "18,240 samples, and only those were repaired\n",
            {"bias_R.fit", "flat_R.fit", "cut_R.fit"}},
    // Short options together: nothing but failures, and nothing written.
    CliCase{"quiet_and_check_together", {"-qc", "a.fit", "float.fit"}, ".", 1, "",
            "tarnis-repair: float.fit: ファイルを修復できませんでした。16 ビット整数の画像ではありません（BITPIX = -32）。\n", {}, kJapanese},
    // The first file, of 12 MB, is done long after the two small ones.
    CliCase{"jobs_write_the_same_and_keep_the_lines_in_order", {"-j4", "big.fit", "a.fit", "夜/星雲 M42.fit"}, ".", 0,
            "big.fit\tbig_R.fit\t1\t0\tmono\na.fit\ta_R.fit\t2\t1\tmono\n夜/星雲 M42.fit\t夜/星雲 M42_R.fit\t1\t0\tmono\n", "",
            {"big_R.fit", "a_R.fit", "夜/星雲 M42_R.fit"}},
    // A file named, however it is written, is never replaced, even where it does not exist yet.
    CliCase{"never_replaces_a_file_named_on_its_command_line", {"m31.fit", "./m31_R.fit", "a.fit", "././a_R.fit"}, ".", 1,
            "./m31_R.fit\t./m31_R_R.fit\t1\t0\tmono\n",
            "tarnis-repair: m31_R.fit: cannot write: the output of 'm31.fit' would have the name of a file to be repaired, which is "
            "never replaced\n…tarnis-repair: ././a_R.fit: cannot read: no such file\n",
            {"m31_R_R.fit"}},
#ifndef _WIN32 // symbolic links need a privilege there
    // A path is what the system resolves it to: through a folder that is not there, nothing.
    CliCase{"a_path_through_a_missing_folder_is_not_found", {"a.fit", "link/../nothing/../a.fit"}, ".", 1, "a.fit\ta_R.fit\t2\t1\tmono\n",
            "tarnis-repair: link/../nothing/../a.fit: cannot read: no such file\n", {"a_R.fit"}},
#endif
    // Every file named gets an answer: a note, where it is passed over, unless --quiet; one under the
    // output's name of a file that is not there is left as it is.
    CliCase{"a_file_passed_over_gets_a_note_unless_quiet", {"a.fit", "./a.fit"}, ".", 0, "a.fit\ta_R.fit\t2\t1\tmono\n",
            "tarnis-repair: ./a.fit: the same file as 'a.fit', named before; passed over\n", {"a_R.fit"}},
    CliCase{"quiet_keeps_notes_off", {"-q", "a.fit", "./a.fit"}, ".", 0, "", "", {"a_R.fit"}},
    CliCase{"a_file_named_after_an_input_that_is_not_there_is_left", {"m31.fts", "m31_R.fit"}, ".", 1, "",
            "tarnis-repair: m31.fts: cannot read: no such file\n"
            "tarnis-repair: m31_R.fit: the output's name of 'm31.fts', which is not there; left as it is\n", {}},
    // The help and the usage errors in the user's language: what LC_ALL, LC_MESSAGES or LANG says,
    // the first of them that is set and not empty.
    CliCase{"help", {"--help"}, ".", 0,
            "Usage: tarnis-repair [OPTION]... FILE...\n…\n  -o, --output-dir=DIR  write every output into the folder DIR instead\n…"
            "  1. the input, as given\n  2. the output\n…Exit status:\n  0  every file repaired (with --check: counted)\n…",
            "", {}},
    CliCase{"help_in_japanese", {"-h"}, ".", 0,
            "使い方: tarnis-repair [オプション]... ファイル...\n…\n  -q, --quiet           失敗と警告のほかは何も表示しません\n…"
            "  4. 値を取れる上下のサンプルがないため残したドロップアウトの数（最初の行、カラー画像では最初の 2 行など）\n…  2  コマンドラインに誤りがあります（何も処理していません）\n…",
            "", {}, "LANG=ja"},
    CliCase{"version", {"--version"}, ".", 0, "tarnis-repair 3.0\n", "", {}},
    CliCase{"lc_all_comes_before_lang", {}, ".", 2, "", "tarnis-repair: no file given\n" + kHint, {}, "LC_ALL=C LANG=ja_JP.UTF-8"},
    CliCase{"lc_messages_comes_before_lang", {}, ".", 2, "", "tarnis-repair: ファイルが指定されていません。\n" + kJapaneseHint, {},
            "LC_MESSAGES=ja_JP LANG=en_US.UTF-8"},
    CliCase{"unknown_option_among_short_ones", {"-qx", "a.fit"}, ".", 2, "", "tarnis-repair: 知らないオプションです: -x\n" + kJapaneseHint, {},
            kJapanese},
    CliCase{"no_jobs", {"--jobs", "0", "a.fit"}, ".", 2, "",
            "tarnis-repair: option '--jobs' takes a whole number from 1 to 256, not '0'\n" + kHint, {}},
    CliCase{"too_many_jobs", {"-j", "257", "a.fit"}, ".", 2, "",
            "tarnis-repair: --jobs には 1 から 256 までの整数を指定してください: 257\n" + kJapaneseHint, {}, kJapanese},
    CliCase{"jobs_without_a_number", {"a.fit", "-qj"}, ".", 2, "",
            "tarnis-repair: option '--jobs' needs the number of files to repair at a time\n" + kHint, {}},
    CliCase{"a_value_for_an_option_that_takes_none", {"--quiet=yes", "a.fit"}, ".", 2, "",
            "tarnis-repair: --quiet には値を付けられません。\n" + kJapaneseHint, {}, kJapanese},
    // The output folder must be there.
    CliCase{"output_folder_not_given", {"a.fit", "--output-dir"}, ".", 2, "",
            "tarnis-repair: --output-dir の後に、出力先のフォルダを指定してください。\n" + kJapaneseHint, {}, kJapanese},
    CliCase{"output_folder_that_does_not_exist", {"-onowhere", "a.fit"}, ".", 2, "",
            "tarnis-repair: option '--output-dir' needs an existing folder; there is no 'nowhere'\n" + kHint, {}},
    CliCase{"output_folder_that_is_a_file", {"--output-dir=a.fit", "a.fit"}, ".", 2, "",
            "tarnis-repair: --output-dir にはフォルダを指定してください: a.fit\n" + kJapaneseHint, {}, kJapanese},
    // A watch takes the frames of its folder, one at a time as they are saved, and writes them.
    CliCase{"watch_without_a_folder", {"-q", "--watch"}, ".", 2, "",
            "tarnis-repair: --watch の後に、見張るフォルダを指定してください。\n" + kJapaneseHint, {}, kJapanese},
    CliCase{"watch_refuses_check_and_files", {"--watch", ".", "--check"}, ".", 2, "",
            "tarnis-repair: option '--check' does not go with '--watch'\n" + kHint, {}},
    CliCase{"watch_refuses_a_missing_folder", {"--watch=夜/none"}, ".", 2, "",
            "tarnis-repair: option '--watch' needs an existing folder; there is no '夜/none'\n" + kHint, {}},
    // After "--" every argument is a file, even one that looks like an option.
    CliCase{"jobs_up_to_256_given_with_equals_and_options_ended_by_two_dashes", {"--jobs=256", "--", "-q", "a.fit"}, ".", 1,
            "a.fit\ta_R.fit\t2\t1\tmono\n", "tarnis-repair: -q: cannot read: no such file\n", {"a_R.fit"}},
#ifndef _WIN32
    // English where no variable says a language (Windows asks the user's interface then).
    CliCase{"unknown_option", {"--frobnicate", "a.fit"}, ".", 2, "", "tarnis-repair: unknown option '--frobnicate'\n" + kHint, {}, ""},
    // Started without standard input and output, as from a service: a file opened later must
    // not be given their numbers, where the report would land in an output.
    CliCase{"closed_standard_streams_are_the_null_device", {"-j", "2", "a.fit", "big.fit", "夜/星雲 M42.fit"}, ".", 0, "", "",
            {"a_R.fit", "big_R.fit", "夜/星雲 M42_R.fit"}, "LANG=C", "", "<&- >&-"},
    // Each file is one line of the report, and each failure one line, whatever its name holds.
    CliCase{"names_written_as_in_c", {"a\\b\tc\nd.fit", "x\ry\033.fit"}, ".", 1, "a\\\\b\\tc\\nd.fit\ta\\\\b\\tc\\nd_R.fit\t0\t0\tmono\n",
            "tarnis-repair: x\\ry\\033.fit: cannot read: no such file\n", {"a\\b\tc\nd_R.fit"}},
    // Two inputs whose outputs are one file through the folder's link, and one header (no date):
    // the second is refused rather than replace what the run wrote for the first.
    CliCase{"an_output_the_run_wrote_is_not_replaced_for_another_input", {"夜/m42.fit", "link/m42.fts"}, ".", 1,
            "夜/m42.fit\t夜/m42_R.fit\t0\t0\tmono\n",
            "tarnis-repair: link/m42_R.fit: cannot write: the output of 'm42.fit', repaired earlier in this run, has the same name "
            "(ignoring letter case); it is not replaced\n",
            {"夜/m42_R.fit"}},
    // The warning is said although the report could not be.
    CliCase{"a_report_that_cannot_be_written_is_a_failure", {"a.fit", "bias.fit"}, ".", 1, "",
            "tarnis-repair: bias.fit: 警告: サンプルの 2.06 % がドロップアウトです。オフセットなしで撮った画像（バイアスや、シミュレーターの"
            "画像など）では本当の 0 も同じ形で記録されるため、ドロップアウトとして修復しました。\n"
            "tarnis-repair: 標準出力に書き込めませんでした。ディスクの空き容量が足りません。\n",
            {"a_R.fit", "bias_R.fit"}, kJapanese, "", "> /dev/full"},
    // Room for the standard streams and six files: one worker, not eight short of files.
    CliCase{"fewer_workers_where_files_run_short", {"-qj8", "a.fit", "big.fit", "夜/星雲 M42.fit", "m31_R.fit"}, ".", 0, "", "",
            {"a_R.fit", "big_R.fit", "夜/星雲 M42_R.fit", "m31_R_R.fit"}, "LANG=C", "prlimit --nofile=9"},
    // No thread can be started beside the first. The limit does not hold root, so root runs it as
    // nobody, who keeps the right to read whatever root may; LeakSanitizer, which needs a thread of
    // its own at the end, is turned off.
    CliCase{"fewer_workers_where_threads_run_short", {"-qcj", "4", "a.fit", "big.fit"}, ".", 0, "", "", {}, "LANG=C",
            "env ASAN_OPTIONS=detect_leaks=0 $(test $(id -u) = 0 && echo setpriv --reuid=nobody --regid=nogroup --clear-groups "
            "--inh-caps=+dac_override --ambient-caps=+dac_override) prlimit --nproc=1"},
#else
    // Windows' shells pass wildcards on as they are, and a device name there is no file.
    CliCase{"expands_wildcards_itself", {"--check", "夜/*.FIT"}, ".", 0,
            "夜/m42.fit\t夜/m42_R.fit\t0\t0\tmono\n夜/星雲 M42.fit\t夜/星雲 M42_R.fit\t1\t0\tmono\n", "", {}},
    // A pattern that matches nothing says so; and "-o D:" is the folder that D: is in ("%" its drive).
    CliCase{"a_pattern_that_matches_nothing_says_so", {"a.fit", "*.xyz"}, ".", 1, "a.fit\ta_R.fit\t2\t1\tmono\n",
            "tarnis-repair: *.xyz: no file matches\n", {"a_R.fit"}},
    CliCase{"a_bare_drive_as_output_folder_is_its_current_folder", {"-q", "-o", "%", "m42.fit"}, "夜", 0, "", "", {"夜/m42_R.fit"}},
    CliCase{"refuses_device_names", {"--check", "CON", "nul.fit"}, ".", 1, "",
            "tarnis-repair: CON: cannot read: not a regular file (a device, a pipe or the like)\n"
            "tarnis-repair: nul.fit: cannot read: not a regular file (a device, a pipe or the like)\n",
            {}},
#endif
};
// clang-format on

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(TarnisRepair, Cli, ::testing::ValuesIn(kCases), [](const auto& info) { return info.param.label; });
// clang-format on

// Which file may take an output's name, in one table run both by the window's run (started again
// after each failure, past the failing file, as the user would) and by tarnis-repair: only this
// program's earlier output of the same input, never another input, nor the output of another input
// of the run (ignoring letter case), nor any other file; and a second run over a whole folder passes
// its earlier outputs over; the same rules hold in the folder of --output-dir, which only
// tarnis-repair has. The inputs all have the same header, as from a camera that writes no date, and
// no two the same data.
enum class Kind {
    Input,
    RedChannel,
    EarlierOutputOf,
    LongerCopyOf,
    HeaderChangedCopyOf,
    SameHeaderOtherImage,
    HardLinkTo,
    LargeInput,     // of 100 rows: more than a stretch compared at a time
    EditedOutputOf, // an earlier output with a satellite trail painted out far into it
    PlanetFrame,    // black sky stored as dropouts (true zeros), the planet its own
    FolderLinkTo    // a symbolic link to a folder
};

// Where a frame of 100 rows holds its planet, and an edit paints a trail: far from its start, past
// the first stretch compared, and between the blocks that a look at sixteen blocks of 4 KiB would
// compare.
constexpr std::size_t kFarInto = 1100000;
constexpr std::size_t kPaintedBytes = 300;

struct FileOfCase {
    std::string name;
    Kind kind = Kind::Input;
    std::string of = {};
};

struct Refusal {
    std::string input;
    Cause cause;
    std::string detail;
};

struct OutputCase {
    std::string label;
    std::vector<FileOfCase> files;
    std::vector<std::string> chosen;            // the run's inputs, in its order
    std::map<std::string, std::string> outputs; // written or renewed: each and its input
    std::vector<Refusal> refused = {};          // in the run's order; each names the input's output
    std::vector<std::string> options =
        {};                 // tarnis-repair's alone: the window does not run the case
    std::string into = {};  // the folder the outputs go to, where not beside their inputs
    std::string notes = {}; // tarnis-repair's notes on standard error, before any failure
};

void PrintTo(const OutputCase& c, std::ostream* out) { *out << c.label; }

class Outputs : public ::testing::TestWithParam<OutputCase> {};

TEST_P(Outputs, replace_only_this_programs_earlier_output_of_the_same_input)
{
    const OutputCase& c = GetParam();
    for (const bool window : {c.options.empty(), false}) {
        test::ScratchDir scratch;
        std::map<std::string, Bytes> files;
        if (!c.into.empty())
            std::filesystem::create_directory(scratch.file(c.into));
        for (const FileOfCase& file : c.files) {
            std::filesystem::create_directories(scratch.file(file.name).parent_path());
            const auto seed = static_cast<std::uint32_t>(files.size() + 1);
            Bytes bytes = files.contains(file.of) ? files.at(file.of) : Bytes();
            switch (file.kind) {
            case Kind::Input: bytes = test::imageWithDropouts(3, {15040, 20000}, seed); break;
            case Kind::RedChannel: bytes = test::imageWithDropouts(4, {}, seed); break;
            case Kind::EarlierOutputOf: // its dropouts repaired otherwise, as by an earlier version
                bytes[15040] = bytes[20000] = 0x11;
                break;
            case Kind::LongerCopyOf: bytes.resize(bytes.size() + 2880); break;
            case Kind::HeaderChangedCopyOf: bytes[2000] = 'x'; break; // in the padding after END
            case Kind::SameHeaderOtherImage: bytes = test::imageWithDropouts(3, {}, seed); break;
            case Kind::HardLinkTo:
                std::filesystem::create_hard_link(scratch.file(file.of), scratch.file(file.name));
                break;
            case Kind::LargeInput:
                bytes = test::imageWithDropouts(100, {15040, 20000}, seed);
                break;
            case Kind::EditedOutputOf:
                bytes[15040] = bytes[20000] = 0x11;
                std::fill_n(bytes.begin() + kFarInto, kPaintedBytes, 0x22);
                break;
            case Kind::PlanetFrame:
                bytes = test::imageWithDropouts(100, {}, seed);
                for (std::size_t at = 2880; at < bytes.size(); at += 2) {
                    if (at < kFarInto || at >= kFarInto + kPaintedBytes)
                        bytes[at] = 0x80, bytes[at + 1] = 0x00;
                }
                break;
            case Kind::FolderLinkTo:
                std::filesystem::create_directory_symlink(pathFromUtf8(file.of),
                                                          scratch.file(file.name));
                continue;
            }
            if (file.kind != Kind::HardLinkTo)
                test::writeFile(scratch.file(file.name), bytes);
            // Private frames, which the user may not write; outputs of earlier runs as the user left them.
            if (file.kind == Kind::Input || file.kind == Kind::LargeInput)
                std::filesystem::permissions(scratch.file(file.name), std::filesystem::perms(0400));
            files[file.name] = bytes;
        }
        std::map<std::string, std::filesystem::perms> permissions;
        for (const auto& [output, input] : c.outputs)
            permissions[output] = std::filesystem::status(
                                      scratch.file(files.contains(output) ? output : input))
                                      .permissions();
        std::map<std::string, Bytes> expected = files;
        for (const auto& [output, input] : c.outputs) {
            expected[output] = files.at(input);
            ASSERT_TRUE(test::repairPlainly(expected[output],
                                            static_cast<std::int64_t>(expected[output].size()),
                                            readImageLayout(expected[output])));
        }

        std::vector<Refusal> refused;
        std::string errors;
        for (const Refusal& r : c.refused) {
            const std::string output = outputFileName(
                utf8FromPath(pathFromUtf8(r.input).filename()), "");
            errors += "tarnis-repair: "
                      + describeOnOneLine(FileAction::Write,
                                          c.into.empty() ? output
                                                         : c.into + kPathSeparator + output,
                                          r.cause, r.detail, Language::English)
                      + "\n";
        }
        if (window) {
            test::MemoryFileList list(c.chosen);
            RunValues values;
            FileSlot slot;
            for (bool done = false; !done;) {
                try {
                    runBatch(
                        list,
                        {scratch.dirPath(), static_cast<std::int32_t>(list.entries.size() + 1)},
                        values, slot);
                    done = true;
                } catch (const Error& error) {
                    EXPECT_EQ(error.path(),
                              scratch.dirPath() + outputFileName(list.entries.front(), ""));
                    refused.push_back({list.entries.front(), error.cause(), error.detail()});
                    list.entries.erase(list.entries.begin());
                }
            }
            EXPECT_EQ(list.entries, std::vector<std::string>{test::kCompletionText})
                << "passed over entries leave the list";
        } else {
            std::vector<std::string> arguments = c.options;
            arguments.insert(arguments.end(), c.chosen.begin(), c.chosen.end());
            const test::ProgramResult result = test::runProgram(
                TARNIS_REPAIR, arguments, scratch.path(), "", "", {"LC_ALL=C"});
            EXPECT_EQ(result.exitStatus, c.refused.empty() ? 0 : 1);
            EXPECT_EQ(result.error, c.notes + errors);
            EXPECT_EQ(
                static_cast<std::size_t>(std::count(result.out.begin(), result.out.end(), '\n')),
                c.outputs.size())
                << result.out;
        }
        EXPECT_EQ(window ? refused.size() : c.refused.size(), c.refused.size());
        for (std::size_t i = 0; window && i < std::min(refused.size(), c.refused.size()); ++i)
            EXPECT_EQ(std::tie(refused[i].input, refused[i].cause, refused[i].detail),
                      std::tie(c.refused[i].input, c.refused[i].cause, c.refused[i].detail));
        std::map<std::string, Bytes> after;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(scratch.path())) {
            std::string name = utf8FromPath(entry.path().lexically_relative(scratch.path()));
            std::replace(name.begin(), name.end(), kPathSeparator, '/');
            if (entry.is_regular_file())
                after[name] = test::readFile(entry.path());
        }
        EXPECT_TRUE(after == expected) << (window ? "window" : "tarnis-repair")
                                       << ": a file is not as it should be, or is extra";
#ifndef _WIN32 // a new output gets its input's permissions, and its owner may write it; a renewed one keeps its own
        for (const auto& [output, expectedPermissions] : permissions)
            EXPECT_EQ(std::filesystem::status(scratch.file(output)).permissions(),
                      expectedPermissions
                          | (files.contains(output) ? std::filesystem::perms::none
                                                    : std::filesystem::perms::owner_write))
                << output;
#endif
    }
}

// A table reads best one case to a line.
// clang-format off
const std::vector<OutputCase> kOutputCases = {
    // Outputs of one run whose names are one: the second input is refused.
    OutputCase{"frames_numbered_without_an_extension", {{"dark_300s_0001"}, {"dark_300s_0002"}}, {"dark_300s_0001", "dark_300s_0002"},
               {{"dark_300s__R.fit", "dark_300s_0001"}}, {{"dark_300s_0002", Cause::OutputOfAnotherInput, "dark_300s_0001"}}},
    OutputCase{"fit_and_fts", {{"m42.fit"}, {"m42.fts"}}, {"m42.fit", "m42.fts"}, {{"m42_R.fit", "m42.fit"}},
               {{"m42.fts", Cause::OutputOfAnotherInput, "m42.fit"}}},
#ifndef _WIN32 // one name there
    OutputCase{"names_differing_in_letter_case_only", {{"a.fit"}, {"A.FIT"}}, {"a.fit", "A.FIT"}, {{"a_R.fit", "a.fit"}},
               {{"A.FIT", Cause::OutputOfAnotherInput, "a.fit"}}},
#endif
    // What is under the output's name already.
    OutputCase{"its_own_earlier_output_is_renewed", {{"a.fit"}, {"a_R.fit", Kind::EarlierOutputOf, "a.fit"}}, {"a.fit"},
               {{"a_R.fit", "a.fit"}}},
    OutputCase{"a_red_channel_is_kept", {{"m31.fit"}, {"m31_R.fit", Kind::RedChannel}}, {"m31.fit"}, {},
               {{"m31.fit", Cause::NotAnEarlierOutput, "m31.fit"}}},
    OutputCase{"a_longer_file_is_kept", {{"a.fit"}, {"a_R.fit", Kind::LongerCopyOf, "a.fit"}}, {"a.fit"}, {},
               {{"a.fit", Cause::NotAnEarlierOutput, "a.fit"}}},
    OutputCase{"a_file_with_another_header_is_kept", {{"a.fit"}, {"a_R.fit", Kind::HeaderChangedCopyOf, "a.fit"}}, {"a.fit"}, {},
               {{"a.fit", Cause::NotAnEarlierOutput, "a.fit"}}},
    // Proven over the whole file: an edit far into it, or another frame whose sky is all dropouts.
    OutputCase{"a_large_earlier_output_is_renewed", {{"M42.fit", Kind::LargeInput}, {"M42_R.fit", Kind::EarlierOutputOf, "M42.fit"}},
               {"M42.fit"}, {{"M42_R.fit", "M42.fit"}}},
    OutputCase{"an_output_edited_far_into_it_is_kept", {{"M31.fit", Kind::LargeInput}, {"M31_R.fit", Kind::EditedOutputOf, "M31.fit"}},
               {"M31.fit"}, {}, {{"M31.fit", Cause::NotAnEarlierOutput, "M31.fit"}}},
    OutputCase{"another_planetary_frames_output_is_kept",
               {{"jup_0001", Kind::PlanetFrame}, {"jup_0002", Kind::PlanetFrame}, {"jup__R.fit", Kind::EarlierOutputOf, "jup_0001"}},
               {"jup_0002"}, {}, {{"jup_0002", Cause::NotAnEarlierOutput, "jup_0002"}}},
    OutputCase{"another_image_with_the_same_header_is_kept", {{"a.fit"}, {"a_R.fit", Kind::SameHeaderOtherImage}}, {"a.fit"}, {},
               {{"a.fit", Cause::NotAnEarlierOutput, "a.fit"}}},
    // A second run over every file of the folder: the earlier outputs are renewed, never repaired.
    OutputCase{"a_second_run_over_the_folder_changes_nothing_but_the_outputs",
               {{"a.fit"}, {"a_R.fit", Kind::EarlierOutputOf, "a.fit"}, {"b.fit"}, {"b_R.fit", Kind::EarlierOutputOf, "b.fit"}},
               {"a_R.fit", "a.fit", "b.fit", "b_R.fit"}, {{"a_R.fit", "a.fit"}, {"b_R.fit", "b.fit"}}, {}, {}, {},
               "tarnis-repair: a_R.fit: an earlier output of 'a.fit', which renews it; passed over\n"
               "tarnis-repair: b_R.fit: an earlier output of 'b.fit', which renews it; passed over\n"},
    // As when xargs or parallel hand the outputs to another run than their inputs.
    OutputCase{"an_earlier_output_chosen_without_its_input_is_renewed_from_it", {{"a.fit"}, {"a_R.fit", Kind::EarlierOutputOf, "a.fit"}},
               {"a_R.fit"}, {{"a_R.fit", "a.fit"}}, {}, {}, {}, "tarnis-repair: a_R.fit: an earlier output of 'a.fit'; renewed from it\n"},
    // A file of the selection that is not an earlier output stays, however it is reached.
    OutputCase{"a_red_channel_chosen_with_its_namesake", {{"m31.fit"}, {"m31_R.fit", Kind::RedChannel}}, {"m31.fit", "m31_R.fit"},
               {{"m31_R_R.fit", "m31_R.fit"}}, {{"m31.fit", Cause::OutputIsSelected, "m31.fit"}}},
    OutputCase{"a_red_channel_chosen_through_a_hard_link",
               {{"m31.fit"}, {"m31_R.fit", Kind::RedChannel}, {"red.fit", Kind::HardLinkTo, "m31_R.fit"}}, {"m31.fit", "red.fit"},
               {{"red_R.fit", "red.fit"}}, {{"m31.fit", Cause::OutputIsSelected, "m31.fit"}}},
    // Letter case folded in every script, as NTFS and exFAT fold it.
    OutputCase{"names_one_ignoring_armenian_letter_case", {{"ա.fit"}, {"Ա.fts"}}, {"ա.fit", "Ա.fts"}, {{"ա_R.fit", "ա.fit"}},
               {{"Ա.fts", Cause::OutputOfAnotherInput, "ա.fit"}}},
#ifndef _WIN32 // symbolic links need a privilege there
    // Files told apart by what the system resolves their paths to, not by how they are spelt.
    OutputCase{"a_path_through_a_link_to_another_folder_is_another_file",
               {{"b.fit"}, {"x/b.fit"}, {"x/y/c.fit"}, {"link", Kind::FolderLinkTo, "x/y"}}, {"b.fit", "link/../b.fit"},
               {{"b_R.fit", "b.fit"}, {"x/b_R.fit", "x/b.fit"}}, {}, {"-j1"}},
    OutputCase{"the_same_file_named_through_a_link_to_its_folder_is_passed_over", {{"a.fit"}, {"link", Kind::FolderLinkTo, "."}},
               {"a.fit", "link/a.fit"}, {{"a_R.fit", "a.fit"}}, {}, {"-j1"}, {},
               "tarnis-repair: link/a.fit: the same file as 'a.fit', named before; passed over\n"},
#endif
    // Into a folder of their own, from a card that is write-protected or an archive that is read-only
    // ("--out", as GNU programs take a long option cut short): two inputs of one name from two folders
    // have one output there, ignoring letter case too, and an earlier output there is renewed.
    OutputCase{"into_a_folder_inputs_of_one_name_from_two_folders_collide",
               {{"x/a.fit"}, {"y/a.fit"}, {"z/A.FIT"}, {"b.fit"}, {"out/b_R.fit", Kind::EarlierOutputOf, "b.fit"}},
               {"x/a.fit", "y/a.fit", "z/A.FIT", "b.fit"}, {{"out/a_R.fit", "x/a.fit"}, {"out/b_R.fit", "b.fit"}},
               {{"y/a.fit", Cause::OutputOfAnotherInput, "x/a.fit"}, {"z/A.FIT", Cause::OutputOfAnotherInput, "x/a.fit"}},
               {"--out", "out"}, "out"},
    OutputCase{"into_a_folder_a_red_channel_there_is_kept", {{"m31.fit"}, {"out/m31_R.fit", Kind::RedChannel}}, {"m31.fit"}, {},
               {{"m31.fit", Cause::NotAnEarlierOutput, "m31.fit"}}, {"-oout"}, "out"},
};
// clang-format on

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(TarnisRepair, Outputs, ::testing::ValuesIn(kOutputCases), [](const auto& info) { return info.param.label; });
// clang-format on

// An output is on disk before it gets its name, and its name is on disk before the run moves on:
// the system calls say so, for a new output and for one that replaces an earlier. The output starts
// as a copy that the kernel makes, and only the repaired bytes are written into it.
// 1885 over 1782 (stored 87 5D and 86 F6, with 11 and 20 just before them): the mean of the values,
// 1833 (87 29), unless the byte rule of earlier versions is asked for, which made 86 18 of them.
TEST(TarnisRepair, rebuilds_by_the_values_and_byte_by_byte_only_with_bytewise)
{
    constexpr std::size_t kDropout = 2880 + 12160 + 100;
    Bytes frame = test::imageWithDropouts(3, {static_cast<std::int64_t>(kDropout)});
    for (const auto& [at, value] : std::map<std::size_t, std::uint8_t>{{kDropout - 12161, 0x11},
                                                                       {kDropout - 12160, 0x87},
                                                                       {kDropout - 12159, 0x5D},
                                                                       {kDropout + 12159, 0x20},
                                                                       {kDropout + 12160, 0x86},
                                                                       {kDropout + 12161, 0xF6}})
        frame[at] = value;
    for (const auto& [arguments, high, low] :
         {std::tuple{std::vector<std::string>{"a.fit"}, 0x87, 0x29},
          std::tuple{std::vector<std::string>{"--bytewise", "a.fit"}, 0x86, 0x18}}) {
        test::ScratchDir scratch;
        test::writeFile(scratch.file("a.fit"), frame);
        EXPECT_EQ(test::runProgram(TARNIS_REPAIR, arguments, scratch.path()).exitStatus, 0);
        Bytes expected = frame;
        expected[kDropout] = static_cast<std::uint8_t>(high);
        expected[kDropout + 1] = static_cast<std::uint8_t>(low);
        EXPECT_TRUE(test::readFile(scratch.file("a_R.fit")) == expected) << arguments.front();
    }
}

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
            "/usr/bin/strace",
            {"-f", "-e",
             "trace=openat,fsync,linkat,renameat,renameat2,ioctl,copy_file_range,pwrite64", "-o",
             trace,
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
        const std::string folder = calls.substr(folderStart,
                                                calls.find(',', folderStart) - folderStart);
        const std::size_t equals = calls.find("= ", open) + 2;
        const std::string file = calls.substr(equals, calls.find('\n', equals) - equals);
        const std::size_t named = std::min(calls.find("linkat(", open),
                                           calls.find("renameat", open));
        const std::size_t folderSynced = calls.find("fsync(" + folder + ")", open);
        const std::size_t synced = calls.find("fsync(" + file + ")", open);
        // ioctl(FILE, BTRFS_IOC_CLONE or FICLONE, INPUT) = 0 where the file system shares blocks,
        // copy_file_range(INPUT, [0], FILE, [0], LENGTH, 0) = LENGTH elsewhere; then the patches,
        // each block that holds a repaired sample written whole, pwrite64(FILE, "..", 4096, 12288)
        // = 4096, so that the file system need not read it first.
        std::size_t copied = calls.find("copy_file_range(", open);
        for (std::size_t at = calls.find("ioctl(" + file + ", ", open); at < copied;
             at = calls.find("ioctl(" + file + ", ", at + 1)) {
            const std::string line = calls.substr(at, calls.find('\n', at) - at);
            copied = line.find("FICLONE") != std::string::npos && line.ends_with(" = 0") ? at
                                                                                         : copied;
        }
        std::vector<std::pair<long, long>> patches; // where, and how many bytes written
        for (std::size_t at = calls.find("pwrite64(" + file + ",", copied); at < synced;
             at = calls.find("pwrite64(" + file + ",", at + 1)) {
            const std::size_t result = calls.find(") = ", at);
            patches.emplace_back(std::stol(calls.substr(calls.rfind(", ", result) + 2)),
                                 std::stol(calls.substr(result + 4)));
        }
        EXPECT_EQ(patches, (std::vector<std::pair<long, long>>{{12288, 4096}, {24576, 4096}}))
            << output << ": the blocks of the two samples repaired below the first row:\n"
            << calls;
        EXPECT_LT(copied, synced) << output << ":\n" << calls;
        EXPECT_LT(synced, named) << output << ":\n" << calls;
        EXPECT_LT(named, folderSynced) << output << ":\n" << calls;
        EXPECT_NE(folderSynced, std::string::npos) << output << ":\n" << calls;
    }
}

// A console whose clock moves on by 400 ms whenever it is read, so that a short run looks long.
struct SlowConsole : cli::Console {
    explicit SlowConsole(bool terminal) : terminal(terminal) {}
    int writeOut(std::string_view text) override { return out += text, 0; }
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

// On a terminal, progress after a second, cleared before the summary that closes the run.
TEST(TarnisRepair, shows_progress_and_a_summary_on_a_terminal_only)
{
    test::ScratchDir scratch;
    for (const char* name : {"a.fit", "float.fit"})
        test::writeFile(scratch.file(name), kInputs.at(name));
    const std::string failure = "tarnis-repair: " + scratch.dirPath() + "float.fit: ";
    const std::string a = scratch.dirPath() + "a.fit";
    const std::string namedAgain = "tarnis-repair: " + a + ": the same file as '" + a
                                   + "', named before; passed over\n";
    const std::string progress = "\r3/3  39 kB  33 kB/s\r\r                   \r";
    for (
        const auto& [terminal, options, language, shown] :
        std::vector<std::tuple<bool, std::string, Language, std::string>>{
            {true, "-j1", Language::English,
             failure + "cannot repair: not a 16-bit integer image (BITPIX = -32)\n" + namedAgain
                 + progress
                 + "1 file repaired, 1 failed; 2 dropouts repaired, 1 left; 39 kB in 1.6 s\n"},
            {true, "-c", Language::Japanese,
             failure
                 + "ファイルを修復できませんでした。16 ビット整数の画像ではありません（BITPIX = -32）。\n"
                 + "tarnis-repair: " + a + ": 先に指定された「" + a
                 + "」と同じファイルです。処理を飛ばしました。\n" + progress
                 + "ファイル 1 個を確認、失敗 1 個。修復するドロップアウト 2 個、残すもの 1 個。39 kB、1.6 秒。\n"},
            {false, "-j1", Language::English,
             failure + "cannot repair: not a 16-bit integer image (BITPIX = -32)\n"
                 + namedAgain}}) {
        SlowConsole console(terminal);
        EXPECT_EQ(cli::runCommand({options, scratch.dirPath() + "a.fit",
                                   scratch.dirPath() + "float.fit", scratch.dirPath() + "a.fit"},
                                  console, language),
                  1);
        EXPECT_THAT(console.out, ::testing::Not(::testing::HasSubstr("\r")));
        EXPECT_EQ(console.error, shown);
    }
}

} // namespace
} // namespace tarnis
