// Code-page conversion speed: the PLU parser decodes whole files (tens of megabytes) from 866 or
// 1251, and the DIGI frame encodes every article name into 866.
//
//   ./build/bench/bench_codepages

#include "core/Text/Text.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace Plumeria;

/// 8 MB shaped like a PLU file: ASCII separators and digits mixed with Cyrillic names.
std::string SampleBytes()
{
    const std::string Line = "1234;\xCC\xEE\xEB\xEE\xEA\xEE \xF1\xE2\xE5\xE6\xE5\xE5 3,2%;"
                             "89,90;4600000000012;0;0;5;\xD1\xEE\xF1\xF2\xE0\xE2\r\n";
    std::string Bytes;
    while (Bytes.size() < 8u * 1024 * 1024)
        Bytes += Line;
    return Bytes;
}

void BM_Decode(benchmark::State& State)
{
    const int CodePage = static_cast<int>(State.range(0));
    const std::string Bytes = SampleBytes();
    for (auto _ : State) {
        std::string Text = DecodeCodePage(Bytes, CodePage);
        benchmark::DoNotOptimize(Text.data());
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Bytes.size()));
}
BENCHMARK(BM_Decode)->Arg(866)->Arg(1251)->Unit(benchmark::kMillisecond);

void BM_Encode(benchmark::State& State)
{
    const int CodePage = static_cast<int>(State.range(0));
    const std::string Text = DecodeCodePage(SampleBytes(), CodePage);
    std::string Out;
    for (auto _ : State) {
        const bool Ok = EncodeCodePage(Text, CodePage, Out);
        benchmark::DoNotOptimize(Ok);
        benchmark::DoNotOptimize(Out.data());
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Text.size()));
}
BENCHMARK(BM_Encode)->Arg(866)->Arg(1251)->Unit(benchmark::kMillisecond);

void BM_IsValidUtf8(benchmark::State& State)
{
    const std::string Text = DecodeCodePage(SampleBytes(), 1251);
    for (auto _ : State)
        benchmark::DoNotOptimize(IsValidUtf8(Text));
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Text.size()));
}
BENCHMARK(BM_IsValidUtf8)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
