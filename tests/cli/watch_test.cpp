// tarnis-repair --watch over a night in a scratch folder: frames saved in one go, in two sittings,
// renamed in, in upper case, besides a text file, a bad frame and a frame that stays short; with the
// system's notifications and by polling. The watch runs on a thread of the test, which waits for
// each report line, never for a time alone.
#include "cli/command.h"
#include "cli/watch.h"
#include "common/file_names.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace tarnis {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

constexpr auto kBound = 20s; // for each line awaited; a watch takes a frame in milliseconds

// Standard output and standard error as the watch writes them, for a test thread to wait on.
class WatchedConsole : public cli::Console {
public:
    explicit WatchedConsole(bool terminal = false) : terminal_(terminal) {}
    int writeOut(std::string_view text) override { return add(out_, text), 0; }
    void writeError(std::string_view text) override { add(error_, text); }
    [[nodiscard]] bool errorIsTerminal() const override { return terminal_; }
    // Whether `text` appears on standard output (or standard error) within the bound.
    bool shows(const std::string& text, bool onError = false)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kBound, [&] {
            return (onError ? error_ : out_).find(text) != std::string::npos;
        });
    }
    std::string out()
    {
        const std::lock_guard lock(mutex_);
        return out_;
    }
    std::string error()
    {
        const std::lock_guard lock(mutex_);
        return error_;
    }

private:
    void add(std::string& stream, std::string_view text)
    {
        const std::lock_guard lock(mutex_);
        stream += text;
        changed_.notify_all();
    }
    const bool terminal_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string out_;
    std::string error_;
};

// A watch of `folder` on a thread of its own. Should a test fail half way, the folder is removed,
// which ends the watch, so that the test does not wait for it forever.
class RunningWatch {
public:
    RunningWatch(const test::ScratchDir& folder, WatchedConsole& console,
                 cli::WatchSettings settings = {})
        : folder_(folder), settings_(settings),
          status_(std::async(std::launch::async, [this, &console] {
              return cli::watchFolder({folder_.dirPath(), {}, false}, console, Language::English,
                                      settings_);
          }))
    {
    }
    ~RunningWatch()
    {
        if (status_.valid()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_.path(), ignored);
            if (status_.wait_for(kBound) != std::future_status::ready)
                std::raise(SIGINT); // a watch that missed its folder's end
        }
    }
    // Its exit status, once it has ended within the bound; -1 where it goes on.
    int ended()
    {
        return status_.wait_for(kBound) == std::future_status::ready ? status_.get() : -1;
    }

private:
    const test::ScratchDir& folder_;
    const cli::WatchSettings settings_;
    std::future<int> status_;
};

// A frame of three rows with a dropout in its second row, and one in its third that only the
// second half of its bytes holds.
const Bytes kFrame = test::imageWithDropouts(3, {15040, 27300});
const Bytes kFirstHalf(kFrame.begin(),
                       kFrame.begin() + static_cast<std::ptrdiff_t>(kFrame.size() / 2));
const Bytes kSecondHalf(kFrame.begin() + static_cast<std::ptrdiff_t>(kFrame.size() / 2),
                        kFrame.end());

// The second sitting of a writer: the file opened again, and written on at its end.
void append(const std::filesystem::path& path, const Bytes& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::app);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The report's line for a frame of `folder` (ending with its separator).
std::string line(const std::string& folder, const std::string& input, const std::string& output,
                 int repaired)
{
    return folder + input + "\t" + folder + output + "\t" + std::to_string(repaired)
           + "\t0\tmono\n";
}

class WatchNight : public ::testing::TestWithParam<bool> {};

