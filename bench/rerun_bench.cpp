// A second run over twenty full frames whose outputs exist, side by side with the first run that
// wrote them: each earlier output is compared whole with its input before it is replaced, and
// that is all a rerun pays on top.
#include "bench/inputs.h"
#include "engine/batch.h"
#include "tests/support/memory_file_list.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include <unistd.h>

namespace tarnis::bench {
namespace {

void runOnce(const Inputs& inputs, RunValues& run, FileSlot& slot)
{
    test::MemoryFileList list(inputs.names);
    runBatch(list, {inputs.folder, static_cast<std::int32_t>(inputs.names.size() + 1)}, run, slot);
}

void removeOutputs(const Inputs& inputs)
{
    for (const std::string& name : inputs.names)
        std::filesystem::remove(inputs.folder + outputFileName(name, name));
}

// Every iteration starts with nothing left to write back from the one before, and, for a first
// run, with no output there.
void BM_firstRun(benchmark::State& state)
{
    const Inputs& inputs = Inputs::frames();
    RunValues run;
    FileSlot slot;
    for (auto _ : state) {
        state.PauseTiming();
        removeOutputs(inputs);
        ::sync();
        state.ResumeTiming();
        runOnce(inputs, run, slot);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputs.bytes));
}

void BM_rerun(benchmark::State& state)
{
    const Inputs& inputs = Inputs::frames();
    RunValues run;
    FileSlot slot;
    runOnce(inputs, run, slot);
    for (auto _ : state) {
        state.PauseTiming();
        ::sync();
        state.ResumeTiming();
        runOnce(inputs, run, slot);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputs.bytes));
}

BENCHMARK(BM_firstRun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_rerun)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace
} // namespace tarnis::bench
