// How long the main window waits for the journal tail on a big day's journal. The tail is read
// backwards from the end, so LogTail(200) should cost the same on a 512 MB file as on a 50 KB one;
// reading the whole file is shown beside it as the yardstick.
//
//   ./build/bench/bench_journal_tail                      (512 MB journal)
//   PLUMERIA_BENCH_JOURNAL_MB=2048 ./build/bench/bench_journal_tail

#include "core/Journal/Journal.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using namespace Plumeria;

constexpr TLocalDateTime BenchDay{2024, 3, 5, 10, 0, 0};

void SetProgramData(const fs::path& Folder)
{
#ifdef _WIN32
    _putenv_s("ProgramData", Folder.string().c_str());
#else
    setenv("ProgramData", Folder.string().c_str(), 1);
#endif
}

/// A temporary data folder holding today's journal of the requested size; removed at the end.
struct TBigJournal
{
    fs::path Root;
    fs::path File;
    std::uintmax_t Size = 0;
    std::uintmax_t Lines = 0;

    explicit TBigJournal(std::uintmax_t Megabytes)
    {
        Root = fs::temp_directory_path() /
               ("plumeria-bench-journal-" +
                std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        SetProgramData(Root);
        ResetJournal();
        SetJournalClock([] { return BenchDay; });
        File = LogFilePath();

        // Lines shaped like the exchange and progress entries of a busy day.
        std::ofstream Out(File, std::ios::binary | std::ios::trunc);
        std::string Chunk;
        const std::string Hex(180, 'F');
        const std::uintmax_t Target = Megabytes * 1024 * 1024;
        while (Size < Target) {
            Chunk.clear();
            for (int I = 0; I < 4096; ++I, ++Lines) {
                Chunk += "2024-03-05 10:00:00 | EXCH | ip=127.0.0.1 port=2001 dir=tx bytes=60 hex=";
                Chunk += Hex;
                Chunk += " seq=" + std::to_string(Lines) + "\r\n";
            }
            Out.write(Chunk.data(), static_cast<std::streamsize>(Chunk.size()));
            Size += Chunk.size();
        }
        Out.close();
        std::printf("journal file: %s, %.1f MB, %ju lines\n", File.string().c_str(),
                    static_cast<double>(Size) / (1024.0 * 1024.0), Lines);
    }

    ~TBigJournal()
    {
        SetJournalClock({});
        ResetJournal();
        std::error_code Ignored;
        fs::remove_all(Root, Ignored);
    }
};

TBigJournal* Journal = nullptr;

void BM_LogTail(benchmark::State& State)
{
    const int Count = static_cast<int>(State.range(0));
    std::size_t Bytes = 0;
    for (auto _ : State) {
        const std::string Tail = LogTail(Count);
        Bytes = Tail.size();
        benchmark::DoNotOptimize(Tail.data());
    }
    State.counters["tail_bytes"] = static_cast<double>(Bytes);
    State.counters["file_MB"] = static_cast<double>(Journal->Size) / (1024.0 * 1024.0);
}
BENCHMARK(BM_LogTail)->Arg(1)->Arg(200)->Arg(5000)->Unit(benchmark::kMicrosecond);

/// What a tail that reads the whole file would cost at best (page cache warm).
void BM_ReadWholeFile(benchmark::State& State)
{
    std::string Buffer(1 << 20, '\0');
    for (auto _ : State) {
        std::ifstream In(Journal->File, std::ios::binary);
        std::uintmax_t Total = 0;
        while (In.read(Buffer.data(), static_cast<std::streamsize>(Buffer.size())) ||
               In.gcount() > 0)
            Total += static_cast<std::uintmax_t>(In.gcount());
        benchmark::DoNotOptimize(Total);
    }
    State.SetBytesProcessed(static_cast<std::int64_t>(State.iterations() * Journal->Size));
}
BENCHMARK(BM_ReadWholeFile)->Unit(benchmark::kMillisecond)->Iterations(3);

/// One appended entry: open, append, close under the lock.
void BM_LogInfo(benchmark::State& State)
{
    const std::string Text = "file=prices.csv ip=127.0.0.1 port=2001 plu=1234 status=sent bytes=60";
    for (auto _ : State)
        LogInfo(Text);
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(BM_LogInfo)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    std::uintmax_t Megabytes = 512;
    if (const char* Value = std::getenv("PLUMERIA_BENCH_JOURNAL_MB"))
        Megabytes = std::strtoumax(Value, nullptr, 10);
    if (Megabytes == 0)
        Megabytes = 1;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TBigJournal Big(Megabytes);
    Journal = &Big;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    Journal = nullptr;
    return 0;
}