TEST_P(WatchNight, takes_each_frame_once_whole_and_in_order_and_nothing_else)
{
    const bool polling = GetParam();
    test::ScratchDir night;
    test::writeFile(night.file("first.fit"), kFrame);
    // Repaired by an earlier run: neither it nor its output is taken again.
    test::writeFile(night.file("done.fit"), test::imageWithDropouts(3, {15040}, 2));
    ASSERT_EQ(cli::runCommand({"-q", night.dirPath() + "done.fit"}, *cli::processConsole(),
                              Language::English),
              0);
    const Bytes earlierOutput = test::readFile(night.file("done_R.fit"));

    WatchedConsole console;
    cli::WatchSettings settings{polling, 100ms, 3s};
    RunningWatch watch(night, console, settings);
    ASSERT_TRUE(console.shows(line(night.dirPath(), "first.fit", "first_R.fit", 2)));

    test::writeFile(night.file("b.fit"), kFrame);
    ASSERT_TRUE(console.shows(line(night.dirPath(), "b.fit", "b_R.fit", 2)));
    // Closed after its first half and opened again: taken once, whole, after a frame saved later.
    test::writeFile(night.file("half.fit"), kFirstHalf);
    test::writeFile(night.file("E.FITS"), kFrame);
    ASSERT_TRUE(console.shows(line(night.dirPath(), "E.FITS", "E._R.fit", 2)));
    append(night.file("half.fit"), kSecondHalf);
    ASSERT_TRUE(console.shows(line(night.dirPath(), "half.fit", "half_R.fit", 2)));
    // Written under a name of its own, then renamed; besides files that are no frames.
    test::writeFile(night.file("notes.txt"), kFrame);
    test::writeFile(night.file(".hidden.fit"), kFrame);
    test::writeFile(night.file("g.fit.part"), kFrame);
    std::filesystem::rename(night.file("g.fit.part"), night.file("g.fit"));
    ASSERT_TRUE(console.shows(line(night.dirPath(), "g.fit", "g_R.fit", 2)));
    // Whole, but still open for writing: taken once its writer lets it go.
    {
        std::ofstream held(night.file("held.fit"), std::ios::binary);
        held.write(reinterpret_cast<const char*>(kFrame.data()),
                   static_cast<std::streamsize>(kFrame.size()));
        held.flush();
        test::writeFile(night.file("next.fit"), kFrame);
        ASSERT_TRUE(console.shows(line(night.dirPath(), "next.fit", "next_R.fit", 2)));
    }
    ASSERT_TRUE(console.shows(line(night.dirPath(), "held.fit", "held_R.fit", 2)));
    test::writeFile(night.file("bad.fit"), Bytes(5000, 'x'));
    ASSERT_TRUE(console.shows("bad.fit: cannot repair", true));
    // Given up half way: taken as it is once it has not grown for the watch's patience.
    test::writeFile(night.file("short.fit"), kFirstHalf);
    ASSERT_TRUE(console.shows(line(night.dirPath(), "short.fit", "short_R.fit", 1)));
    // Stopped while a frame is being written: it is left for a later watch.
    test::writeFile(night.file("cut.fit"), kFirstHalf);
    std::raise(SIGINT);
    EXPECT_EQ(watch.ended(), 1); // bad.fit failed

    EXPECT_EQ(console.out(), line(night.dirPath(), "first.fit", "first_R.fit", 2)
                                 + line(night.dirPath(), "b.fit", "b_R.fit", 2)
                                 + line(night.dirPath(), "E.FITS", "E._R.fit", 2)
                                 + line(night.dirPath(), "half.fit", "half_R.fit", 2)
                                 + line(night.dirPath(), "g.fit", "g_R.fit", 2)
                                 + line(night.dirPath(), "next.fit", "next_R.fit", 2)
                                 + line(night.dirPath(), "held.fit", "held_R.fit", 2)
                                 + line(night.dirPath(), "short.fit", "short_R.fit", 1));
    EXPECT_EQ(console.error(),
              (polling ? "tarnis-repair: " + night.dirPath()
                             + ": this file system tells of no new files; looking for them every "
                               "2 seconds\n"
                       : std::string())
                  + "tarnis-repair: " + night.dirPath()
                  + "bad.fit: cannot repair: not a FITS file (it starts with "
                    "'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxx')\n"
                  + "tarnis-repair: " + night.dirPath()
                  + "short.fit: warning: the file ends before the image its header describes: it "
                    "holds 8,400 of the image's 18,240 samples, and only those were repaired\n");
    EXPECT_EQ(test::namesIn(night.path()),
              (std::set<std::string>{"first.fit",   "first_R.fit", "done.fit",  "done_R.fit",
                                     "b.fit",       "b_R.fit",     "half.fit",  "half_R.fit",
                                     "E.FITS",      "E._R.fit",    "notes.txt", ".hidden.fit",
                                     "g.fit",       "g_R.fit",     "next.fit",  "next_R.fit",
                                     "held.fit",    "held_R.fit",  "bad.fit",   "short.fit",
                                     "short_R.fit", "cut.fit"}));
    EXPECT_EQ(test::readFile(night.file("done_R.fit")), earlierOutput);
}

