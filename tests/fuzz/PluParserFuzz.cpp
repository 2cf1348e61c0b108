// libFuzzer target for the PLU parser. The first byte chooses the code page (866 or 1251) and
// the way in: from memory (the bytes decoded, and the bytes taken as UTF-8 text), through the
// file reader, or through the file reader with the bytes placed across its piece boundaries in a
// file large enough for the second thread that decodes names. Beyond "no crash" it checks:
//  - the file reader and the parser from memory give the same result for the same text;
//  - every error text is one of the fixed messages, at most one error per line, and a line that
//    gave an error gave no article: the articles are exactly the article lines without an error;
//  - every accepted article keeps the field rules (PLU range and uniqueness, name, barcode, days).

#include "FuzzCheck.h"

#include "core/PluCsv/PluCsv.h"
#include "core/Text/Text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace {

using namespace Plumeria;

constexpr std::array<std::string_view, 13> LineMessages = {
    "PLU record needs 8 fields",
    "PLU is out of range",
    "duplicate PLU",
    "barcode must be 1 to 14 digits",
    "price is invalid",
    "item type must be 0 or 1",
    "price base must be 0 or 1",
    "shelf life days are invalid",
    "name is empty",
    "name is longer than 80 characters",
    "ingredient record needs a PLU",
    "delete records are not sent",
    "expected record A or I",
};
constexpr std::string_view NoRecords = "no PLU records";
constexpr std::string_view OrphanPrefix = "ingredient without a PLU record: ";

/// What kind of record a physical line is, read independently of the parser.
enum class TLineKind
{
    lkSkipped,
    lkArticle,
    lkIngredient,
    lkOther
};

bool IsBlank(char C)
{
    return static_cast<unsigned char>(C) <= 32;
}

std::vector<TLineKind> LineKinds(std::string_view Text, bool Utf8)
{
    std::vector<TLineKind> Kinds;
    for (const auto Raw : SplitText(Text, '\n')) {
        std::string_view Line = Raw;
        if (Utf8 && Line.starts_with("\xEF\xBB\xBF"))
            Line.remove_prefix(3);
        const auto First =
            std::find_if(Line.begin(), Line.end(), [](char C) { return !IsBlank(C); });
        if (First == Line.end() || *First == '#') { // a carriage return is blank as well
            Kinds.push_back(TLineKind::lkSkipped);
            continue;
        }
        const auto Letter = TrimView(Line.substr(0, Line.find(';')));
        const char Kind = Letter.size() == 1 ? Letter[0] : '\0';
        Kinds.push_back(Kind == 'A' || Kind == 'a'   ? TLineKind::lkArticle
                        : Kind == 'I' || Kind == 'i' ? TLineKind::lkIngredient
                                                     : TLineKind::lkOther);
    }
    return Kinds;
}

void CheckResult(std::string_view Text, bool Utf8, const TPluParseResult& Result)
{
    const auto Kinds = LineKinds(Text, Utf8);
    std::int32_t LastLine = 0;
    std::size_t ArticleErrors = 0;
    std::size_t ArticleLines = 0;
    for (const auto Kind : Kinds)
        ArticleLines += Kind == TLineKind::lkArticle ? 1 : 0;
    for (const auto& Error : Result.Errors) {
        if (Error.Text == NoRecords) {
            FUZZ_CHECK(Error.LineNo == 0 && Result.Errors.size() == 1 && Result.Items.empty());
            continue;
        }
        FUZZ_CHECK(std::find(LineMessages.begin(), LineMessages.end(), Error.Text) !=
                   LineMessages.end());
        FUZZ_CHECK(Error.LineNo > LastLine); // one error per line, in line order
        FUZZ_CHECK(static_cast<std::size_t>(Error.LineNo) <= Kinds.size());
        LastLine = Error.LineNo;
        const auto Kind = Kinds[static_cast<std::size_t>(Error.LineNo) - 1];
        FUZZ_CHECK(Kind != TLineKind::lkSkipped);
        ArticleErrors += Kind == TLineKind::lkArticle ? 1 : 0;
    }
    // Every line that is neither article, ingredient nor skipped is refused.
    std::size_t OtherLines = 0;
    for (const auto Kind : Kinds)
        OtherLines += Kind == TLineKind::lkOther ? 1 : 0;
    std::size_t OtherErrors = 0;
    for (const auto& Error : Result.Errors)
        if (Error.LineNo > 0 &&
            Kinds[static_cast<std::size_t>(Error.LineNo) - 1] == TLineKind::lkOther)
            ++OtherErrors;
    FUZZ_CHECK(OtherErrors == OtherLines);
    // An article line gives either an article or an error, never both and never neither.
    FUZZ_CHECK(Result.Items.size() + ArticleErrors == ArticleLines);

    std::set<std::int32_t> Plus;
    for (const auto& Item : Result.Items) {
        FUZZ_CHECK(Item.Plu >= 1 && Item.Plu <= MaxPluNumber);
        FUZZ_CHECK(Plus.insert(Item.Plu).second);
        FUZZ_CHECK(!Item.Name.empty() && Utf16Length(Item.Name) <= MaxPluNameLength);
        FUZZ_CHECK(Item.Name == TrimView(Item.Name));
        FUZZ_CHECK(Item.Barcode.size() <= 14 &&
                   std::all_of(Item.Barcode.begin(), Item.Barcode.end(),
                               [](char C) { return C >= '0' && C <= '9'; }));
        FUZZ_CHECK(Item.SellByDays >= 0 && Item.SellByDays <= 999);
        FUZZ_CHECK(Item.PriceCents >= 0);
    }
    for (const auto& Warning : Result.Warnings) {
        FUZZ_CHECK(Warning.starts_with(OrphanPrefix));
        std::int32_t Plu = 0;
        FUZZ_CHECK(TryParseInt32(std::string_view(Warning).substr(OrphanPrefix.size()), Plu));
        FUZZ_CHECK(Plu >= 1 && Plu <= MaxPluNumber && !Plus.count(Plu));
    }
}

