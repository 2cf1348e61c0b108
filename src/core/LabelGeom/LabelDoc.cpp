#include "core/LabelGeom/LabelDoc.h"

#include "core/DigiFrame/LabelRecords.h"
#include "core/LabelGeom/LabelSlots.h"
#include "core/Text/Text.h"
#include "platform/AtomicFile.h"
#include "platform/FileOps.h"

#include <algorithm>

namespace Plumeria {

namespace {

using enum TDigiFieldKind;
using TEncoding = TDigiLabelDoc::TTextEncoding;

constexpr char UpperDigits[] = "0123456789ABCDEF";
constexpr std::size_t HeaderBytes = 6;
constexpr int MinRecordLength = 10;
// The end of the last field block: a record must hold every field.
constexpr int FormatRecordMinLength = 1310;
constexpr int NewRecordLength = 1400;
constexpr int NewRecordHeaderWord10 = 3;
static_assert(MaxLabelFileBytes < INT32_MAX / 2, "text positions are 32-bit");

bool Fail(std::string& Error, const char* Code)
{
    Error = Code;
    return false;
}

/// The file's characters without the byte-order mark; every character the document admits is
/// ASCII, so a UTF-16 unit above 127 is simply taken as an invalid character.
TEncoding DecodeCharacters(const std::string& Bytes, std::string& Text)
{
    const auto Byte = [&Bytes](std::size_t I) { return static_cast<unsigned char>(Bytes[I]); };
    const bool Utf16Le = Bytes.size() >= 2 && Byte(0) == 0xFF && Byte(1) == 0xFE;
    const bool Utf16Be = Bytes.size() >= 2 && Byte(0) == 0xFE && Byte(1) == 0xFF;
    if (Utf16Le || Utf16Be) {
        Text.clear();
        Text.reserve(Bytes.size() / 2);
        for (std::size_t I = 2; I + 1 < Bytes.size(); I += 2) {
            const unsigned Unit =
                Utf16Le ? (Byte(I) | (Byte(I + 1) << 8)) : ((Byte(I) << 8) | Byte(I + 1));
            Text.push_back(Unit < 0x80 ? static_cast<char>(Unit) : '\x80');
        }
        if (Bytes.size() % 2 != 0)
            Text.push_back('\x80'); // half a code unit is no character
        return Utf16Le ? TEncoding::teUtf16Le : TEncoding::teUtf16Be;
    }
    if (Bytes.size() >= 3 && Byte(0) == 0xEF && Byte(1) == 0xBB && Byte(2) == 0xBF) {
        Text = Bytes.substr(3);
        return TEncoding::teUtf8Bom;
    }
    Text = Bytes;
    return TEncoding::teBytes;
}

std::string EncodeCharacters(const std::string& Text, TEncoding Encoding)
{
    switch (Encoding) {
    case TEncoding::teBytes:
        return Text;
    case TEncoding::teUtf8Bom:
        return "\xEF\xBB\xBF" + Text;
    case TEncoding::teUtf16Le:
    case TEncoding::teUtf16Be: {
        const bool Le = Encoding == TEncoding::teUtf16Le;
        std::string Bytes = Le ? "\xFF\xFE" : "\xFE\xFF";
        Bytes.reserve(2 + Text.size() * 2);
        for (const char C : Text) {
            Bytes.push_back(Le ? C : '\0');
            Bytes.push_back(Le ? '\0' : C);
        }
        return Bytes;
    }
    }
    return Text;
}

std::string NewFileText(int WidthDots, int HeightDots)
{
    std::string Text;
    Text.reserve(2 * 2 * NewRecordLength);
    for (int Number = 1; Number <= 2; ++Number) {
        std::vector<std::uint8_t> Record(NewRecordLength, 0);
        const auto PutWord = [&Record](std::size_t Offset, int Value) {
            Record[Offset] = static_cast<std::uint8_t>((Value >> 8) & 0xFF);
            Record[Offset + 1] = static_cast<std::uint8_t>(Value & 0xFF);
        };
        Record[3] = static_cast<std::uint8_t>(Number);
        PutWord(4, NewRecordLength);
        PutWord(6, WidthDots);
        PutWord(8, HeightDots);
        PutWord(10, NewRecordHeaderWord10);
        for (const std::uint8_t Byte : Record) {
            Text.push_back(UpperDigits[Byte >> 4]);
            Text.push_back(UpperDigits[Byte & 0x0F]);
        }
    }
    return Text;
}

} // namespace

bool TDigiLabelDoc::Load(const std::filesystem::path& AFileName, std::string& Error)
{
    FFileName = AFileName;
    LoadContent({}, Error); // nothing of the previous file survives, whatever happens next
    // Refused before reading: a file this large is no label, and it is never read into memory.
    if (FileSizeOf(AFileName) > MaxLabelFileBytes)
        return Fail(Error, "large");
    std::string Bytes;
    if (!ReadLabelFileBytes(AFileName, Bytes))
        return Fail(Error, "missing");
    return LoadContent(Bytes, Error);
}

bool TDigiLabelDoc::LoadContent(const std::string& FileBytes, std::string& Error)
{
    Error.clear();
    FDirty = false;
    FBlobs.clear();
    FBlobAt.clear();
    FText.clear();
    FHi.clear();
    FLo.clear();
    if (FileBytes.size() > static_cast<std::size_t>(MaxLabelFileBytes))
        return Fail(Error, "large");
    FEncoding = DecodeCharacters(FileBytes, FText);
    return DecodeText(Error);
}

bool TDigiLabelDoc::DecodeText(std::string& Error)
{
    std::vector<std::uint8_t> Stream;
    Stream.reserve(FText.size() / 2);
    FHi.reserve(FText.size() / 2);
    FLo.reserve(FText.size() / 2);
    bool HaveHigh = false;
    int High = 0;
    for (std::size_t I = 0; I < FText.size(); ++I) {
        const auto C = static_cast<unsigned char>(FText[I]);
        if (C <= 32)
            continue;
        const int Nibble = HexDigitValue(static_cast<char>(C));
        if (Nibble < 0)
            return Fail(Error, "hex");
        const auto Position = static_cast<std::int32_t>(I + 1);
        if (!HaveHigh) {
            High = Nibble;
            FHi.push_back(Position);
        } else {
            Stream.push_back(static_cast<std::uint8_t>(High * 16 + Nibble));
            FLo.push_back(Position);
        }
        HaveHigh = !HaveHigh;
    }
    if (HaveHigh)
        return Fail(Error, "hex");
    return SplitRecords(Stream, Error);
}

bool TDigiLabelDoc::SplitRecords(const std::vector<std::uint8_t>& Stream, std::string& Error)
{
    std::size_t Position = 0;
    while (Position < Stream.size()) {
        if (Stream.size() - Position < HeaderBytes)
            return Fail(Error, "truncated");
        const std::size_t Length =
            static_cast<std::size_t>(Stream[Position + 4]) * 256 + Stream[Position + 5];
        if (Length < MinRecordLength || Length > Stream.size() - Position)
            return Fail(Error, "truncated");
        if (Length < FormatRecordMinLength)
            return Fail(Error, "short");
        const auto First = Stream.begin() + static_cast<std::ptrdiff_t>(Position);
        FBlobs.emplace_back(First, First + static_cast<std::ptrdiff_t>(Length));
        FBlobAt.push_back(static_cast<std::int32_t>(Position));
        Position += Length;
    }
    if (FBlobs.empty())
        return Fail(Error, "empty");
    return true;
}

bool TDigiLabelDoc::Save(std::string& Error)
{
    Error.clear();
    if (FFileName.empty())
        return Fail(Error, "missing");
    if (FDirty) {
        // Replacing a file by rename ignores its read-only mark; the mark is meant to keep it.
        if (IsReadOnlyFile(FFileName))
            return Fail(Error, "readonly");
        WriteFileAtomically(FFileName, EncodeCharacters(FText, FEncoding));
        FDirty = false;
    }
    return true;
}

void TDigiLabelDoc::SaveAs(const std::filesystem::path& AFileName)
{
    FFileName = AFileName;
    FDirty = true;
}

bool TDigiLabelDoc::CreateEmpty(const std::filesystem::path& AFileName, int WidthDots,
                                int HeightDots, std::string& Error)
{
    Error.clear();
    if (IsReadOnlyFile(AFileName))
        return Fail(Error, "readonly");
    WriteFileAtomically(AFileName, NewFileText(WidthDots, HeightDots));
    return Load(AFileName, Error);
}

int TDigiLabelDoc::FormatCount() const
{
    return static_cast<int>(FBlobs.size());
}

std::uint32_t TDigiLabelDoc::FormatId(int FormatIndex) const
{
    const auto& Blob = Record(FormatIndex);
    return (static_cast<std::uint32_t>(Blob[0]) << 24) |
           (static_cast<std::uint32_t>(Blob[1]) << 16) |
           (static_cast<std::uint32_t>(Blob[2]) << 8) | Blob[3];
}

void TDigiLabelDoc::ReadSize(int FormatIndex, int& WidthDots, int& HeightDots) const
{
    WidthDots = WordAt(FormatIndex, 6);
    HeightDots = WordAt(FormatIndex, 8);
}

int TDigiLabelDoc::WordAt(int FormatIndex, int Offset) const
{
    return ByteAt(FormatIndex, Offset) * 256 + ByteAt(FormatIndex, Offset + 1);
}

int TDigiLabelDoc::ByteAt(int FormatIndex, int Offset) const
{
    return Record(FormatIndex)[static_cast<std::size_t>(Offset)];
}

void TDigiLabelDoc::PutByte(int FormatIndex, int Offset, int Value)
{
    const auto Byte = static_cast<std::uint8_t>(Value & 0xFF);
    auto& Blob = FBlobs[static_cast<std::size_t>(FormatIndex)];
    if (Blob[static_cast<std::size_t>(Offset)] == Byte)
        return;
    Blob[static_cast<std::size_t>(Offset)] = Byte;
    const auto Stream = static_cast<std::size_t>(RecordStart(FormatIndex) + Offset);
    FText[static_cast<std::size_t>(FHi[Stream] - 1)] = UpperDigits[Byte >> 4];
    FText[static_cast<std::size_t>(FLo[Stream] - 1)] = UpperDigits[Byte & 0x0F];
    FDirty = true;
}

void TDigiLabelDoc::PutWord(int FormatIndex, int Offset, std::int64_t Value)
{
    const int Word = ClampWord(Value);
    if (Word == WordAt(FormatIndex, Offset))
        return;
    PutByte(FormatIndex, Offset, Word >> 8);
    PutByte(FormatIndex, Offset + 1, Word & 0xFF);
}

bool TDigiLabelDoc::Occupied(int FormatIndex, int SlotIndex) const
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    const auto& Blob = Record(FormatIndex);
    const auto First = Blob.begin() + Slot.Offset;
    return std::any_of(First, First + Slot.Bytes, [](std::uint8_t B) { return B != 0; });
}

