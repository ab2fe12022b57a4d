// The batch over 20 full frames, side by side with copying the same 20 files and syncing each
// copy: what any tool that writes a durable copy has to pay at least.
#include "bench/inputs.h"
#include "engine/batch.h"
#include "tests/support/memory_file_list.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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
        std::filesystem::copy_file(inputs.folder + name, target, std::filesystem::copy_options::overwrite_existing);
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
    FileSlot slot(TemporaryFiles::UnnamedWherePossible, state.range(0) == 0 ? ChangeWatch::WherePossible : ChangeWatch::ReadTwice);
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
    state.counters["time_over_copy"] =
        std::chrono::duration<double>(batchTime).count() / std::chrono::duration<double>(copyTime).count();
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
        rusage usage {};
        ::wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("the batch failed");
            return;
        }
        peakKiB = usage.ru_maxrss;
    }
    state.counters["peak_rss_MiB"] = static_cast<double>(peakKiB) / 1024.0;
    state.counters["peak_per_file_size"] = static_cast<double>(peakKiB) * 1024.0 / static_cast<double>(kFrameBytes);
}

BENCHMARK(BM_copyAndSync)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_batch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_batchFreshBufferPerFile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_batchAgainstCopy)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);
BENCHMARK(BM_batchPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

} // namespace
} // namespace tarnis::bench