void CheckSame(const TPluParseResult& A, const TPluParseResult& B)
{
    FUZZ_CHECK(A.Items == B.Items);
    FUZZ_CHECK(A.Errors == B.Errors);
    FUZZ_CHECK(A.Warnings == B.Warnings);
}

/// The input placed across the reader's first two piece boundaries (1 MiB and 2 MiB), in a file
/// of more than 2 MiB, so the names are decoded on the second thread. Comment lines fill the gaps.
/// `Compact` is the same text with an empty line for each comment line: the same lines with the
/// same numbers, cheap to parse from memory for the comparison.
struct TLargeFile
{
    std::string Bytes;
    std::string Compact;
};

TLargeFile LargeFile(std::string_view Input)
{
    constexpr std::size_t Piece = std::size_t{1} << 20;
    TLargeFile File;
    File.Bytes.reserve(2 * Piece + 2 * Input.size() + 8192);
    const auto FillTo = [&File](std::size_t Size) {
        while (File.Bytes.size() < Size) {
            const std::size_t Length = std::min<std::size_t>(4095, Size - File.Bytes.size());
            File.Bytes += '#';
            File.Bytes.append(Length, '.');
            File.Bytes += '\n';
            File.Compact += '\n';
        }
    };
    FillTo(Piece - Input.size() / 2);
    File.Bytes += Input;
    File.Bytes += '\n';
    File.Compact += Input;
    File.Compact += '\n';
    FillTo(2 * Piece - Input.size() / 2);
    File.Bytes += Input;
    File.Compact += Input;
    return File;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size)
{
    if (Size < 1)
        return 0;
    const int CodePage = (Data[0] & 1) != 0 ? 866 : 1251;
    // 0-4 from memory, 5-6 a small file, 7 a large file. A large file costs a hundred small
    // inputs, so only the first byte 0x0E/0x0F (and not 1 in 8 of all) chooses it.
    const int Way = Data[0] >= 0x10 && ((Data[0] >> 1) & 7) == 7 ? 6 : (Data[0] >> 1) & 7;
    const std::string_view Input(reinterpret_cast<const char*>(Data) + 1, Size - 1);

    TPluParseResult Memory;
    if (Way <= 4) {
        ParsePluText(Input, Memory);
        CheckResult(Input, true, Memory);
    }
    const TLargeFile Large = Way == 7 ? LargeFile(Input) : TLargeFile();
    const std::string_view Bytes = Way == 7 ? std::string_view(Large.Bytes) : Input;
    const std::string_view Text = Way == 7 ? std::string_view(Large.Compact) : Input;
    const std::string Decoded = DecodeCodePage(Text, CodePage);
    ParsePluText(Decoded, Memory);
    CheckResult(Decoded, true, Memory);
    if (Way <= 4)
        return 0;

    const auto Path = Fuzz::FuzzDir().Path() / "articles.csv";
    Fuzz::WriteBytes(Path, std::string(Bytes));
    TPluParseResult File;
    ParsePluFile(Path, CodePage, File);
    CheckResult(Text, false, File);
    CheckSame(File, Memory);
    return 0;
}
