#include "core/PluCsv/PluCsv.h"

#include "core/Text/Text.h"
#include "platform/Environment.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace Plumeria {
namespace {

constexpr std::string_view MsgNeedsEightFields = "PLU record needs 8 fields";
constexpr std::string_view MsgPluOutOfRange = "PLU is out of range";
constexpr std::string_view MsgDuplicatePlu = "duplicate PLU";
constexpr std::string_view MsgBadBarcode = "barcode must be 1 to 14 digits";
constexpr std::string_view MsgBadPrice = "price is invalid";
constexpr std::string_view MsgBadItemType = "item type must be 0 or 1";
constexpr std::string_view MsgBadPriceBase = "price base must be 0 or 1";
constexpr std::string_view MsgBadShelfLife = "shelf life days are invalid";
constexpr std::string_view MsgNameEmpty = "name is empty";
constexpr std::string_view MsgNameTooLong = "name is longer than 80 characters";
constexpr std::string_view MsgIngredientNeedsPlu = "ingredient record needs a PLU";
constexpr std::string_view MsgDeleteRecord = "delete records are not sent";
constexpr std::string_view MsgUnknownRecord = "expected record A or I";
constexpr std::string_view MsgOrphanIngredient = "ingredient without a PLU record: ";
constexpr std::string_view MsgNoRecords = "no PLU records";

constexpr std::size_t MaxBarcodeDigits = 14;
constexpr std::int32_t MaxShelfLifeDays = 999;
constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

bool IsDigit(char C)
{
    return C >= '0' && C <= '9';
}

/// False for the empty text.
bool IsAllDigits(std::string_view Text)
{
    if (Text.empty())
        return false;
    for (const char C : Text)
        if (!IsDigit(C))
            return false;
    return true;
}

bool IsZeroOrOne(std::string_view Field, bool& Value)
{
    const auto Text = TrimView(Field);
    if (Text == "0" || Text == "1") {
        Value = Text == "1";
        return true;
    }
    return false;
}

bool IsAscii(std::string_view Bytes)
{
    unsigned char Any = 0;
    for (const char C : Bytes)
        Any |= static_cast<unsigned char>(C);
    return Any < 0x80;
}

bool TryParsePlu(std::string_view Field, std::int32_t& Plu)
{
    return TryParseInt32(TrimView(Field), Plu) && Plu >= 1 && Plu <= MaxPluNumber;
}

/// An upper bound for the number of article lines, so `Items` is allocated once: the lines whose
/// first byte above 32 is "A" or "a". Fed piece by piece, so a line may span pieces.
class TArticleLineCounter
{
public:
    void Feed(std::string_view Bytes)
    {
        std::size_t I = 0;
        while (I < Bytes.size()) {
            if (FAtLineStart) {
                const auto C = static_cast<unsigned char>(Bytes[I]);
                if (C <= 32) { // blanks, and the line feeds of empty lines
                    ++I;
                    continue;
                }
                if (C == 'A' || C == 'a')
                    ++FCount;
                FAtLineStart = false;
            }
            const auto Feed = Bytes.find('\n', I);
            if (Feed == std::string_view::npos)
                return;
            I = Feed + 1;
            FAtLineStart = true;
        }
    }

    std::size_t Count() const { return FCount; }

private:
    bool FAtLineStart = true;
    std::size_t FCount = 0;
};

struct TFreeDeleter
{
    void operator()(void* P) const { std::free(P); }
};

/// Applies the record rules to one physical line after another and collects the result.
///
/// Lines come either as UTF-8 text or as the file's own code page bytes. Every rule can be
/// checked on the raw bytes: record letters, digits, ";", "#" and the trimmed codes 0-32 are the
/// same bytes in both code pages, a byte from 0x80 up is never any of them, and each byte is one
/// UTF-16 code unit. So only the texts that enter the result (names, ingredients) are decoded.
class TPluParser
{
public:
    /// `CodePage` 866 or 1251 for raw file bytes, 0 for UTF-8 text.
    TPluParser(TPluParseResult& Result, std::size_t ArticleLineHint, int CodePage)
        : FResult(Result), FCodePage(CodePage)
    {
        FResult.Items.clear();
        FResult.Errors.clear();
        FResult.Warnings.clear();
        FResult.Items.reserve(std::min<std::size_t>(ArticleLineHint, MaxPluNumber));
        FAccepted.assign(static_cast<std::size_t>(MaxPluNumber) / 64 + 1, 0);
    }

