// The batch over 20 full frames, side by side with copying the same 20 files and syncing each
// copy: what any tool that writes a durable copy has to pay at least; and tarnis-repair side by
// side with cp and sync, and with reading and reflink copies, on ext4, xfs and btrfs.
#include "bench/inputs.h"
#include "bench/silent_console.h"
#include "cli/command.h"
#include "engine/batch.h"
#include "tests/support/memory_file_list.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnis::bench {
namespace {

constexpr int kFiles = 20;

void syncFile(const std::string& path)
{
    const int descriptor = ::open(path.c_str(), O_RDONLY);
    ::fsync(descriptor);
    ::close(descriptor);
}

// What any tool that writes durable copies pays at least: each file copied and synced.
void copyAndSyncAll(const Inputs& inputs)
{
    for (const std::string& name : inputs.names) {
        const std::string target = inputs.folder + "copy-" + name;
        std::filesystem::copy_file(inputs.folder + name, target,
                                   std::filesystem::copy_options::overwrite_existing);
        syncFile(target);
    }
}

void runWholeBatch(const Inputs& inputs, RunValues& run, FileSlot& slot)
{
    test::MemoryFileList list(inputs.names);
    runBatch(list, {inputs.folder, kFiles + 1}, run, slot);
}

// Every iteration starts with nothing left to write back from the one before. Outputs of earlier
// iterations stay, on both sides: replacing them is the usual case, and its cost is part of both.
void settle(benchmark::State& state)
{
    state.PauseTiming();
    ::sync();
    state.ResumeTiming();
}

void BM_batch(benchmark::State& state)
{
    const Inputs& inputs = Inputs::frames();
    RunValues run; // kept across runs, as the window keeps it
    FileSlot slot;
    for (auto _ : state) {
        settle(state);
        runWholeBatch(inputs, run, slot);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFiles * kFrameBytes));
}

// The same work with a buffer that is new for every file: what reusing the buffer saves.
void BM_batchFreshBufferPerFile(benchmark::State& state)
{
    const Inputs& inputs = Inputs::frames();
    FileSlot slot;
    for (auto _ : state) {
        settle(state);
        for (const std::string& name : inputs.names) {
            RunValues run;
            test::MemoryFileList list({name});
            runBatch(list, {inputs.folder, 2}, run, slot);
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFiles * kFrameBytes));
}

void BM_copyAndSync(benchmark::State& state)
{
    const Inputs& inputs = Inputs::frames();
    for (auto _ : state) {
        settle(state);
        copyAndSyncAll(inputs);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFiles * kFrameBytes));
}

// Both in every iteration, so that their ratio holds however busy the machine is:
// time_over_copy is the batch's time over the copy's. With 0 the slot watches each input with a read
// lease, as it does where the system grants one; with 1 it reads each input a second time and
// compares, as it does where none is granted.
void BM_batchAgainstCopy(benchmark::State& state)
{
    using Clock = std::chrono::steady_clock;
    const Inputs& inputs = Inputs::frames();
    RunValues run;
    FileSlot slot(TemporaryFiles::UnnamedWherePossible,
                  state.range(0) == 0 ? ChangeWatch::WherePossible : ChangeWatch::ReadTwice);
    Clock::duration batchTime{};
    Clock::duration copyTime{};
    bool copyFirst = true;
    for (auto _ : state) {
        const auto timeCopy = [&] {
            ::sync();
            const auto start = Clock::now();
            copyAndSyncAll(inputs);
            copyTime += Clock::now() - start;
        };
        const auto timeBatch = [&] {
            ::sync();
            const auto start = Clock::now();
            runWholeBatch(inputs, run, slot);
            const auto elapsed = Clock::now() - start;
            batchTime += elapsed;
            state.SetIterationTime(std::chrono::duration<double>(elapsed).count());
        };
        // Taking turns at going first, so that neither always finds the machine in the state the
        // other left it in.
        if (copyFirst) {
            timeCopy();
            timeBatch();
        } else {
            timeBatch();
            timeCopy();
        }
        copyFirst = !copyFirst;
    }
    state.counters["time_over_copy"] = std::chrono::duration<double>(batchTime).count()
                                       / std::chrono::duration<double>(copyTime).count();
}

