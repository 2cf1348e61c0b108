// DIGI article frames encoded per second: a short one-line article, a typical one (two-line
// Cyrillic name, ingredients), and a whole file's worth encoded up front as the driver does.

#include "core/DigiFrame/DigiFrame.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

using namespace Plumeria;

TPluRecord Short()
{
    TPluRecord R;
    R.Plu = 1;
    R.Name = "ABC";
    R.Barcode = "0000001";
    return R;
}

TPluRecord Typical(int Plu)
{
    TPluRecord R;
    R.Plu = Plu;
    R.Name = "Колбаса докторская высший сорт";
    R.PriceCents = 54900;
    R.Barcode = "2000000";
    R.SellByDays = 10;
    R.Ingredients = "свинина\nговядина\nмолоко\nсоль\nспеции";
    return R;
}

void EncodeOne(benchmark::State& State, const TPluRecord& Item)
{
    std::vector<std::uint8_t> Frame;
    std::string Message;
    for (auto _ : State) {
        const bool Ok = EncodeDigiPlu(Item, Frame, Message);
        benchmark::DoNotOptimize(Ok);
        benchmark::DoNotOptimize(Frame.data());
    }
    State.SetItemsProcessed(State.iterations());
    State.SetBytesProcessed(State.iterations() * static_cast<std::int64_t>(Frame.size()));
}

void BM_EncodeShort(benchmark::State& State)
{
    EncodeOne(State, Short());
}
BENCHMARK(BM_EncodeShort);

void BM_EncodeTypical(benchmark::State& State)
{
    EncodeOne(State, Typical(123));
}
BENCHMARK(BM_EncodeTypical);

/// A file of N typical articles into N frames, as the upload does before connecting.
void BM_EncodeFile(benchmark::State& State)
{
    std::vector<TPluRecord> Items;
    for (int I = 1; I <= State.range(0); ++I)
        Items.push_back(Typical(I));
    for (auto _ : State) {
        std::vector<std::vector<std::uint8_t>> Frames(Items.size());
        std::string Message;
        for (std::size_t I = 0; I < Items.size(); ++I)
            EncodeDigiPlu(Items[I], Frames[I], Message);
        benchmark::DoNotOptimize(Frames.data());
    }
    State.SetItemsProcessed(State.iterations() * State.range(0));
}
BENCHMARK(BM_EncodeFile)->Arg(1000)->Arg(100000);

} // namespace

BENCHMARK_MAIN();
