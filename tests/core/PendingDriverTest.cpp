#include "core/Digi/Digi.h"
#include "core/Driver/Driver.h"
#include "core/Journal/Journal.h"
#include "core/Pending/Pending.h"

#include "support/ScaleNet.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace Plumeria {
namespace {

namespace Kit = Plumeria::Test;

const TScaleKind AllKinds[] = {TScaleKind::skDigi,          TScaleKind::skCas,
                               TScaleKind::skMassaK,        TScaleKind::skShtrihPrint,
                               TScaleKind::skMettlerToledo, TScaleKind::skMer};

TEST(CreateScaleDriver, DigiGetsTheDigiDriverEveryOtherMakeThePlaceholder)
{
    for (const TScaleKind Kind : AllKinds) {
        const TScaleDriverRef Driver = CreateScaleDriver(Kind);
        ASSERT_NE(Driver, nullptr);
        EXPECT_EQ(Driver->Kind(), Kind);
        const bool IsDigi = dynamic_cast<TDigiDriver*>(Driver.get()) != nullptr;
        const bool IsPending = dynamic_cast<TPendingScaleDriver*>(Driver.get()) != nullptr;
        EXPECT_EQ(IsDigi, Kind == TScaleKind::skDigi) << ScaleKindId(Kind);
        EXPECT_EQ(IsPending, Kind != TScaleKind::skDigi) << ScaleKindId(Kind);
    }
}

TEST(CreateScaleDriver, DriverDiesWithItsLastReference)
{
    std::weak_ptr<IScaleDriver> Watch;
    {
        TScaleDriverRef First = CreateScaleDriver(TScaleKind::skCas);
        TScaleDriverRef Second = First;
        Watch = First;
        First.reset();
        EXPECT_FALSE(Watch.expired());
    }
    EXPECT_TRUE(Watch.expired());
}

TEST(PendingScaleDriver, UploadSendsNothingAndJournalsEachArticle)
{
    Kit::TTempDataFolder Data;
    const auto Items = Kit::MakeArticles(3, 41);
    const TUploadResult Result =
        CreateScaleDriver(TScaleKind::skMassaK)
            ->Upload("192.168.5.9", 0, 700, "10.0.0.1", "MK-15.2", "/in/prices.csv", Items);
    EXPECT_EQ(Result.Status, TUploadStatus::usNotSent);
    EXPECT_EQ(Result.Message, "MASSA-K protocol is not connected yet");
    EXPECT_EQ(Kit::JournalTexts("INFO"),
              (std::vector<std::string>{
                  "file=/in/prices.csv ip=192.168.5.9 port=0 kind=massa-k model=MK-15.2 plu=41 "
                  "status=not sent payload=",
                  "file=/in/prices.csv ip=192.168.5.9 port=0 kind=massa-k model=MK-15.2 plu=42 "
                  "status=not sent payload=",
                  "file=/in/prices.csv ip=192.168.5.9 port=0 kind=massa-k model=MK-15.2 plu=43 "
                  "status=not sent payload="}));
    EXPECT_EQ(Kit::JournalEntries().size(), 3u); // nothing else: no connect attempt
}

TEST(PendingScaleDriver, EveryMakeNamesItselfAndNeverFails)
{
    Kit::TTempDataFolder Data;
    struct Row
    {
        TScaleKind Kind;
        const char* Message;
        const char* Id;
    };
    const Row Rows[] = {
        {TScaleKind::skCas, "CAS protocol is not connected yet", "kind=cas "},
        {TScaleKind::skShtrihPrint, "SHTRIH-PRINT protocol is not connected yet",
         "kind=shtrih-print "},
        {TScaleKind::skMettlerToledo, "Mettler-Toledo protocol is not connected yet",
         "kind=mettler-toledo "},
        {TScaleKind::skMer, "M-ER protocol is not connected yet", "kind=m-er "},
    };
    for (const Row& R : Rows) {
        TPendingScaleDriver Driver(R.Kind);
        // An empty list: the same answer, no journal lines.
        const auto Before = Kit::JournalEntries().size();
        EXPECT_EQ(Driver.Upload("h", 5, 1, "", "", "f", {}),
                  (TUploadResult{TUploadStatus::usNotSent, R.Message}));
        EXPECT_EQ(Kit::JournalEntries().size(), Before);
        // The port goes into the lines exactly as passed, even a nonsense one.
        EXPECT_EQ(Driver.Upload("h", -3, 1, "", "m", "f", Kit::MakeArticles(1)).Message, R.Message);
        EXPECT_EQ(Kit::JournalTexts("INFO").back(), std::string("file=f ip=h port=-3 ") + R.Id +
                                                        "model=m plu=1 status=not sent "
                                                        "payload=");
        std::string Model = "old";
        EXPECT_FALSE(Driver.Identify("127.0.0.1", 2001, 500, Model));
        EXPECT_EQ(Model, "");
    }
    EXPECT_EQ(Kit::CountJournal("INFO", "digi tcp"), 0);
}

TEST(PendingScaleDriver, NothingIsJournaledAtLevelErrors)
{
    Kit::TTempDataFolder Data;
    SetLogLevel(TLogLevel::llErrors);
    const TUploadResult Result =
        TPendingScaleDriver(TScaleKind::skCas).Upload("h", 0, 1, "", "", "f", Kit::MakeArticles(4));
    EXPECT_EQ(Result.Status, TUploadStatus::usNotSent);
    EXPECT_TRUE(Kit::JournalEntries().empty());
}

} // namespace
} // namespace Plumeria
