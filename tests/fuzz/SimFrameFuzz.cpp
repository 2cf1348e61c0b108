// libFuzzer target for the scale simulator's frame reader. The first byte seeds how the rest is
// cut into receives. Beyond "no crash" it checks: the frames taken are the input's own bytes, in
// order and without gaps; each frame's length is the one its header gives; the reader stops at a
// header that claims less than a header, or at a frame not complete yet; and how the bytes arrive
// (all at once, or in pieces of any size) never changes which frames come out.

#include "FuzzCheck.h"

#include "tool/ScaleSim.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

using namespace Plumeria::Tool;
using TBytes = std::vector<std::uint8_t>;

struct TOutcome
{
    std::vector<TBytes> Frames;
    bool Bad = false;
};

/// Takes every frame the reader has; true when the reader refused the bytes.
bool Drain(TSimFrameReader& Reader, std::vector<TBytes>& Frames)
{
    for (;;) {
        TBytes Frame;
        const auto Next = Reader.Next(Frame);
        if (Next != TSimFrameReader::TNext::fnFrame)
            return Next == TSimFrameReader::TNext::fnBad;
        Frames.push_back(std::move(Frame));
    }
}

TOutcome Read(const std::uint8_t* Data, std::size_t Size, std::uint32_t Seed)
{
    TOutcome Outcome;
    TSimFrameReader Reader;
    std::size_t Pos = 0;
    while (Pos < Size && !Outcome.Bad) {
        Seed = Seed * 1103515245u + 12345u;
        const std::size_t Piece = Seed == 0 ? Size : 1 + (Seed >> 16) % 37;
        const std::size_t Count = Piece < Size - Pos ? Piece : Size - Pos;
        Reader.Append(Data + Pos, Count);
        Pos += Count;
        Outcome.Bad = Drain(Reader, Outcome.Frames);
    }
    return Outcome;
}

std::size_t FrameLength(const std::uint8_t* Header)
{
    return static_cast<std::size_t>(Header[6]) * 256 + Header[7] + 2;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 1)
        return 0;
    const std::uint32_t Seed = Data[0];
    ++Data;
    --Size;

    const TOutcome Whole = Read(Data, Size, 0);
    std::size_t Pos = 0;
    for (const auto& Frame : Whole.Frames) {
        FUZZ_CHECK(Frame.size() >= 8 && FrameLength(Frame.data()) == Frame.size());
        FUZZ_CHECK(Pos + Frame.size() <= Size);
        FUZZ_CHECK(TBytes(Data + Pos, Data + Pos + Frame.size()) == Frame);
        Pos += Frame.size();
    }
    const std::size_t Rest = Size - Pos;
    if (Whole.Bad)
        FUZZ_CHECK(Rest >= 8 && FrameLength(Data + Pos) < 8);
    else
        FUZZ_CHECK(Rest < 8 || FrameLength(Data + Pos) > Rest);

    const TOutcome Pieces = Read(Data, Size, Seed + 1);
    FUZZ_CHECK(Pieces.Bad == Whole.Bad);
    FUZZ_CHECK(Pieces.Frames == Whole.Frames);
    return 0;
}
