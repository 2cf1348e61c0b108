#pragma once
// The value records that travel between the parts of the program: the scale make with its two
// text tables, the article record made by the PLU parser, the parse result, and the outcome of
// one upload to one scale. Plain values: copying a record copies its texts and arrays.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Plumeria {

/// Make of a scale; the ordinal indexes both text tables below.
enum class TScaleKind : std::uint8_t
{
    skDigi = 0,
    skCas = 1,
    skMassaK = 2,
    skShtrihPrint = 3,
    skMettlerToledo = 4,
    skMer = 5,
};
inline constexpr int ScaleKindCount = 6;

enum class TItemType : std::uint8_t
{
    itWeight = 0, ///< a weighed article
    itPiece = 1,  ///< an article sold by the piece
};

/// One article (price look-up). A record made by the parser starts all zero/false/empty.
struct TPluRecord
{
    std::int32_t Plu = 0;
    std::string Name; ///< UTF-8, trimmed, 1 to 80 UTF-16 code units
    std::int64_t PriceCents = 0;
    std::string Barcode; ///< empty, or 1 to 14 decimal digits
    TItemType ItemType = TItemType::itWeight;
    bool PricePer100g = false;
    std::int32_t SellByDays = 0;
    std::int32_t UsedByDays = 0; ///< the PLU file has no column for it: always 0
    std::string Ingredients;     ///< ingredient lines joined with a single line feed
    bool NameTooLong = false;    ///< never set by the parser, which rejects such lines

    friend bool operator==(const TPluRecord&, const TPluRecord&) = default;
};

enum class TUploadStatus : std::uint8_t
{
    usNotSent = 0, ///< the driver did not try (make without protocol)
    usFailed = 1,  ///< attempted and failed
    usSent = 2,    ///< every article was taken
};

/// Outcome of one driver upload to one scale; `Message` is the driver's one-line summary.
struct TUploadResult
{
    TUploadStatus Status = TUploadStatus::usNotSent;
    std::string Message;

    friend bool operator==(const TUploadResult&, const TUploadResult&) = default;
};

/// One rejected line: its 1-based physical line number (0 for an error of no line) and message.
struct TPluParseError
{
    std::int32_t LineNo = 0;
    std::string Text;

    friend bool operator==(const TPluParseError&, const TPluParseError&) = default;
};

/// Result of parsing one file in one code page. "Rejected" when `Errors` is not empty.
struct TPluParseResult
{
    std::vector<TPluRecord> Items;
    std::vector<TPluParseError> Errors;
    std::vector<std::string> Warnings;

    bool Rejected() const { return !Errors.empty(); }
};

/// "digi", "cas", "massa-k", "shtrih-print", "mettler-toledo", "m-er".
std::string_view ScaleKindId(TScaleKind Kind);
/// "DIGI", "CAS", "MASSA-K", "SHTRIH-PRINT", "Mettler-Toledo", "M-ER".
std::string_view ScaleKindName(TScaleKind Kind);
/// Folds ASCII A–Z to lower case, trims codes 0–32 at both ends and compares exactly with the
/// ids. On a match stores the kind and returns true; otherwise leaves `Kind` untouched.
bool TryScaleKindFromId(std::string_view Text, TScaleKind& Kind);

} // namespace Plumeria