void TDigiLabelDoc::ClearSlot(int FormatIndex, int SlotIndex)
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    for (int I = 0; I < Slot.Bytes; ++I)
        PutByte(FormatIndex, Slot.Offset + I, 0);
}

void TDigiLabelDoc::PlaceDefault(int FormatIndex, int SlotIndex, int XDots, int YDots)
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    const auto Word = [&](int Offset, std::int64_t Value) {
        PutWord(FormatIndex, Slot.Offset + Offset, Value);
    };
    ClearSlot(FormatIndex, SlotIndex);
    Word(0, XDots);
    Word(2, YDots);
    Word(4, 0x0070); // 0°, printed always
    switch (Slot.Kind) {
    case dfPicture:
        Word(10, 1); // picture number 1, sized like a text
        [[fallthrough]];
    case dfText:
    case dfBlock:
        Word(6, DotsFromTenths(64));
        Word(8, DotsFromTenths(128));
        break;
    case dfLine:
        PutByte(FormatIndex, Slot.Offset + 6, 2); // font "S3"
        PutByte(FormatIndex, Slot.Offset + 7, Slot.DefaultSymbols);
        break;
    case dfEan:
        Word(6, 81);
        break;
    case dfMultiBar:
        Word(6, DotsFromTenths(130));
        Word(8, DotsFromTenths(280));
        Word(10, 0x0300);
        break;
    case dfBevel:
        // The second corner lies 6.4 mm right of and below the first.
        Word(6, DotsFromTenths(TenthsFromDots(ClampWord(XDots)) + 64));
        Word(8, DotsFromTenths(TenthsFromDots(ClampWord(YDots)) + 64));
        Word(10, 1);
        break;
    case dfLogo:
        Word(6, 64);
        Word(8, 128);
        Word(10, 16);
        break;
    }
}

