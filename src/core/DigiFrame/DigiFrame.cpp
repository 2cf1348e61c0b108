#include "core/DigiFrame/DigiFrame.h"

#include "core/Text/Text.h"

#include <cstddef>

namespace Plumeria {

namespace {

constexpr int MaxPlu = 999997;
constexpr std::int64_t MaxPriceCents = 99999999;
constexpr int MaxShelfHours = 9999;
constexpr std::size_t MaxNameBytes = 80;
constexpr std::size_t OneLineNameBytes = 18;
constexpr std::size_t ShortLineBytes = 25;
constexpr std::size_t MaxLengthByte = 255;
constexpr std::size_t BarcodeDigits = 7;

constexpr std::uint8_t StyleOneLine = 0x09;
constexpr std::uint8_t StyleShortLine = 0x07;
constexpr std::uint8_t StyleLongLine = 0x04;
constexpr std::uint8_t LineBreak = 0x0D;
constexpr std::uint8_t BlockEnd = 0x0C;
constexpr std::uint8_t IngredientTag = 0x02;
constexpr std::uint8_t Space = 0x20;

using TBytes = std::vector<std::uint8_t>;

/// Appends `Value` as `Digits` decimal digits (left-padded with 0), two digits per byte, the
/// first in the high nibble. The caller guarantees 0 <= Value < 10^Digits and an even count.
void AppendBcd(TBytes& Out, std::uint64_t Value, int Digits)
{
    std::uint8_t Packed[8] = {};
    const int Bytes = Digits / 2;
    for (int I = Bytes - 1; I >= 0; --I) {
        const auto Low = static_cast<std::uint8_t>(Value % 10);
        Value /= 10;
        const auto High = static_cast<std::uint8_t>(Value % 10);
        Value /= 10;
        Packed[I] = static_cast<std::uint8_t>((High << 4) | Low);
    }
    Out.insert(Out.end(), Packed, Packed + Bytes);
}

/// Packs a text of decimal digits (even count), first digit in the high nibble.
void AppendBcdDigits(TBytes& Out, std::string_view Digits)
{
    for (std::size_t I = 0; I + 1 < Digits.size(); I += 2)
        Out.push_back(static_cast<std::uint8_t>(((Digits[I] - '0') << 4) | (Digits[I + 1] - '0')));
}

bool AllDecimalDigits(std::string_view Text)
{
    for (const char C : Text)
        if (C < '0' || C > '9')
            return false;
    return true;
}

void AppendLine(TBytes& Out, std::uint8_t Style, const std::uint8_t* Begin, std::size_t Count)
{
    Out.push_back(Style);
    Out.push_back(static_cast<std::uint8_t>(Count));
    Out.insert(Out.end(), Begin, Begin + Count);
}

bool Refuse(std::string& Message, const char* Text)
{
    Message = Text;
    return false;
}

} // namespace

bool ToCp866(std::string_view Text, std::vector<std::uint8_t>& Bytes, std::string& Message)
{
    Bytes.clear();
    std::string Encoded;
    // The round trip is the test: the encoder may accept what the decoder gives back differently
    // (malformed UTF-8 for one), and only an exact return proves nothing was substituted.
    if (!EncodeCodePage(Text, 866, Encoded) || DecodeCodePage(Encoded, 866) != Text) {
        Message = "text does not fit CP866";
        return false;
    }
    Bytes.assign(Encoded.begin(), Encoded.end());
    Message.clear();
    return true;
}

bool BuildIngredientBytes(std::string_view Ingredients, std::vector<std::uint8_t>& Bytes,
                          std::string& Message)
{
    Bytes.clear();
    std::string Joined;
    std::size_t Start = 0;
    while (Start <= Ingredients.size()) {
        std::size_t End = Ingredients.find('\n', Start);
        if (End == std::string_view::npos)
            End = Ingredients.size();
        const std::string_view Piece = TrimView(Ingredients.substr(Start, End - Start));
        if (!Piece.empty()) {
            Joined.append(Piece);
            Joined.push_back(';');
        }
        Start = End + 1;
    }
    if (Joined.empty()) {
        Message.clear();
        return true;
    }
    if (!ToCp866(Joined, Bytes, Message))
        return false;
    if (Bytes.size() > MaxLengthByte) {
        Bytes.clear();
        return Refuse(Message, "ingredients are longer than 255 bytes");
    }
    return true;
}

bool EncodeDigiPlu(const TPluRecord& Item, std::vector<std::uint8_t>& Frame, std::string& Message)
{
    Frame.clear();
    if (Item.ItemType == TItemType::itPiece)
        return Refuse(Message, "piece items are not supported yet");
    if (Item.PricePer100g)
        return Refuse(Message, "price per 100 g is not supported yet");
    if (Item.Plu < 1 || Item.Plu > MaxPlu)
        return Refuse(Message, "PLU is out of range");
    // The digits go into BCD nibbles, so anything but seven decimal digits would corrupt the
    // item code; the PLU parser only lets digits through, other callers are held to the same.
    if (Item.Barcode.size() != BarcodeDigits || !AllDecimalDigits(Item.Barcode))
        return Refuse(Message, "barcode must be 7 digits");
    if (Item.PriceCents < 0 || Item.PriceCents > MaxPriceCents)
        return Refuse(Message, "price does not fit 8 digits");
    if (Item.SellByDays < 0)
        return Refuse(Message, "shelf life days are invalid");
    const std::int64_t ShelfHours = static_cast<std::int64_t>(Item.SellByDays) * 24;
    if (ShelfHours > MaxShelfHours)
        return Refuse(Message, "shelf life does not fit 4 hour digits");

    TBytes Name;
    if (!ToCp866(Item.Name, Name, Message))
        return false;
    if (Name.empty())
        return Refuse(Message, "name is empty");
    if (Name.size() > MaxNameBytes)
        return Refuse(Message, "name is longer than 80 characters");

    // Split into at most two lines: a long name is cut at its last space within the first 18
    // bytes (the space itself dropped), or hard after 18 bytes when there is none past position 0.
    const bool TwoLines = Name.size() > OneLineNameBytes;
    std::size_t FirstLen = Name.size();
    std::size_t SecondBegin = Name.size();
    if (TwoLines) {
        FirstLen = OneLineNameBytes;
        SecondBegin = OneLineNameBytes;
        for (std::size_t P = OneLineNameBytes; P-- > 1;) {
            if (Name[P] == Space) {
                FirstLen = P;
                SecondBegin = P + 1;
                break;
            }
        }
    }
    const std::size_t SecondLen = Name.size() - SecondBegin;
    if (FirstLen == 0 || FirstLen > MaxLengthByte || SecondLen > MaxLengthByte)
        return Refuse(Message, "name line does not fit one length byte");

    Frame.reserve(40 + Name.size() + 2 + MaxLengthByte + 3);
    Frame.push_back(DigiCommandByte);
    Frame.push_back(DigiPluFileByte);
    AppendBcd(Frame, static_cast<std::uint64_t>(Item.Plu), 8);
    Frame.insert(Frame.end(), {0x00, 0x00}); // record length, written last
    Frame.insert(Frame.end(), {0x74, 0x00, 0x0D, 0xE0, 0x11});
    AppendBcd(Frame, static_cast<std::uint64_t>(Item.PriceCents), 8);
    Frame.insert(Frame.end(), {0x11, 0x05});
    AppendBcdDigits(Frame, Item.Barcode + "0");
    Frame.insert(Frame.end(), {0x00, 0x00, 0x01});
    AppendBcd(Frame, static_cast<std::uint64_t>(ShelfHours), 4);
    Frame.insert(Frame.end(), {0x00, 0x00});

    if (!TwoLines) {
        AppendLine(Frame, StyleOneLine, Name.data(), FirstLen);
    } else {
        AppendLine(Frame, FirstLen <= ShortLineBytes ? StyleShortLine : StyleLongLine, Name.data(),
                   FirstLen);
        Frame.push_back(LineBreak);
        AppendLine(Frame, SecondLen <= ShortLineBytes ? StyleShortLine : StyleLongLine,
                   Name.data() + SecondBegin, SecondLen);
    }

    TBytes Ingredients;
    if (!BuildIngredientBytes(Item.Ingredients, Ingredients, Message)) {
        Frame.clear();
        return false;
    }
    Frame.push_back(BlockEnd);
    if (!Ingredients.empty()) {
        Frame.push_back(IngredientTag);
        Frame.push_back(static_cast<std::uint8_t>(Ingredients.size()));
        Frame.insert(Frame.end(), Ingredients.begin(), Ingredients.end());
        Frame.push_back(BlockEnd);
    }
    Frame.insert(Frame.end(), {0x00, 0x01, 0x20, 0x0C, 0x00, 0x00});

    const std::size_t RecordLength = Frame.size() - 2;
    Frame[6] = static_cast<std::uint8_t>(RecordLength >> 8);
    Frame[7] = static_cast<std::uint8_t>(RecordLength & 0xFF);
    Message.clear();
    return true;
}

} // namespace Plumeria
