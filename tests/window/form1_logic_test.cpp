// What both windows do alike, through their seams: files queued as if chosen in the dialog (the
// program started with files, files dropped on the window), choices that cannot be taken, and a run
// on a thread of its own while everything else waits.
#include "window/form1_logic.h"

#include "common/file_names.h"
#include "tests/support/files.h"
#include "tests/support/memory_file_list.h"
#include "tests/support/scratch_dir.h"
#include "tests/window/fakes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace tarnis {
namespace {

const std::string kDone = "選択されたﾌｧｲﾙの処理を終了しました";
const test::ShownMessage kSeveralFolders{"Tarnis Ver3.0",
                                         "選択されたファイルが複数のフォルダーにあります。\n"
                                         "一度に処理できるのは一つのフォルダーのファイルだけです。"
                                         "同じフォルダーのファイルを選んでください。"};

// The list, noting the threads its calls come from: only the window's own may touch it.
class ThreadNotingList : public test::MemoryFileList {
public:
    void repaint() override
    {
        threads.insert(std::this_thread::get_id());
        MemoryFileList::repaint();
    }
    std::set<std::thread::id> threads;
};

// "/" written, the platform's separator given; "@" stands for the scratch folder, which is also
// the current folder.
struct QueueCase {
    std::string label;
    std::vector<std::string> paths;
    std::optional<std::string> dirPath; // none: refused with a message, the earlier choice kept
    std::vector<std::string> names;
};

void PrintTo(const QueueCase& c, std::ostream* out) { *out << c.label; }

class Window : public ::testing::Test {
public:
    Window() : dialog(script), messageBox(messages), logic(list, dialog, messageBox, host)
    {
        script.push_back(test::choose(native("/earlier/x.fit")));
        logic.selectFiles();
    }
    std::string native(std::string text) const
    {
        std::replace(text.begin(), text.end(), '/', kPathSeparator);
        const std::size_t at = text.find('@');
        return at == std::string::npos ? text : text.replace(at, 1, scratch.dirPath());
    }

    test::ScratchDir scratch;
    ThreadNotingList list;
    std::deque<test::DialogAnswer> script;
    std::vector<test::ShownMessage> messages;
    test::ScriptedDialog dialog;
    test::RecordingMessageBox messageBox;
    test::RecordingRunHost host;
    Form1Logic logic;
};

class QueuedFiles : public Window, public ::testing::WithParamInterface<QueueCase> {};

TEST_P(QueuedFiles, are_listed_and_run_as_if_chosen_or_refused_with_a_message)
{
    const QueueCase& c = GetParam();
    for (const char* name : {"a.fit", "b.fit", "sub/c.fit"}) {
        std::filesystem::create_directories(scratch.file(name).parent_path());
        test::writeFile(scratch.file(name), test::imageWithDropouts(2, {15040}));
    }
    std::vector<std::string> paths;
    for (const std::string& path : c.paths)
        paths.push_back(native(path));

    logic.queueFiles(paths, scratch.dirPath());

    EXPECT_EQ(list.entries, c.dirPath ? c.names : std::vector<std::string>{"x.fit"});
    EXPECT_EQ(logic.selection().dirPath, native(c.dirPath.value_or("/earlier/")));
    EXPECT_EQ(logic.selection().entryCount, c.dirPath ? static_cast<int>(c.names.size()) + 1 : 2);
    if (!c.dirPath) {
        EXPECT_EQ(messages, std::vector<test::ShownMessage>{kSeveralFolders});
        return;
    }
    logic.runBatch();
    logic.waitForRun();
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_TRUE(messages.empty()) << messages.front().text;
    for (const std::string& name : c.names)
        EXPECT_TRUE(std::filesystem::exists(
            pathFromUtf8(logic.selection().dirPath + name.substr(0, name.size() - 4) + "_R.fit")));
}

// A table reads best one case to a line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Form1Logic, QueuedFiles,
    ::testing::Values(QueueCase{"two_files_of_one_folder", {"@b.fit", "@a.fit"}, "@", {"b.fit", "a.fit"}},
                      QueueCase{"relative_paths_from_the_current_folder", {"a.fit", "./sub/../b.fit"}, "@", {"a.fit", "b.fit"}},
                      QueueCase{"one_file_in_a_folder_below", {"sub/c.fit"}, "@sub/", {"c.fit"}},
                      QueueCase{"files_of_two_folders", {"@a.fit", "@sub/c.fit"}, std::nullopt, {}},
                      QueueCase{"folders_whose_names_begin_alike", {"@sub/a.fit", "@subway/b.fit"}, std::nullopt, {}}),
    [](const auto& info) { return info.param.label; });
// clang-format on

TEST_F(Window,
       a_choice_too_large_for_the_dialog_or_of_two_folders_is_said_and_ends_as_a_cancel_does)
{
    script = {test::kTooMany, test::choose(native("/data") + '\0' + native("other/b.fit")),
              test::kCancel};
    for (std::size_t i = 0; i < 3; ++i)
        logic.selectFiles();

    EXPECT_EQ(messages, (std::vector<test::ShownMessage>{
                            {"Tarnis Ver3.0",
                             "選択されたファイルが多すぎて、名前をすべて受け取れませんでした。\n"
                             "何も選択していません。ファイルを何回かに分けて選んでください。"},
                            kSeveralFolders}));
    EXPECT_TRUE(list.entries.empty());
    EXPECT_EQ(logic.selection().dirPath, native("/earlier/"));
    EXPECT_EQ(logic.selection().entryCount, 2);
}

// Asked for while a run goes, a selection, a drop, a second run and the end are refused rather than
// kept for later; the run's calls to the list come on the window's thread, and the window is busy
// from the run's start to its end.
TEST_F(Window, a_run_goes_on_a_thread_of_its_own_and_refuses_everything_else_until_it_ends)
{
    std::vector<std::string> paths;
    for (const char* name : {"a.fit", "b.fit", "c.fit"}) {
        test::writeFile(scratch.file(name), test::imageWithDropouts(2, {15040}));
        paths.push_back(native("@") + name);
    }
    logic.queueFiles(paths, scratch.dirPath());
    logic.runBatch();
    EXPECT_TRUE(logic.running());

    script.push_back(test::choose(native("/other/y.fit")));
    logic.selectFiles();
    logic.queueFiles({native("@a.fit")}, scratch.dirPath());
    logic.runBatch();
    EXPECT_FALSE(logic.closeApplication());
    logic.waitForRun();

    EXPECT_EQ(script.size(), 1u) << "the dialog was shown during the run";
    EXPECT_EQ(list.entries, std::vector<std::string>{kDone});
    EXPECT_EQ(list.threads, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(list.repaints, 3);
    EXPECT_EQ(host.busy, (std::vector<bool>{true, false}));
    EXPECT_TRUE(messages.empty()) << messages.front().text;
    EXPECT_TRUE(logic.closeApplication());
}

} // namespace
} // namespace tarnis
