// repairDropouts over one full frame, side by side with the speed limits of the machine: memchr
// and memcpy over a buffer of the same size, and a plain sample-by-sample loop.
#include "bench/images.h"
#include "engine/repair.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <string>

namespace tarnis::bench {
namespace {

enum Data { Clean, Sparse, Dense, Adversarial, AllDropouts };

const std::vector<std::uint8_t>& frame(Data data)
{
    static std::map<Data, std::vector<std::uint8_t>> frames;
    auto found = frames.find(data);
    if (found == frames.end()) {
        std::vector<std::uint8_t> made;
        switch (data) {
        case Clean: made = skyFrame(0.0); break;
        case Sparse: made = skyFrame(0.0001); break;
        case Dense: made = skyFrame(0.01); break;
        case Adversarial: made = adversarialFrame(); break;
        case AllDropouts: made = skyFrame(1.0); break;
        }
        found = frames.emplace(data, std::move(made)).first;
    }
    return found->second;
}

// The rules applied one sample at a time, with no scan ahead: the speed to beat on hard data.
void repairSampleBySample(std::uint8_t* d, std::int64_t length)
{
    const auto combine = [](unsigned below, unsigned above) {
        return static_cast<std::uint8_t>(below > 0 && above > 0 ? (below + above) / 2 : below + above);
    };
    for (std::int64_t pos = 15040; pos + 1 < length; pos += 2) {
        if (d[pos] != 0x80 || d[pos + 1] != 0x00)
            continue;
        d[pos] = combine(pos + 12160 < length ? d[pos + 12160] : 0, d[pos - 12160]);
        d[pos + 1] = combine(pos + 12159 < length ? d[pos + 12159] : 0, d[pos - 12161]);
    }
}

// Each iteration repairs a fresh copy of the frame; the copy is not timed.
template <typename Repair>
void runRepair(benchmark::State& state, Data data, Repair repair)
{
    const auto& original = frame(data);
    std::vector<std::uint8_t> work = original;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), original.data(), original.size());
        state.ResumeTiming();
        repair(work);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * original.size()));
}

void BM_repairDropouts(benchmark::State& state, Data data)
{
    runRepair(state, data, [](std::vector<std::uint8_t>& work) {
        repairDropouts(work, static_cast<std::int64_t>(work.size()));
    });
}

void BM_sampleBySample(benchmark::State& state, Data data)
{
    runRepair(state, data, [](std::vector<std::uint8_t>& work) {
        repairSampleBySample(work.data(), static_cast<std::int64_t>(work.size()));
    });
}

// The speed limit of a scan: memchr over the same frame, prepared the same way. No frame holds
// 0xFF, so the search runs over all of it.
void BM_memchr(benchmark::State& state, Data data)
{
    runRepair(state, data, [](std::vector<std::uint8_t>& work) {
        benchmark::DoNotOptimize(std::memchr(work.data(), 0xFF, work.size()));
    });
}

void BM_memcpy(benchmark::State& state)
{
    const auto& original = frame(Clean);
    std::vector<std::uint8_t> target(original.size());
    for (auto _ : state) {
        std::memcpy(target.data(), original.data(), original.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * original.size()));
}

BENCHMARK_CAPTURE(BM_repairDropouts, clean, Clean)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairDropouts, dropouts_0_01_percent, Sparse)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairDropouts, dropouts_1_percent, Dense)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairDropouts, adversarial, Adversarial)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairDropouts, all_dropouts, AllDropouts)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sampleBySample, clean, Clean)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sampleBySample, dropouts_1_percent, Dense)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sampleBySample, adversarial, Adversarial)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_sampleBySample, all_dropouts, AllDropouts)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_memchr, clean, Clean)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_memchr, dropouts_0_01_percent, Sparse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnis::bench
