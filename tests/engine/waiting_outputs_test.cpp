// Outputs committed together on a thread of their own: each told once how its commit ended, only
// once it is in place, and one refused at its commit failing alone.
#include "engine/waiting_outputs.h"

#include "common/cause.h"
#include "tests/support/files.h"
#include "tests/support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace tarnis {
namespace {

using test::Bytes;

TEST(WaitingOutputs, tells_each_output_once_after_it_is_in_place_and_fails_only_the_one_refused)
{
    test::ScratchDir scratch;
    const std::vector<std::string> names = {"a_R.fit", "b_R.fit", "c_R.fit", "d_R.fit", "e_R.fit"};
    const Bytes otherProgram = {'o', 't', 'h', 'e', 'r'};
    std::mutex mutex;
    std::map<std::string, std::vector<std::string>> told;
    {
        // Fewer may wait than there are outputs, so that handing one over also waits for room.
        WaitingOutputs outputs(2);
        for (const std::string& name : names) {
            const std::string path = scratch.file(name).string();
            const Bytes bytes(name.begin(), name.end());
            FileSlot& slot = outputs.slot();
            slot.openForWriting(path, std::nullopt);
            slot.writeAt(0, bytes);
            slot.finishWriting();
            // Another program takes the name while the output waits.
            if (name == "b_R.fit")
                test::writeFile(path, otherProgram);
            outputs.wait(path, [&, path, bytes](const FileIdentity* written, const Error* error) {
                std::string what;
                if (written)
                    what = fileIdentityByName(path) == *written && test::readFile(path) == bytes
                               ? "in place"
                               : "told before it was in place";
                else
                    what = std::string(causeName(error->cause())) + " " + error->path();
                const std::lock_guard lock(mutex);
                told[name].push_back(what);
            });
        }
        outputs.commitAll();
        const std::lock_guard lock(mutex);
        EXPECT_EQ(told.size(), names.size()) << "every output is told before commitAll() returns";
    }

    const std::map<std::string, std::vector<std::string>> expected = {
        {"a_R.fit", {"in place"}},
        {"b_R.fit", {"OutputChanged " + scratch.file("b_R.fit").string()}},
        {"c_R.fit", {"in place"}},
        {"d_R.fit", {"in place"}},
        {"e_R.fit", {"in place"}}};
    EXPECT_EQ(told, expected);
    EXPECT_EQ(test::readFile(scratch.file("b_R.fit")), otherProgram);
    EXPECT_EQ(test::namesIn(scratch.path()), std::set<std::string>(names.begin(), names.end()))
        << "nothing of the refused output is left behind";
}

// Each run of tarnis-repair starts the committing thread and ends it once its outputs are in place.
// Ending it must never wait for a wake-up that may be lost: under MinGW, a jthread's stop callback
// did so now and then, and the run never ended.
TEST(WaitingOutputs, ends_its_thread_whenever_the_end_meets_it_waiting)
{
    test::ScratchDir scratch;
    const std::string path = scratch.file("m31_R.fit").string();
    for (int run = 0; run < 300; ++run) {
        WaitingOutputs outputs(1);
        FileSlot& slot = outputs.slot();
        slot.openForWriting(path, std::nullopt);
        slot.writeAt(0, Bytes{'r'});
        slot.finishWriting();
        bool told = false;
        outputs.wait(path, [&](const FileIdentity* written, const Error*) { told = written; });
        outputs.commitAll();
        ASSERT_TRUE(told);
        std::filesystem::remove(path);
    }
}

} // namespace
} // namespace tarnis
