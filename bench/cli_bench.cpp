// What tarnis-repair's --jobs gains on this machine: the same files repaired with one job and with
// several, both in every iteration, taking turns at going first, so that their ratio holds however
// busy the machine is. speedup is the one job's time over the several jobs' time.
#include "bench/inputs.h"
#include "bench/silent_console.h"
#include "cli/command.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

namespace tarnis::bench {
namespace {

enum class Files { Frames, Small };
enum class Mode { Write, Check };

void BM_jobs(benchmark::State& state, Files files, Mode mode)
{
    using Clock = std::chrono::steady_clock;
    const Inputs& inputs = files == Files::Frames ? Inputs::frames() : Inputs::smallFiles();
    const auto jobs = std::to_string(state.range(0));
    std::vector<std::string> paths;
    for (const std::string& name : inputs.names)
        paths.push_back(inputs.folder + name);
    const auto arguments = [&](const std::string& count) {
        std::vector<std::string> all = {"--jobs", count};
        if (mode == Mode::Check)
            all.push_back("--check");
        all.insert(all.end(), paths.begin(), paths.end());
        return all;
    };
    SilentConsole console;
    Clock::duration oneJob{};
    Clock::duration severalJobs{};
    bool oneFirst = true;
    for (auto _ : state) {
        const auto timeRun = [&](const std::string& count, Clock::duration& total) {
            const auto start = Clock::now();
            if (cli::runCommand(arguments(count), console, Language::English) != 0)
                state.SkipWithError(console.errors.c_str());
            const auto elapsed = Clock::now() - start;
            total += elapsed;
            return elapsed;
        };
        if (oneFirst) {
            timeRun("1", oneJob);
            state.SetIterationTime(
                std::chrono::duration<double>(timeRun(jobs, severalJobs)).count());
        } else {
            state.SetIterationTime(
                std::chrono::duration<double>(timeRun(jobs, severalJobs)).count());
            timeRun("1", oneJob);
        }
        oneFirst = !oneFirst;
    }
    state.counters["speedup"] = std::chrono::duration<double>(oneJob).count()
                                / std::chrono::duration<double>(severalJobs).count();
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * inputs.bytes));
}

BENCHMARK_CAPTURE(BM_jobs, frames_48MB_x20, Files::Frames, Mode::Write)
    ->Arg(2)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_jobs, frames_48MB_x20_check, Files::Frames, Mode::Check)
    ->Arg(2)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_jobs, small_1MB_x200, Files::Small, Mode::Write)
    ->Arg(2)
    ->Arg(4)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_jobs, small_1MB_x200_check, Files::Small, Mode::Check)
    ->Arg(2)
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnis::bench