    /// One line without its line feed.
    void ParseLine(std::string_view Line)
    {
        if (FLineNo < std::numeric_limits<std::int32_t>::max())
            ++FLineNo;
        if (FCodePage == 0 && Line.starts_with(Utf8Bom))
            Line.remove_prefix(Utf8Bom.size());
        if (!Line.empty() && Line.back() == '\r')
            Line.remove_suffix(1);
        const auto Content = TrimView(Line);
        if (Content.empty() || Content.front() == '#')
            return;

        SplitFields(Line);
        const auto Letter = TrimView(FFields[0]);
        const char Kind = Letter.size() == 1 ? Letter[0] : '\0';
        switch (Kind) {
        case 'A':
        case 'a':
            ParseArticle();
            break;
        case 'I':
        case 'i':
            ParseIngredient();
            break;
        case 'D':
        case 'd':
            AddError(MsgDeleteRecord);
            break;
        default:
            AddError(MsgUnknownRecord);
            break;
        }
    }

    void Finish()
    {
        // Ingredient text still waiting belongs to a PLU whose article never came or was
        // rejected. Reported in the order the PLUs first appeared.
        for (const std::int32_t Plu : FWaitingOrder)
            if (FWaiting.count(Plu))
                FResult.Warnings.push_back(std::string(MsgOrphanIngredient) + std::to_string(Plu));
        if (FResult.Items.empty() && FResult.Errors.empty())
            FResult.Errors.push_back({0, std::string(MsgNoRecords)});
    }

private:
    void SplitFields(std::string_view Line)
    {
        FFields.clear();
        std::size_t Start = 0;
        for (std::size_t I = 0; I < Line.size(); ++I) {
            if (Line[I] == ';') {
                FFields.push_back(Line.substr(Start, I - Start));
                Start = I + 1;
            }
        }
        FFields.push_back(Line.substr(Start));
    }

    /// A piece of the line as UTF-8 text for the result.
    std::string Text(std::string_view Raw) const
    {
        if (FCodePage == 0 || IsAscii(Raw))
            return std::string(Raw);
        return DecodeCodePage(Raw, FCodePage);
    }

    std::size_t CharLength(std::string_view Raw) const
    {
        return FCodePage == 0 ? Utf16Length(Raw) : Raw.size();
    }

    // Which PLUs have an accepted article is one bit each (125 KB, stays in cache however the
    // numbers are ordered). Where each article sits in `Items` is only needed by ingredient
    // lines that follow their article; that table is built on the first such line.
    bool IsAccepted(std::int32_t Plu) const
    {
        const auto Bit = static_cast<std::uint32_t>(Plu);
        return (FAccepted[Bit >> 6] >> (Bit & 63)) & 1;
    }

    void MarkAccepted(std::int32_t Plu)
    {
        const auto Bit = static_cast<std::uint32_t>(Plu);
        FAccepted[Bit >> 6] |= std::uint64_t{1} << (Bit & 63);
        if (FItemByPlu)
            FItemByPlu.get()[Plu] = static_cast<std::int32_t>(FResult.Items.size());
    }

    TPluRecord& AcceptedItem(std::int32_t Plu)
    {
        if (!FItemByPlu) {
            // 1 + the index of the PLU's article, 0 for none.
            FItemByPlu.reset(static_cast<std::int32_t*>(
                std::calloc(static_cast<std::size_t>(MaxPluNumber) + 1, sizeof(std::int32_t))));
            if (!FItemByPlu)
                throw std::bad_alloc();
            for (std::size_t I = 0; I < FResult.Items.size(); ++I)
                FItemByPlu.get()[FResult.Items[I].Plu] = static_cast<std::int32_t>(I + 1);
        }
        return FResult.Items[static_cast<std::size_t>(FItemByPlu.get()[Plu] - 1)];
    }

    void AddError(std::string_view Text) { FResult.Errors.push_back({FLineNo, std::string(Text)}); }