void TDigiLabelDoc::MoveSlot(int FormatIndex, int SlotIndex, int NewX, int NewY)
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    const int OldX = WordAt(FormatIndex, Slot.Offset);
    const int OldY = WordAt(FormatIndex, Slot.Offset + 2);
    const int X = ClampWord(NewX);
    const int Y = ClampWord(NewY);
    if (X == OldX && Y == OldY)
        return;
    PutWord(FormatIndex, Slot.Offset, X);
    PutWord(FormatIndex, Slot.Offset + 2, Y);
    if (Slot.Kind == dfBevel) {
        PutWord(FormatIndex, Slot.Offset + 6,
                static_cast<std::int64_t>(WordAt(FormatIndex, Slot.Offset + 6)) + (X - OldX));
        PutWord(FormatIndex, Slot.Offset + 8,
                static_cast<std::int64_t>(WordAt(FormatIndex, Slot.Offset + 8)) + (Y - OldY));
    }
}

void TDigiLabelDoc::ResizeSlot(int FormatIndex, int SlotIndex, int NewW, int NewH)
{
    const TDigiSlot Slot = GetSlot(SlotIndex);
    const std::int64_t W = std::max(NewW, 1);
    const std::int64_t H = std::max(NewH, 1);
    switch (Slot.Kind) {
    case dfLine:
    case dfLogo:
        return;
    case dfEan: // the width follows the height
        PutWord(FormatIndex, Slot.Offset + 6, H);
        return;
    case dfBevel:
        PutWord(FormatIndex, Slot.Offset + 6, WordAt(FormatIndex, Slot.Offset) + W);
        PutWord(FormatIndex, Slot.Offset + 8, WordAt(FormatIndex, Slot.Offset + 2) + H);
        return;
    default:
        PutWord(FormatIndex, Slot.Offset + 6, H);
        PutWord(FormatIndex, Slot.Offset + 8, W);
        return;
    }
}

