// The whole road inside the tray program: a PLU file dropped into the watched folder is found by
// the watch, processed by the main window, sent to a simulated DIGI scale on loopback, moved to
// "processed" and reported in the recent list and a balloon.

#include "UiSandbox.h"

#include "core/Settings/Settings.h"
#include "core/Text/Text.h"
#include "platform/Clock.h"
#include "platform/Environment.h"
#include "tool/ScaleSim.h"
#include "ui/DigiForm/DigiForm.h"
#include "ui/ScalesForm/ScalesForm.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <cstdio>
#include <fstream>

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

struct TRoad
{
    TUiSandbox Box;
    Tool::TScaleSim Sim;
    std::filesystem::path Watched;

    // One enabled DIGI scale on the simulator, code page 1251, every file (or no scale at all).
    bool Start(const char* ScaleMask = "*", bool WithScale = true)
    {
        std::string Error;
        if (!Sim.Start({}, Error))
            return false;
        Watched = Box.Folder("Обмен");
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.RunWithWindows = false;
        Settings.WatchFolder = PathToUtf8(Watched);
        TScaleConfig Scale;
        Scale.Enabled = true;
        Scale.Name = "Весы 1";
        Scale.Host = "127.0.0.1";
        Scale.Port = Sim.Port();
        Scale.Kind = TScaleKind::skDigi;
        Scale.FileCodePage = 1251;
        Scale.FileMask = ScaleMask;
        if (WithScale)
            Settings.Scales = {Scale};
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
