// repairDropouts over one full frame, side by side with the speed limits of the machine: memchr
// and memcpy over a buffer of the same size, and a plain sample-by-sample loop.
#include "bench/images.h"
#include "engine/fits_header.h"
#include "engine/repair.h"
#include "tests/support/plain_repair.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <map>
#include <string>

namespace tarnis::bench {
namespace {

enum Data {
    Clean,
    Sparse,
    Dense,
    Adversarial,
    AllDropouts,
    Clean4144,
    Sparse4144,
    CleanBayer,
    SparseBayer,
    DenseBayer
};

// The repair as the batch runs it: the layout read from the header, then the repair with it; the
// repair with the camera's fixed layout, as before headers were read; or the byte rule of earlier
// versions with the header's layout, as --bytewise runs it.
enum class Layout { Fixed, FromHeader, FromHeaderByBytes };

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
        case Clean4144: made = skyFrame(0.0, 42, 4144); break;
        case Sparse4144: made = skyFrame(0.0001, 42, 4144); break;
        case CleanBayer: made = skyFrame(0.0, 42, kCameraWidth, 0, true); break;
        case SparseBayer: made = skyFrame(0.0001, 42, kCameraWidth, 0, true); break;
        case DenseBayer: made = skyFrame(0.01, 42, kCameraWidth, 0, true); break;
        }
        found = frames.emplace(data, std::move(made)).first;
    }
    return found->second;
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
        test::repairPlainly(work, static_cast<std::int64_t>(work.size()));
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

void repair(std::vector<std::uint8_t>& work, Layout layout)
{
    const auto length = static_cast<std::int64_t>(work.size());
    if (layout == Layout::Fixed)
        repairDropouts(work, length);
    else
        benchmark::DoNotOptimize(
            repairDropouts(work, length, readImageLayout(work),
                           layout == Layout::FromHeader ? RepairRule::Values : RepairRule::Bytes));
}

// Both scans in every iteration, each right after the same fresh copy of the frame, so that their
// ratio holds however busy the machine is: speed_vs_memchr is memchr's time over the repair's.
void BM_repairAgainstMemchr(benchmark::State& state, Data data, Layout layout)
{
    using Clock = std::chrono::steady_clock;
    const auto& original = frame(data);
    std::vector<std::uint8_t> work = original;
    Clock::duration repairTime{};
    Clock::duration memchrTime{};
    for (auto _ : state) {
        std::memcpy(work.data(), original.data(), original.size());
        const auto memchrStart = Clock::now();
        benchmark::DoNotOptimize(std::memchr(work.data(), 0xFF, work.size()));
        memchrTime += Clock::now() - memchrStart;

        std::memcpy(work.data(), original.data(), original.size());
        const auto repairStart = Clock::now();
        repair(work, layout);
        benchmark::ClobberMemory();
        const auto repairEnd = Clock::now();
        repairTime += repairEnd - repairStart;
        state.SetIterationTime(std::chrono::duration<double>(repairEnd - repairStart).count());
    }
    state.counters["speed_vs_memchr"] = std::chrono::duration<double>(memchrTime).count()
                                        / std::chrono::duration<double>(repairTime).count();
}

// What reading a header costs, to set against the repair of the frame behind it.
void BM_readImageLayout(benchmark::State& state)
{
    const auto& original = frame(Clean);
    for (auto _ : state)
        benchmark::DoNotOptimize(readImageLayout(original));
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
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, clean, Clean, Layout::Fixed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, dropouts_0_01_percent, Sparse, Layout::Fixed)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_clean, Clean, Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_dropouts_0_01_percent, Sparse, Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// The byte rule, a plain loop, for the few who must make earlier files again.
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_bytewise_dropouts_0_01_percent, Sparse,
                  Layout::FromHeaderByBytes)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_4144_wide_clean, Clean4144, Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_4144_wide_dropouts_0_01_percent, Sparse4144,
                  Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// A colour frame, repaired from samples of its own colour two rows away.
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_bayer_clean, CleanBayer, Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_bayer_dropouts_0_01_percent, SparseBayer,
                  Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_repairAgainstMemchr, header_bayer_dropouts_1_percent, DenseBayer,
                  Layout::FromHeader)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_readImageLayout)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_memcpy)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace tarnis::bench
