// The whole road inside the tray program: a PLU file dropped into the watched folder is found by
// the watch, sent in the background to a simulated DIGI scale on loopback, moved to "processed"
// and reported in the recent list and a balloon; while a slow scale is sent to, the windows stay
// responsive and show the progress, and afterwards each scale's delivery, a missed file and its
// sending again.

#include "UiSandbox.h"

#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "tool/ScaleSim.h"
#include "ui/DigiForm/DigiForm.h"
#include "ui/ScalesForm/ScalesForm.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

std::string Today()
{
    const TLocalDateTime Now = LocalNow();
    char Text[16];
    std::snprintf(Text, sizeof Text, "%04d-%02d-%02d", Now.Year, Now.Month, Now.Day);
    return Text;
}

// Writes the file beside the folder first and moves it in whole, as a back office would.
bool DropFile(const std::filesystem::path& Folder, const std::string& Name,
              const std::string& Utf8Text, int CodePage)
{
    std::string Bytes;
    if (!EncodeCodePage(Utf8Text, CodePage, Bytes))
        return false;
    const auto Staging = Folder.parent_path() / ("staging-" + Name);
    {
        std::ofstream Out(Staging, std::ios::binary);
        Out << Bytes;
    }
    std::filesystem::rename(Staging, Folder / Name);
    return true;
}

/// `Count` articles named "Товар N".
std::string ManyArticles(int Count)
{
    std::string Text;
    for (int Plu = 1; Plu <= Count; ++Plu)
        Text += "A;" + std::to_string(Plu) + ";" + std::to_string(1000000 + Plu) +
                ";1,00;0;0;0;Товар " + std::to_string(Plu) + "\r\n";
    return Text;
}

/// A port on 127.0.0.1 that nothing listens on (a scale there is off) until a simulator starts
/// on it.
int FreePort()
{
    Tool::TScaleSim Probe;
    std::string Error;
    if (!Probe.Start({}, Error))
        return 0;
    const int Port = Probe.Port();
    Probe.Stop();
    return Port;
}

/// The row of the scales window's list that shows scale `Row` (rows sit under their make).
QTreeWidgetItem* ScalesRow(TfrmScales& Window, int Row)
{
    auto* List = Window.findChild<QTreeWidget*>(QStringLiteral("lvScales"));
    for (int G = 0; G < List->topLevelItemCount(); ++G)
        for (int I = 0; I < List->topLevelItem(G)->childCount(); ++I)
            if (List->topLevelItem(G)->child(I)->data(0, Qt::UserRole).toInt() == Row)
                return List->topLevelItem(G)->child(I);
    return nullptr;
}

/// The largest wait between two ticks of a 10 ms timer: how long the event loop was ever busy.
class TLoopWatch
{
public:
    TLoopWatch()
    {
        FTimer.setInterval(10);
        QObject::connect(&FTimer, &QTimer::timeout, [this] {
            FMaxGap = std::max(FMaxGap, FClock.restart());
            ++FTicks;
        });
        FClock.start();
        FTimer.start();
    }
    qint64 MaxGap() const { return FMaxGap; }
    int Ticks() const { return FTicks; }

private:
    QTimer FTimer;
    QElapsedTimer FClock;
    qint64 FMaxGap = 0;
    int FTicks = 0;
};

struct TRoad
{
    TUiSandbox Box;
    Tool::TScaleSim Sim;
    std::filesystem::path Watched;

    // One enabled DIGI scale on the simulator, code page 1251, every file (or no scale at all).
    bool Start(const char* ScaleMask = "*", bool WithScale = true)
    {
        return StartWith({}, ScaleMask, WithScale ? 1 : 0);
    }

    // The same scale answering each article after a few milliseconds, as a scale on a shop
    // network does, so a file takes seconds; `OffPort` adds "Весы 2" there, where nothing answers.
    bool StartSlow(int OffPort = 0)
    {
        Tool::TScaleSimOptions Slow;
        Slow.OnFrame = [](const Tool::TSimFrame&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(3));
        };
        Slow.KeepFrames = false;
        return StartWith(std::move(Slow), "*", 1, OffPort);
    }