const std::vector<std::uint8_t>& TDigiLabelDoc::Record(int FormatIndex) const
{
    return FBlobs[static_cast<std::size_t>(FormatIndex)];
}

int TDigiLabelDoc::RecordStart(int FormatIndex) const
{
    return FBlobAt[static_cast<std::size_t>(FormatIndex)];
}

int TDigiLabelDoc::HiPos(int StreamIndex) const
{
    return FHi[static_cast<std::size_t>(StreamIndex)];
}

int TDigiLabelDoc::LoPos(int StreamIndex) const
{
    return FLo[static_cast<std::size_t>(StreamIndex)];
}

bool TDigiLabelDoc::RecordsMatchText() const
{
    const auto Digit = [this](std::int32_t Position) {
        if (Position < 1 || static_cast<std::size_t>(Position) > FText.size())
            return -1;
        return HexDigitValue(FText[static_cast<std::size_t>(Position - 1)]);
    };
    for (std::size_t K = 0; K < FBlobs.size(); ++K) {
        for (std::size_t O = 0; O < FBlobs[K].size(); ++O) {
            const std::size_t P = static_cast<std::size_t>(FBlobAt[K]) + O;
            if (P >= FHi.size() || P >= FLo.size())
                return false;
            const int High = Digit(FHi[P]);
            const int Low = Digit(FLo[P]);
            if (High < 0 || Low < 0 || High * 16 + Low != FBlobs[K][O])
                return false;
        }
    }
    return true;
}

std::string LabelErrorText(const std::string& Code)
{
    if (Code == "missing")
        return "Нет файла f34.dat";
    if (Code == "hex")
        return "Файл не похож на f34";
    if (Code == "short")
        return "Слишком короткая запись";
    if (Code == "readonly")
        return "Файл f34.dat только для чтения";
    if (Code == "large")
        return "Файл этикетки больше 16 МБ";
    return "Файл этикетки не читается";
}

} // namespace Plumeria