// Peak resident memory of a batch over the 20 files, in a process of its own: it should stay near
// one file's size, since one buffer serves every file in turn.
void BM_batchPeakMemory(benchmark::State& state)
{
    const Inputs& inputs = Inputs::frames();
    long peakKiB = 0;
    for (auto _ : state) {
        std::vector<std::string> arguments = {TARNIS_BATCH_MEMORY, inputs.folder};
        arguments.insert(arguments.end(), inputs.names.begin(), inputs.names.end());
        std::vector<char*> argv;
        for (std::string& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t child = 0;
        if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
            state.SkipWithError("cannot start tarnis_batch_memory");
            return;
        }
        int status = 0;
        rusage usage{};
        ::wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the batch failed");
            return;
        }
        peakKiB = usage.ru_maxrss;
    }
    state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    state.counters["peak_per_file_size"] = static_cast<double>(peakKiB) * 1024.0
                                           / static_cast<double>(kFrameBytes);
}

// The file system the comparison with cp runs on, made for it as root in a loop image of its own:
// ext4, xfs with reflink, or btrfs, the last two sharing blocks between files. Unmounted and
// removed at its end.
class Disk {
public:
    enum Kind { Ext4, Xfs, Btrfs };

    explicit Disk(Kind kind) : kind_(kind)
    {
        if (::geteuid() != 0) {
            error = "mounting a loop image needs root";
            return;
        }
        std::string pattern = (std::filesystem::temp_directory_path() / "tarnis-disk-XXXXXX")
                                  .string();
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        root_ = pattern;
        folder = root_ / "disk";
        std::filesystem::create_directory(folder);
        std::ofstream(root_ / "disk.img").close();
        std::filesystem::resize_file(root_ / "disk.img", std::uintmax_t{3} << 30);
        const std::string make = kind == Ext4  ? "mkfs.ext4 -q -F "
                                 : kind == Xfs ? "mkfs.xfs -q -m reflink=1 "
                                               : "mkfs.btrfs -q ";
        if (std::system((make + (root_ / "disk.img").string() + " >/dev/null 2>&1").c_str()) != 0
            || std::system(
                   ("mount -o loop " + (root_ / "disk.img").string() + " " + folder.string())
                       .c_str())
                   != 0) {
            error = "cannot make or mount the loop image (" + make + "and mount)";
            return;
        }
        mounted_ = true;
    }
    ~Disk()
    {
        if (mounted_ && ::umount2(folder.c_str(), 0) != 0)
            ::umount2(folder.c_str(), MNT_DETACH);
        if (!root_.empty())
            std::filesystem::remove_all(root_);
    }
    Disk(const Disk&) = delete;
    Disk& operator=(const Disk&) = delete;

    [[nodiscard]] bool shares() const { return kind_ != Ext4; }

    // Bytes in use on the file system, once everything is on disk.
    [[nodiscard]] double usedBytes() const
    {
        ::sync();
        struct statvfs status {};
        ::statvfs(folder.c_str(), &status);
        return static_cast<double>(status.f_blocks - status.f_bfree)
               * static_cast<double>(status.f_frsize);
    }

    std::filesystem::path folder;
    std::string error;

private:
    Kind kind_;
    std::filesystem::path root_;
    bool mounted_ = false;
};