private:
    bool StartWith(Tool::TScaleSimOptions Options, const char* ScaleMask, int ScaleCount,
                   int OffPort = 0)
    {
        std::string Error;
        if (!Sim.Start(std::move(Options), Error))
            return false;
        Watched = Box.Folder("Обмен");
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.RunWithWindows = false;
        Settings.WatchFolder = PathToUtf8(Watched);
        if (ScaleCount > 0)
            Settings.Scales.push_back(
                MakeScale("Весы 1", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", ScaleMask));
        if (OffPort > 0)
            Settings.Scales.push_back(
                MakeScale("Весы 2", "127.0.0.1", OffPort, TScaleKind::skDigi, "", "*"));
        for (TScaleConfig& Scale : Settings.Scales)
            Scale.FileCodePage = 1251;
        Settings.Save();
        return true;
    }
};

} // namespace

class TMainRoadTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void ADroppedFileIsSentMovedAndReported()
    {
        TRoad Road;
        QVERIFY(Road.Start());
        TfrmMain Window(Road.Box.Options());
        QSignalSpy Balloons(&Window, &TfrmMain::BalloonShown);

        QVERIFY(DropFile(Road.Watched, "prices.csv",
                         "A;101;2200101;123,45;0;0;5;Колбаса докторская\r\n"
                         "A;102;2200102;59,90;0;0;3;Хлеб бородинский\r\n"
                         "I;101;Свинина;соль\r\n",
                         1251));

        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 20000);
        const QRegularExpression Line(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  prices\\.csv \\| отправлено 2 PLU$"));
        QVERIFY2(Line.match(Window.Recent()[0]).hasMatch(),
                 qPrintable(Window.Recent()[0] + QString::fromStdString(JournalText())));
        QCOMPARE(Balloons.count(), 1);
        QCOMPARE(Balloons[0][0].toString(), QStringLiteral("Весы"));
        QCOMPARE(Balloons[0][1].toString(), QStringLiteral("Отправлено 2 PLU"));

        QVERIFY(!std::filesystem::exists(Road.Watched / "prices.csv"));
        QVERIFY(std::filesystem::exists(Road.Watched / "processed" / Today() / "prices.csv"));
        QCOMPARE(Road.Sim.FrameCount(), 2);
        const std::string Journal = JournalText();
        QVERIFY(Journal.find("ip=127.0.0.1") != std::string::npos);
        // The journal pane was refreshed after the file.
        const auto* Pane = Window.findChild<QPlainTextEdit*>(QStringLiteral("memLog"));
        QVERIFY(Pane->toPlainText().contains(QStringLiteral("ip=127.0.0.1")));
    }

    void AScaleAddedThroughTheWindowsReceivesTheNextFile()
    {
        TRoad Road;
        QVERIFY(Road.Start("*", false));
        TfrmMain Window(Road.Box.Options());
        QAction* Entry = Window.TrayMenu()->actions()[2];
        QCOMPARE(Entry->text(), QStringLiteral("Весы"));

        // Menu "Весы", "Добавить" > DIGI, the simulator's address and port typed, "Готово",
        // "Закрыть": no settings written by hand.
        const auto AddScale = [&](TfrmDigi& Dialog) {
            const auto Edit = [&](const char* Name) {
                return Dialog.findChild<QLineEdit*>(QString::fromLatin1(Name));
            };
            TypeText(Edit("edtName"), QStringLiteral("Весы 1"));
            TypeText(Edit("edtHost"), QStringLiteral("127.0.0.1"));
            TypeText(Edit("edtPort"), QString::number(Road.Sim.Port()));
            Dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
        };
        QString Status;
        QVERIFY(DriveModal<TfrmScales>(
            [&] { Entry->trigger(); },
            [&](TfrmScales& Scales) {
                auto* Add = Scales.findChild<QPushButton*>(QStringLiteral("btnAdd"));
                Add->click();
                auto* Menu = Scales.findChild<QMenu*>(QStringLiteral("FAddMenu"));
                QTRY_VERIFY(Menu->isVisible());
                QVERIFY(DriveModal<TfrmDigi>([&] { Menu->actions()[0]->trigger(); }, AddScale));
                Status = Scales.findChild<QLabel*>(QStringLiteral("lblStatus"))->text();
                Scales.findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
            }));
        QCOMPARE(Status, QStringLiteral("Весы добавлены"));

        TLoaderSettings Saved;
        Saved.Load();
        QCOMPARE(Saved.Scales.size(), std::size_t{1});
        QCOMPARE(Saved.Scales[0].Port, Road.Sim.Port());
        QVERIFY(Saved.Scales[0].Enabled);
        QVERIFY(Window.Watch() != nullptr);

        QVERIFY(DropFile(Road.Watched, "prices.csv",
                         "A;101;2200101;123,45;0;0;5;Колбаса докторская\r\n", 1251));
        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 20000);
        QVERIFY2(Window.Recent()[0].endsWith(QStringLiteral("prices.csv | отправлено 1 PLU")),
                 qPrintable(Window.Recent()[0] + QString::fromStdString(JournalText())));
        QCOMPARE(Road.Sim.FrameCount(), 1);
        QVERIFY(JournalText().find("| INFO | scales added") != std::string::npos);
    }

    void ARejectedFileGoesToErrorWithItsReasons()
    {
        TRoad Road;
        QVERIFY(Road.Start());
        TfrmMain Window(Road.Box.Options());
        QSignalSpy Balloons(&Window, &TfrmMain::BalloonShown);

        QVERIFY(DropFile(Road.Watched, "bad.csv", "A;101;;1,00;0;0;5;Сыр\r\nD;102\r\n", 1251));

        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 20000);
        QVERIFY(Window.Recent()[0].endsWith(QStringLiteral("  bad.csv | отклонён")));
        QCOMPARE(Balloons.count(), 1);
        QCOMPARE(Balloons[0][1].toString(), QStringLiteral("Файл отклонён: bad.csv"));
        QVERIFY(std::filesystem::exists(Road.Watched / "error" / "bad.csv"));
        const std::string Err = ReadFileBytes(Road.Watched / "error" / "bad.csv.err");
        QVERIFY2(Err.find("line 2: delete records are not sent") != std::string::npos, Err.c_str());
        QCOMPARE(Road.Sim.FrameCount(), 0);
    }

    void TheWindowsStayResponsiveWhileASlowScaleIsSentTo()
    {
        constexpr int Articles = 1200;
        TRoad Road;
        const int OffPort = FreePort();
        QVERIFY(OffPort > 0);
        QVERIFY(Road.StartSlow(OffPort));

        TfrmMain Window(Road.Box.Options());
        Window.ShowMainWindow();
        auto* Line = Window.findChild<QLabel*>(QStringLiteral("lblProgress"));
        auto* MainList = Window.findChild<QTreeWidget*>(QStringLiteral("lvScales"));
        QVERIFY(DropFile(Road.Watched, "prices.csv", ManyArticles(Articles), 1251));

        // The progress shows while the file is on its way.
        const QRegularExpression Tooltip(
            QStringLiteral("^Отправка prices\\.csv: 2 весов, (\\d+)/(\\d+)$"));
        QTRY_VERIFY_WITH_TIMEOUT(Tooltip.match(Window.Tray()->toolTip()).hasMatch() &&
                                     Tooltip.match(Window.Tray()->toolTip()).captured(1).toInt() >
                                         0,
                                 20000);
        const auto Sending = Tooltip.match(Window.Tray()->toolTip());
        QVERIFY(Sending.captured(1).toInt() < Articles);
        // The scale that is off may not have a count of its own.
        QVERIFY(Sending.captured(2).toInt() >= Articles);
        QVERIFY(!Line->isHidden());
        QVERIFY2(Line->text().startsWith(QStringLiteral("Отправка prices.csv — Весы 1: ")),
                 qPrintable(Line->text()));
        QVERIFY2(MainList->topLevelItem(0)->text(6).startsWith(QStringLiteral("отправка ")),
                 qPrintable(MainList->topLevelItem(0)->text(6)));

        // Meanwhile the scales window opens, its rows are picked and it closes, twice, while
        // the event loop keeps its 10 ms beat.
        TLoopWatch Loop;
        QElapsedTimer Upload;
        Upload.start();
        for (int Round = 0; Round < 2; ++Round) {
            bool ResendFollowsSelection = false;
            QString Progress;
            QVERIFY(DriveModal<TfrmScales>(
                [&] { Window.TrayMenu()->actions()[2]->trigger(); },
                [&](TfrmScales& Scales) {
                    auto* List = Scales.findChild<QTreeWidget*>(QStringLiteral("lvScales"));
                    auto* Resend = Scales.findChild<QPushButton*>(QStringLiteral("btnResend"));
                    const bool OffWithout = !Resend->isEnabled();
                    Progress = ScalesRow(Scales, 0)->text(6);
                    for (int Row : {0, 1, 0}) {
                        List->setCurrentItem(ScalesRow(Scales, Row));
                        QTest::qWait(60);
                    }
                    ResendFollowsSelection = OffWithout && Resend->isEnabled();
                    Scales.findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
                }));
            QVERIFY(ResendFollowsSelection);
            QVERIFY2(Progress.startsWith(QStringLiteral("отправка ")), qPrintable(Progress));
        }
        QVERIFY2(Road.Sim.FrameCount() < Articles,
                 "the upload ended before the clicks were through; nothing was measured");

        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 60000);
        const qint64 UploadMs = Upload.elapsed();
        QVERIFY2(Loop.MaxGap() < 500, qPrintable(QStringLiteral("the event loop stood still %1 ms "
                                                                "of %2 ms")
                                                     .arg(Loop.MaxGap())
                                                     .arg(UploadMs)));
        QVERIFY(Loop.Ticks() > 10);
        QCOMPARE(Road.Sim.FrameCount(), Articles);
        // One scale missed it: the file goes to "error" as always.
        QVERIFY(std::filesystem::exists(Road.Watched / "error" / "prices.csv"));
        QTRY_COMPARE(Window.Tray()->toolTip(), QStringLiteral("Плюмерия"));
        QVERIFY(Line->isHidden());

        // Each scale's delivery in the main window and the scales window; the scale that was
        // off gets the file on "Отправить снова" once it is on.
        const QRegularExpression Last(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d prices\\.csv$"));
        const QString Sent = QStringLiteral("отправлено, %1 PLU").arg(Articles);
        const QString Waiting = QStringLiteral("ждёт 1 файл (scale did not accept the connection)");
        QTRY_COMPARE(MainList->topLevelItem(0)->text(6), Sent);
        QCOMPARE(MainList->topLevelItem(1)->text(6), Waiting);
        QVERIFY(Last.match(MainList->topLevelItem(1)->text(5)).hasMatch());

        Tool::TScaleSim Back;
        Tool::TScaleSimOptions Same;
        Same.Port = OffPort;
        Same.KeepFrames = false;
        QStringList Before;
        QString After;
        QVERIFY(DriveModal<TfrmScales>(
            [&] { Window.TrayMenu()->actions()[2]->trigger(); },
            [&](TfrmScales& Scales) {
                for (int Row : {0, 1})
                    Before << ScalesRow(Scales, Row)->text(5) << ScalesRow(Scales, Row)->text(6);
                std::string StartError;
                QVERIFY2(Back.Start(Same, StartError), StartError.c_str());
                Scales.findChild<QTreeWidget*>(QStringLiteral("lvScales"))
                    ->setCurrentItem(ScalesRow(Scales, 1));
                Scales.findChild<QPushButton*>(QStringLiteral("btnResend"))->click();
                // The open window follows the delivery on its own.
                QTRY_COMPARE_WITH_TIMEOUT(ScalesRow(Scales, 1)->text(6), Sent, 30000);
                After = ScalesRow(Scales, 1)->text(6);
                Scales.findChild<QPushButton*>(QStringLiteral("btnClose"))->click();
            }));
        QCOMPARE(Before.size(), 4);
        QVERIFY2(Last.match(Before[0]).hasMatch(), qPrintable(Before[0]));
        QCOMPARE(Before[1], Sent);
        QVERIFY2(Last.match(Before[2]).hasMatch(), qPrintable(Before[2]));
        QCOMPARE(Before[3], Waiting);
        QCOMPARE(After, Sent);
        QCOMPARE(Back.FrameCount(), Articles);
        QCOMPARE(MainList->topLevelItem(1)->text(6), Sent);
        QVERIFY(JournalText().find("resent prices.csv to 127.0.0.1: 1200 PLU") !=
                std::string::npos);
    }

    void ASettingsChangeDuringASendLetsTheFileFinish()
    {
        constexpr int Articles = 600;
        TRoad Road;
        QVERIFY(Road.StartSlow());
        TfrmMain Window(Road.Box.Options());
        QVERIFY(DropFile(Road.Watched, "prices.csv", ManyArticles(Articles), 1251));
        QTRY_VERIFY_WITH_TIMEOUT(Road.Sim.FrameCount() > 10, 20000);

        // The scale edited in the scales window while the file is on its way.
        Window.Settings()->Scales[0].Model = "SM-100";
        Window.SettingsChanged();
        QVERIFY(Road.Sim.FrameCount() < Articles);

        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 60000);
        QVERIFY2(Window.Recent()[0].endsWith(QStringLiteral("prices.csv | отправлено 600 PLU")),
                 qPrintable(Window.Recent()[0]));
        // Sent once, on one connection: the change did not cut it short.
        QCOMPARE(Road.Sim.Connections(), 1);
        QCOMPARE(Road.Sim.FrameCount(), Articles);
        TLoaderSettings Saved;
        Saved.Load();
        QCOMPARE(Saved.Scales[0].Model, std::string("SM-100"));
    }

    void PausingOrQuittingDuringASendLeavesTheFileForItsNextTurn_data()
    {
        QTest::addColumn<bool>("Quit");
        QTest::newRow("pause") << false;
        QTest::newRow("quit") << true;
    }
    void PausingOrQuittingDuringASendLeavesTheFileForItsNextTurn()
    {
        QFETCH(bool, Quit);
        constexpr int Articles = 600;
        TRoad Road;
        QVERIFY(Road.StartSlow());
        TfrmMain Window(Road.Box.Options());
        QSignalSpy Ended(&Window, &TfrmMain::Ended);
        QVERIFY(DropFile(Road.Watched, "prices.csv", ManyArticles(Articles), 1251));
        QTRY_VERIFY_WITH_TIMEOUT(Road.Sim.FrameCount() > 10, 20000);

        if (Quit)
            Window.ExitApplication();
        else
            Window.TogglePause();
        // The exchange ended at an article, before the file was through; nothing was reported.
        QVERIFY(Road.Sim.WaitConnectionsClosed(1, 5000));
        const int Frames = Road.Sim.FrameCount();
        QVERIFY(Frames < Articles);
        QCOMPARE(Ended.count(), Quit ? 1 : 0);
        QTest::qWait(300);
        QVERIFY(Window.Recent().isEmpty());
        QCOMPARE(Road.Sim.FrameCount(), Frames);
        QVERIFY(std::filesystem::exists(Road.Watched / "prices.csv"));
        QVERIFY(!std::filesystem::exists(Road.Watched / "error"));
        QVERIFY(!std::filesystem::exists(Road.Watched / "processed"));
        if (Quit)
            return;

        // Its next turn comes with the watch.
        Window.TogglePause();
        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 60000);
        QVERIFY2(Window.Recent()[0].endsWith(QStringLiteral("prices.csv | отправлено 600 PLU")),
                 qPrintable(Window.Recent()[0]));
        QCOMPARE(Road.Sim.FrameCount(), Frames + Articles);
    }

    void APausedWatchLeavesDroppedFilesAlone()
    {
        TRoad Road;
        QVERIFY(Road.Start());
        TfrmMain Window(Road.Box.Options());
        Window.TogglePause();
        QVERIFY(DropFile(Road.Watched, "later.csv", "A;7;2200007;1,00;0;0;0;Чай\r\n", 1251));
        QTest::qWait(2500); // more than two scans of a running watch
        QVERIFY(Window.Recent().isEmpty());
        QVERIFY(std::filesystem::exists(Road.Watched / "later.csv"));

        Window.TogglePause();
        QTRY_VERIFY_WITH_TIMEOUT(Window.Recent().size() == 1, 20000);
        QVERIFY2(Window.Recent()[0].endsWith(QStringLiteral("later.csv | отправлено 1 PLU")),
                 qPrintable(Window.Recent()[0] + QString::fromStdString(JournalText())));
    }
};

QTEST_MAIN(TMainRoadTest)
#include "MainRoadTest.moc"