INSTANTIATE_TEST_SUITE_P(TarnisRepair, WatchNight, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "polling" : "notified"; });

// A capture program's burst: a hundred frames at once, every one taken, in the order saved; on a
// terminal, a status line that closes with a summary.
TEST(TarnisRepairWatch, takes_a_burst_of_a_hundred_frames_in_order)
{
    test::ScratchDir night;
    WatchedConsole console(true);
    RunningWatch watch(night, console);
    ASSERT_TRUE(console.shows("\r0 frames repaired, 0 failed; waiting\r", true));
    std::string expected;
    for (int i = 100; i < 200; ++i) {
        const std::string name = "burst_" + std::to_string(i);
        test::writeFile(night.file(name + ".fit"), kFrame);
        expected += line(night.dirPath(), name + ".fit", name + "_R.fit", 2);
    }
    ASSERT_TRUE(console.shows(line(night.dirPath(), "burst_199.fit", "burst_199_R.fit", 2)));
    std::raise(SIGTERM);
    EXPECT_EQ(watch.ended(), 0);
    EXPECT_EQ(console.out(), expected);
    EXPECT_NE(console.error().find("\r100 frames repaired, 0 failed; waiting\r"),
              std::string::npos);
    EXPECT_NE(
        console.error().find("\r100 files repaired, 0 failed; 200 dropouts repaired, 0 left; "),
        std::string::npos)
        << console.error();
}

// Removed under the watch, or put away with another folder left under its name (as an unmounted
// file system leaves its mount point): one line, and a failed run's status. Polling, which lists
// the other folder as well as the first, tells the two apart.
class WatchGone : public ::testing::TestWithParam<bool> {};

TEST_P(WatchGone, ends_with_one_line_when_its_folder_is_gone)
{
    const bool replaced = GetParam();
#ifdef _WIN32
    if (!replaced && GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr)
        GTEST_SKIP() << "Wine keeps a removed folder, as open and whole, until its last handle is "
                        "closed, and tells no one that it is to be deleted";
#endif
    test::ScratchDir scratch;
    std::filesystem::create_directory(scratch.file("night"));
    test::writeFile(scratch.file("night/a.fit"), kFrame);
    WatchedConsole console;
    const std::string folder = scratch.dirPath() + "night" + kPathSeparator;
    const cli::WatchSettings settings{replaced, 100ms};
    auto status = std::async(std::launch::async, [&] {
        return cli::watchFolder({folder, {}, false}, console, Language::English, settings);
    });
    ASSERT_TRUE(console.shows(line(folder, "a.fit", "a_R.fit", 2)));
    if (replaced) {
        std::filesystem::rename(scratch.file("night"), scratch.file("put away"));
        std::filesystem::create_directory(scratch.file("night"));
    } else {
        std::filesystem::remove_all(scratch.file("night"));
    }
    if (status.wait_for(kBound) != std::future_status::ready)
        std::raise(SIGINT); // so that the test ends, failing
    ASSERT_EQ(status.wait_for(kBound), std::future_status::ready);
    EXPECT_EQ(status.get(), 1);
    EXPECT_TRUE(console.error().ends_with("tarnis-repair: " + folder
                                          + ": the folder is gone; the watch ends\n"))
        << console.error();
}

INSTANTIATE_TEST_SUITE_P(TarnisRepair, WatchGone, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "replaced" : "removed"; });

} // namespace
} // namespace tarnis
