// The update's ZIP reader: taking a 24 MiB executable out of an in-memory archive (deflated and
// stored) as ExtractExe does, and reading a directory of 10,000 members. Prints throughput;
// asserts nothing.
//   ./build/bench/bench_update_zip

#include "core/Update/Update.h"
#include "core/Update/ZipReader.h"
#include "support/ZipBuilder.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <random>

namespace {

using namespace Plumeria;

/// Something like an executable: code-like random stretches between runs of repeated tables.
std::string ExecutableLike(std::size_t Size)
{
    std::mt19937 Generator(42);
    std::string Out;
    Out.reserve(Size);
    while (Out.size() < Size) {
        for (int I = 0; I < 3000 && Out.size() < Size; ++I)
            Out += static_cast<char>(Generator() & 0xFF);
        const std::string Table = "PlumeriaBridge resource table " + std::to_string(Out.size());
        for (int I = 0; I < 40 && Out.size() < Size; ++I)
            Out += Table;
    }
    Out.resize(Size);
    return Out;
}

void Extract(benchmark::State& State, bool Deflate)
{
    const std::string Exe = ExecutableLike(24 * 1048576);
    const TByteStream Archive = Test::Bytes(
        Test::BuildZip({{"readme.txt", "PlumeriaBridge", true}, {UpdateExeName(), Exe, Deflate}}));
    TByteStream Output;
    for (auto _ : State) {
        if (!ExtractExe(Archive, Output))
            State.SkipWithError("extract failed");
        benchmark::DoNotOptimize(Output.data());
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Exe.size()));
    State.counters["archive_MiB"] = static_cast<double>(Archive.size()) / 1048576.0;
}

void BM_ExtractDeflated(benchmark::State& State)
{
    Extract(State, true);
}
BENCHMARK(BM_ExtractDeflated)->Unit(benchmark::kMillisecond);

void BM_ExtractStored(benchmark::State& State)
{
    Extract(State, false);
}
BENCHMARK(BM_ExtractStored)->Unit(benchmark::kMillisecond);

void BM_OpenDirectory(benchmark::State& State)
{
    std::vector<Test::TZipMember> Members;
    for (int I = 0; I < 10000; ++I)
        Members.push_back({"folder/member-" + std::to_string(I) + ".bin", "x", false});
    const TByteStream Archive = Test::Bytes(Test::BuildZip(Members));
    for (auto _ : State) {
        TZipReader Reader;
        if (!Reader.Open(Archive))
            State.SkipWithError("open failed");
        benchmark::DoNotOptimize(Reader.Entries().size());
    }
    State.SetItemsProcessed(static_cast<std::int64_t>(State.iterations() * Members.size()));
}
BENCHMARK(BM_OpenDirectory)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int Argc, char** Argv)
{
    // A failed extraction journals: into a throw-away data folder, never the machine's.
    const auto Data = Plumeria::Bench::UseThrowAwayDataFolder();
    benchmark::Initialize(&Argc, Argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(Data);
    return 0;
}