    void ParseArticle()
    {
        if (FFields.size() < 8)
            return AddError(MsgNeedsEightFields);
        std::int32_t Plu = 0;
        if (!TryParsePlu(FFields[1], Plu))
            return AddError(MsgPluOutOfRange);
        if (IsAccepted(Plu))
            return AddError(MsgDuplicatePlu);
        const auto Barcode = TrimView(FFields[2]);
        if (!Barcode.empty() && (Barcode.size() > MaxBarcodeDigits || !IsAllDigits(Barcode)))
            return AddError(MsgBadBarcode);
        std::int64_t Cents = 0;
        if (!TryParsePriceCents(FFields[3], Cents))
            return AddError(MsgBadPrice);
        bool Piece = false;
        if (!IsZeroOrOne(FFields[4], Piece))
            return AddError(MsgBadItemType);
        bool Per100g = false;
        if (!IsZeroOrOne(FFields[5], Per100g))
            return AddError(MsgBadPriceBase);
        std::int32_t Days = 0;
        if (!TryParseInt32(TrimView(FFields[6]), Days) || Days < 0 || Days > MaxShelfLifeDays)
            return AddError(MsgBadShelfLife);
        const auto Name = TrimView(FFields[7]);
        if (Name.empty())
            return AddError(MsgNameEmpty);
        if (CharLength(Name) > MaxPluNameLength)
            return AddError(MsgNameTooLong);

        TPluRecord& Record = FResult.Items.emplace_back();
        Record.Plu = Plu;
        Record.Name = Text(Name);
        Record.PriceCents = Cents;
        Record.Barcode = Barcode;
        Record.ItemType = Piece ? TItemType::itPiece : TItemType::itWeight;
        Record.PricePer100g = Per100g;
        Record.SellByDays = Days;
        MarkAccepted(Plu);
        if (!FWaiting.empty()) {
            if (const auto It = FWaiting.find(Plu); It != FWaiting.end()) {
                Record.Ingredients = std::move(It->second);
                FWaiting.erase(It);
            }
        }
    }

    void ParseIngredient()
    {
        if (FFields.size() < 2)
            return AddError(MsgIngredientNeedsPlu);
        std::int32_t Plu = 0;
        if (!TryParsePlu(FFields[1], Plu))
            return AddError(MsgPluOutOfRange);

        std::string* Target = nullptr;
        if (IsAccepted(Plu)) {
            Target = &AcceptedItem(Plu).Ingredients;
        } else if (const auto It = FWaiting.find(Plu); It != FWaiting.end()) {
            Target = &It->second;
        }

        std::string Joined;
        for (std::size_t I = 2; I < FFields.size(); ++I) {
            const auto Piece = TrimView(FFields[I]);
            if (Piece.empty())
                continue;
            if (!Joined.empty())
                Joined += '\n';
            Joined += Piece;
        }
        if (Joined.empty())
            return;
        Joined = Text(Joined);

        if (!Target) {
            FWaiting.emplace(Plu, std::move(Joined));
            FWaitingOrder.push_back(Plu);
        } else {
            if (!Target->empty())
                *Target += '\n';
            *Target += Joined;
        }
    }

    TPluParseResult& FResult;
    const int FCodePage;
    std::int32_t FLineNo = 0;
    std::vector<std::uint64_t> FAccepted;
    std::unique_ptr<std::int32_t, TFreeDeleter> FItemByPlu;
    std::unordered_map<std::int32_t, std::string> FWaiting;
    std::vector<std::int32_t> FWaitingOrder;
    std::vector<std::string_view> FFields;
};

[[noreturn]] void ThrowReadError(const std::filesystem::path& FileName, int Error)
{
    const std::string Reason =
        Error != 0 ? std::generic_category().message(Error) : std::string("read failed");
    throw TPluReadError("cannot read file " + PathToUtf8(FileName) + ": " + Reason);
}

/// A file is read in pieces of this size; each piece is released as soon as its lines are
/// parsed, so the raw bytes and the finished articles are never both held in full.
constexpr std::size_t ReadPieceSize = std::size_t{1} << 20;

struct TPiece
{
    std::unique_ptr<char[]> Data;
    std::size_t Size = 0;
};

std::vector<TPiece> ReadAllPieces(const std::filesystem::path& FileName)
{
    // A folder, a device or a pipe is no PLU file; reading one could also never end
    // (/dev/zero, a pipe without writer).
    std::error_code Ignored;
    const auto Status = std::filesystem::status(FileName, Ignored);
    if (std::filesystem::is_directory(Status))
        ThrowReadError(FileName, static_cast<int>(std::errc::is_a_directory));
    if (std::filesystem::exists(Status) && !std::filesystem::is_regular_file(Status))
        throw TPluReadError("cannot read file " + PathToUtf8(FileName) + ": not a regular file");

    errno = 0;
    std::ifstream In(FileName, std::ios::binary);
    if (!In.is_open())
        ThrowReadError(FileName, errno);

    std::vector<TPiece> Pieces;
    for (;;) {
        TPiece Piece{std::make_unique_for_overwrite<char[]>(ReadPieceSize), 0};
        errno = 0;
        In.read(Piece.Data.get(), static_cast<std::streamsize>(ReadPieceSize));
        Piece.Size = static_cast<std::size_t>(In.gcount());
        if (In.bad() || (In.fail() && !In.eof()))
            ThrowReadError(FileName, errno);
        if (Piece.Size > 0)
            Pieces.push_back(std::move(Piece));
        if (In.eof())
            return Pieces;
    }
}

} // namespace