// The extents the file system keeps the file in.
unsigned extentsOf(const std::string& path)
{
    fiemap map{};
    map.fm_length = FIEMAP_MAX_OFFSET;
    map.fm_flags = FIEMAP_FLAG_SYNC;
    const int file = ::open(path.c_str(), O_RDONLY);
    const bool mapped = ::ioctl(file, FS_IOC_FIEMAP, &map) == 0;
    ::close(file);
    return mapped ? map.fm_mapped_extents : 0;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// tarnis-repair --quiet over 10 frames of 48.6 MB, side by side in every iteration, taking turns at
// going first, with the two yardsticks: `cp --reflink=never` and sync of the same files, what any
// tool that writes durable copies pays; and, where the file system shares blocks, reading each
// input and `cp --reflink=always` and sync, the least a tool that must read its input to find the
// dropouts can pay. The argument is the dropouts in a million samples. over_cp, over_read_reflink:
// the medians of the iterations' ratios; outputs_MB, cp_MB: the room the outputs and the plain
// copies took; extents: the most extents an output was kept in.
void BM_againstCp(benchmark::State& state, Disk::Kind kind)
{
    using Clock = std::chrono::steady_clock;
    constexpr int kFrames = 10;
    const Disk disk(kind);
    if (!disk.error.empty()) {
        state.SkipWithError(disk.error.c_str());
        return;
    }
    const Inputs inputs(kFrames, kCameraWidth, rowsOfWidth(kCameraWidth), disk.folder,
                        static_cast<double>(state.range(0)) / 1e6);
    const std::string copies = inputs.folder + "copies/";
    std::string files;
    std::vector<std::string> arguments = {"--quiet"};
    for (const std::string& name : inputs.names) {
        files += " " + inputs.folder + name;
        arguments.push_back(inputs.folder + name);
    }
    const std::string cp = "cp --reflink=never" + files + " " + copies + " && sync";
    const std::string readAndReflink = "cat" + files + " >/dev/null && cp --reflink=always" + files
                                       + " " + copies + " && sync";
    const auto outputOf = [&](const std::string& name) {
        return inputs.folder + name.substr(0, name.size() - 4) + "_R.fit";
    };
    const auto removeOutputs = [&] {
        std::filesystem::remove_all(copies);
        std::filesystem::create_directory(copies);
        for (const std::string& name : inputs.names)
            std::filesystem::remove(outputOf(name));
    };
    SilentConsole console;
    std::vector<double> overCp;
    std::vector<double> overReadReflink;
    double outputBytes = 0;
    double copyBytes = 0;
    unsigned extents = 0;
    int turn = 0;
    for (auto _ : state) {
        double cpSeconds = 0;
        double reflinkSeconds = 0;
        double tarnisSeconds = 0;
        const auto timeCommand = [&](const std::string& command, double& seconds, bool plain) {
            removeOutputs();
            const double before = disk.usedBytes();
            const auto start = Clock::now();
            if (std::system(command.c_str()) != 0)
                state.SkipWithError(("failed: " + command).c_str());
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (plain)
                copyBytes = disk.usedBytes() - before;
        };
        const auto timeTarnis = [&] {
            removeOutputs();
            const double before = disk.usedBytes();
            const auto start = Clock::now();
            if (cli::runCommand(arguments, console, Language::English) != 0)
                state.SkipWithError(console.errors.c_str());
            tarnisSeconds = std::chrono::duration<double>(Clock::now() - start).count();
            outputBytes = disk.usedBytes() - before;
            for (const std::string& name : inputs.names)
                extents = std::max(extents, extentsOf(outputOf(name)));
        };
        const std::function<void()> steps[] = {
            timeTarnis, [&] { timeCommand(cp, cpSeconds, true); },
            [&] {
                if (disk.shares())
                    timeCommand(readAndReflink, reflinkSeconds, false);
            }};
        for (int step = 0; step < 3; ++step)
            steps[(turn + step) % 3]();
        ++turn;
        overCp.push_back(tarnisSeconds / cpSeconds);
        if (disk.shares())
            overReadReflink.push_back(tarnisSeconds / reflinkSeconds);
        state.SetIterationTime(tarnisSeconds);
    }
    removeOutputs();
    state.counters["over_cp"] = median(overCp);
    if (disk.shares())
        state.counters["over_read_reflink"] = median(overReadReflink);
    state.counters["outputs_MB"] = outputBytes / 1e6;
    state.counters["cp_MB"] = copyBytes / 1e6;
    state.counters["extents"] = extents;
}

BENCHMARK(BM_copyAndSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_batch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_batchFreshBufferPerFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_batchAgainstCopy)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_batchPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(BM_againstCp, ext4, Disk::Ext4)
    ->Arg(10)
    ->Arg(100)
    ->Arg(300)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_againstCp, xfs_reflink, Disk::Xfs)
    ->Arg(10)
    ->Arg(100)
    ->Arg(300)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_againstCp, btrfs, Disk::Btrfs)
    ->Arg(10)
    ->Arg(100)
    ->Arg(300)
    ->Iterations(5)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnis::bench
