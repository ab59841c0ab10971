// The dump formatter alone, natively: bytes of dump text produced per second.
#include "fwvar/dump_format.h"

#include <benchmark/benchmark.h>

#include <algorithm>

#include <cstdint>
#include <random>
#include <vector>

namespace
{

constexpr size_t kVariableBytes = 4194304; // the largest variable the tool reads

std::vector<uint8_t> RandomBytes(size_t cb)
{
    std::mt19937 rng(12345);
    std::vector<uint8_t> ab(cb);
    for (auto& b : ab)
        b = static_cast<uint8_t>(rng());
    return ab;
}

// As the tool calls it: in chunks of cbChunk bytes into one reused buffer.
void BM_FormatDumpText(benchmark::State& state)
{
    const size_t cbChunk = static_cast<size_t>(state.range(0));
    const std::vector<uint8_t> ab = RandomBytes(kVariableBytes);
    std::vector<char> achText(DumpChunkCapacity(cbChunk));
    size_t cchTotal = 0;
    for (auto _ : state)
    {
        cchTotal = 0;
        for (size_t nFirst = 0; nFirst < ab.size(); nFirst += cbChunk)
        {
            size_t cb = std::min(cbChunk, ab.size() - nFirst);
            cchTotal += FormatDumpText(ab.data() + nFirst, cb, nFirst, achText.data());
        }
        benchmark::DoNotOptimize(achText.data());
        benchmark::ClobberMemory();
    }
    if (cchTotal != DumpTextSize(kVariableBytes))
        state.SkipWithError("formatter produced the wrong amount of text");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(cchTotal));
}

} // namespace

// 64 KiB: the tool's chunk; 4 MiB: the whole variable in one call.
BENCHMARK(BM_FormatDumpText)->Arg(65536)->Arg(kVariableBytes)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
