#include "core/Types/Types.h"

#include <gtest/gtest.h>

namespace Plumeria {
namespace {

TEST(ScaleKind, IdsAndNamesFollowTheOrdinal)
{
    struct Row
    {
        TScaleKind Kind;
        const char* Id;
        const char* Name;
    };
    const Row Rows[] = {
        {TScaleKind::skDigi, "digi", "DIGI"},
        {TScaleKind::skCas, "cas", "CAS"},
        {TScaleKind::skMassaK, "massa-k", "MASSA-K"},
        {TScaleKind::skShtrihPrint, "shtrih-print", "SHTRIH-PRINT"},
        {TScaleKind::skMettlerToledo, "mettler-toledo", "Mettler-Toledo"},
        {TScaleKind::skMer, "m-er", "M-ER"},
    };
    for (const Row& R : Rows) {
        EXPECT_EQ(ScaleKindId(R.Kind), R.Id);
        EXPECT_EQ(ScaleKindName(R.Kind), R.Name);
        TScaleKind Parsed = TScaleKind::skMer;
        EXPECT_TRUE(TryScaleKindFromId(R.Id, Parsed)) << R.Id;
        EXPECT_EQ(Parsed, R.Kind);
    }
}

TEST(ScaleKind, FromIdFoldsAsciiAndTrims)
{
    struct Row
    {
        const char* Text;
        bool Ok;
        TScaleKind Kind;
    };
    const Row Rows[] = {
        {" \tDIGI \t", true, TScaleKind::skDigi},
        {"Digi", true, TScaleKind::skDigi},
        {"MASSA-K", true, TScaleKind::skMassaK},
        {"\x01m-er\x1f", true, TScaleKind::skMer},
        {"", false, {}},
        {"massa k", false, {}},
        {"mettler", false, {}},
        {"digi2", false, {}},
        // Only ASCII letters fold: letters that Unicode case folding turns into ASCII ones
        // (KELVIN SIGN to k, LATIN CAPITAL I WITH DOT ABOVE to i) keep an id from matching.
        {"MASSA-\xE2\x84\xAA", false, {}},
        {"D\xC4\xB0GI", false, {}},
    };
    for (const Row& R : Rows) {
        TScaleKind Kind = TScaleKind::skShtrihPrint;
        EXPECT_EQ(TryScaleKindFromId(R.Text, Kind), R.Ok) << '"' << R.Text << '"';
        EXPECT_EQ(Kind, R.Ok ? R.Kind : TScaleKind::skShtrihPrint) << "untouched on failure";
    }
}

TEST(Records, ParseResultIsRejectedOnlyWithErrors)
{
    TPluParseResult Result;
    Result.Items.push_back(TPluRecord{});
    Result.Warnings.push_back("ingredient without a PLU record: 5");
    EXPECT_FALSE(Result.Rejected());
    Result.Errors.push_back({3, "price is invalid"});
    EXPECT_TRUE(Result.Rejected());
}

} // namespace
} // namespace Plumeria
