// libFuzzer target for the label document (`TDigiLabelDoc`). The first byte gives the number of
// edits (0-7), each spelled by the 8 bytes after it; the rest is the file "f34.dat". Beyond "no
// crash" it checks: a refused file gives one of the fixed codes, and loading from memory agrees;
// a loaded document's records equal the digits at their mapped positions, after every edit too;
// saving without an edit writes nothing; after edits and a save, a second load reads the same
// records and text, and the text differs from the file's only at mapped digit positions.

#include "FuzzCheck.h"

#include "core/LabelGeom/LabelDoc.h"
#include "core/LabelGeom/LabelSlots.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace {

using namespace Plumeria;
namespace fs = std::filesystem;

constexpr std::array<std::string_view, 6> Codes = {"missing", "hex",   "truncated",
                                                   "short",   "empty", "large"};

/// Bytes 4-5 hold the record's own length, which no edit of the designer touches: a word put
/// there makes a file that no longer reads back. Edits start behind it, at the label's size.
constexpr int FirstEditable = 6;

struct TEdit
{
    std::uint8_t Kind = 0;
    std::uint8_t Format = 0;
    std::uint16_t Where = 0; ///< an offset, or a slot
    std::uint16_t A = 0;
    std::uint16_t B = 0;
};

std::uint16_t Word(const std::uint8_t* P)
{
    return static_cast<std::uint16_t>(P[0] << 8 | P[1]);
}

/// Applies one edit and checks what it promises.
void Apply(TDigiLabelDoc& Doc, const TEdit& Edit)
{
    const int Format = Edit.Format % Doc.FormatCount();
    const int Size = static_cast<int>(Doc.Record(Format).size());
    const int Slot = Edit.Where % SlotCount();
    switch (Edit.Kind % 4) {
    case 0: {
        const int Offset = FirstEditable + Edit.Where % (Size - FirstEditable);
        Doc.PutByte(Format, Offset, Edit.A);
        FUZZ_CHECK(Doc.ByteAt(Format, Offset) == (Edit.A & 0xFF));
        break;
    }
    case 1: {
        const int Offset = FirstEditable + Edit.Where % (Size - FirstEditable - 1);
        const std::int64_t Value =
            static_cast<std::int64_t>(Edit.A) * 3 - 70000; // also out of range
        Doc.PutWord(Format, Offset, Value);
        FUZZ_CHECK(Doc.WordAt(Format, Offset) == ClampWord(Value));
        break;
    }
    case 2:
        Doc.MoveSlot(Format, Slot, Edit.A, Edit.B);
        break;
    default:
        Doc.ResizeSlot(Format, Slot, static_cast<std::int16_t>(Edit.A), Edit.B);
        break;
    }
    FUZZ_CHECK(static_cast<int>(Doc.Record(Format).size()) == Size);
    FUZZ_CHECK(Doc.RecordsMatchText());
}

std::vector<std::vector<std::uint8_t>> Records(const TDigiLabelDoc& Doc)
{
    std::vector<std::vector<std::uint8_t>> All;
    for (int Format = 0; Format < Doc.FormatCount(); ++Format)
        All.push_back(Doc.Record(Format));
    return All;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 1)
        return 0;
    std::vector<TEdit> Edits(std::min<std::size_t>(Data[0] & 7, (Size - 1) / 8));
    for (std::size_t I = 0; I < Edits.size(); ++I) {
        const std::uint8_t* P = Data + 1 + 8 * I;
        Edits[I] = {P[0], P[1], Word(P + 2), Word(P + 4), Word(P + 6)};
    }
    const std::size_t Skip = 1 + 8 * Edits.size();
    const std::string Bytes(reinterpret_cast<const char*>(Data) + Skip, Size - Skip);
    const fs::path Path = Fuzz::FuzzDir().Path() / "f34.dat";
    Fuzz::WriteBytes(Path, Bytes);

    TDigiLabelDoc Doc;
    std::string Error;
    const bool Loaded = Doc.Load(Path, Error);
    TDigiLabelDoc FromMemory;
    std::string MemoryError;
    FUZZ_CHECK(FromMemory.LoadContent(Bytes, MemoryError) == Loaded && MemoryError == Error);
    if (!Loaded) {
        FUZZ_CHECK(std::find(Codes.begin(), Codes.end(), Error) != Codes.end());
        return 0;
    }
    FUZZ_CHECK(Error.empty() && Doc.FormatCount() > 0 && !Doc.Dirty());
    FUZZ_CHECK(Doc.RecordsMatchText());
    FUZZ_CHECK(Records(FromMemory) == Records(Doc));

    // Saving an unchanged document must not touch the file: not even its time changes.
    const auto Old = fs::file_time_type::clock::now() - std::chrono::hours(24);
    fs::last_write_time(Path, Old);
    FUZZ_CHECK(Doc.Save(Error) && Error.empty());
    FUZZ_CHECK(fs::last_write_time(Path) == Old && Test::ReadFileBytes(Path) == Bytes);

    const std::string Before = Doc.Text();
    for (const TEdit& Edit : Edits)
        Apply(Doc, Edit);
    FUZZ_CHECK(Doc.Text().size() == Before.size());
    std::set<int> Digits;
    for (int I = 0; I < Doc.DecodedBytes(); ++I) {
        Digits.insert(Doc.HiPos(I));
        Digits.insert(Doc.LoPos(I));
    }
    for (std::size_t I = 0; I < Before.size(); ++I)
        if (Before[I] != Doc.Text()[I])
            FUZZ_CHECK(Digits.count(static_cast<int>(I) + 1) == 1);

    FUZZ_CHECK(Doc.Save(Error) && Error.empty() && !Doc.Dirty());
    TDigiLabelDoc Again;
    FUZZ_CHECK(Again.Load(Path, Error));
    FUZZ_CHECK(Records(Again) == Records(Doc));
    FUZZ_CHECK(Again.Text() == Doc.Text());
    return 0;
}