int NormalizeCodePage(int CodePage)
{
    return CodePage == 866 ? 866 : 1251;
}

bool TryParsePriceCents(std::string_view Text, std::int64_t& Cents)
{
    constexpr std::int64_t Max = std::numeric_limits<std::int64_t>::max();
    Cents = 0;
    auto Price = TrimView(Text);
    if (Price.empty())
        return false;
    if (Price.front() == '+')
        Price.remove_prefix(1);
    if (Price.empty() || Price.front() == '-')
        return false;

    // "," and "." are the same decimal point; the first one splits.
    const auto Point = Price.find_first_of(".,");
    const auto Whole = Price.substr(0, Point);
    auto Fraction =
        Point == std::string_view::npos ? std::string_view("00") : Price.substr(Point + 1);

    std::int64_t Units = 0;
    for (const char C : Whole) {
        if (!IsDigit(C))
            return false;
        const int Digit = C - '0';
        if (Units > (Max - Digit) / 10)
            return false;
        Units = Units * 10 + Digit;
    }

    // The third fraction character only rounds; whatever follows it is ignored.
    int Carry = 0;
    if (Fraction.size() > 2) {
        Carry = Fraction[2] >= '5' && Fraction[2] <= '9' ? 1 : 0;
        Fraction = Fraction.substr(0, 2);
    }
    const char Tenths = !Fraction.empty() ? Fraction[0] : '0';
    const char Hundredths = Fraction.size() > 1 ? Fraction[1] : '0';
    if (!IsDigit(Tenths) || !IsDigit(Hundredths))
        return false;

    const std::int64_t Small = (Tenths - '0') * 10 + (Hundredths - '0') + Carry;
    if (Units > (Max - Small) / 100)
        return false;
    Cents = Units * 100 + Small;
    return true;
}

void ParsePluText(std::string_view Text, TPluParseResult& Result)
{
    TArticleLineCounter Counter;
    Counter.Feed(Text);
    TPluParser Parser(Result, Counter.Count(), 0);
    for (;;) {
        const auto Feed = Text.find('\n');
        if (Feed == std::string_view::npos) {
            Parser.ParseLine(Text); // the piece after the last line feed is a line too
            break;
        }
        Parser.ParseLine(Text.substr(0, Feed));
        Text.remove_prefix(Feed + 1);
    }
    Parser.Finish();
}

void ParsePluFile(const std::filesystem::path& FileName, int CodePage, TPluParseResult& Result)
{
    Result.Items.clear();
    Result.Errors.clear();
    Result.Warnings.clear();
    const int Cp = NormalizeCodePage(CodePage);
    std::vector<TPiece> Pieces = ReadAllPieces(FileName);

    TArticleLineCounter Counter;
    for (const auto& Piece : Pieces)
        Counter.Feed({Piece.Data.get(), Piece.Size});
    // Both code pages map the byte 0x0A, and only it, to the line feed, so the bytes are split
    // into lines before anything is decoded.
    TPluParser Parser(Result, Counter.Count(), Cp);
    const auto ParseBytes = [&](std::string_view Bytes) { Parser.ParseLine(Bytes); };

    std::string Carry; // the start of a line that continues in the next piece
    for (auto& Piece : Pieces) {
        std::string_view Data(Piece.Data.get(), Piece.Size);
        for (;;) {
            const auto Feed = Data.find('\n');
            if (Feed == std::string_view::npos) {
                Carry.append(Data);
                break;
            }
            if (Carry.empty()) {
                ParseBytes(Data.substr(0, Feed));
            } else {
                Carry.append(Data.substr(0, Feed));
                ParseBytes(Carry);
                Carry.clear();
            }
            Data.remove_prefix(Feed + 1);
        }
        Piece.Data.reset();
    }
    ParseBytes(Carry); // the piece after the last line feed is a line too
    Parser.Finish();
}

} // namespace Plumeria
