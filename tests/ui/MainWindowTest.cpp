// The main window started for real inside a sandbox: the first start, the scale list, hiding and
// ending, pause against settings changes, the recent-files list, the journal pane, and the
// addresses its buttons open.

#include "UiSandbox.h"

#include "core/Delivery/DeliveryStatus.h"
#include "core/Delivery/Spool.h"
#include "core/FolderWatch/FolderWatch.h"
#include "core/Journal/Journal.h"
#include "core/Settings/Settings.h"
#include "platform/Autostart.h"
#include "platform/Environment.h"
#include "platform/TrayClick.h"
#include "support/Wine.h"
#include "ui/Common/MessageBox.h"
#include "ui/Icons/Icons.h"

#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTreeWidget>

#include <fstream>
#include <memory>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

QString Q(const std::string& Utf8)
{
    return QString::fromStdString(Utf8);
}

void WriteSettings(const TLoaderSettings& Settings)
{
    Settings.Save();
}

template <typename T> T* Find(const TfrmMain& Window, const char* Name)
{
    return Window.findChild<T*>(QString::fromLatin1(Name));
}

QImage IconImage(const QIcon& Icon)
{
    return Icon.pixmap(QSize(20, 20))
        .toImage()
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

class TMainWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void FirstStartWritesTheDefaultsAndJournalsTheStart()
    {
        TUiSandbox Box;
        QVERIFY(!std::filesystem::exists(Box.SettingsFile()));
        TfrmMain Window(Box.Options());
        QVERIFY(!Window.EndRequested());

        QVERIFY(std::filesystem::exists(Box.SettingsFile()));
        TLoaderSettings Loaded;
        Loaded.Load();
        QVERIFY(Loaded == TLoaderSettings());
        QVERIFY(JournalText().find("| INFO | started 1.0.3\r\n") != std::string::npos ||
                JournalText().find("| INFO | started 1.0.3\n") != std::string::npos);
        // The update check runs once, after the start entry, with the default setting (on).
        QCOMPARE(Box.UpdateChecks, std::vector<bool>{true});
        QCOMPARE(Box.StartedBeforeCheck, std::vector<bool>{true});
        // Start-with-the-session is on by default, so the first start writes the entry.
        QVERIFY(ReadAutostartCommand().has_value());

        QVERIFY(!Window.isVisible()); // hidden until asked for
        QCOMPARE(ShownTitle(Window), QStringLiteral("Плюмерия"));
        QVERIFY(Window.Tray() != nullptr);
        QCOMPARE(Window.Tray()->toolTip(), QStringLiteral("Плюмерия"));
        QVERIFY(Window.Watch() != nullptr);
    }

    void AnExistingSettingsFileIsReadNotRewritten()
    {
        TUiSandbox Box;
        std::filesystem::create_directories(Box.DataDir());
        const std::string Ini =
            "[General]\r\nAutoUpdate=0\r\nRunWithWindows=0\r\nLogLevel=errors\r\n"
            "Unknown=kept\r\n";
        {
            std::ofstream Out(Box.SettingsFile(), std::ios::binary);
            Out << Ini;
        }
        TfrmMain Window(Box.Options());
        QCOMPARE(ReadFileBytes(Box.SettingsFile()), Ini);
        QCOMPARE(Box.UpdateChecks, std::vector<bool>{false});
        QVERIFY(!ReadAutostartCommand().has_value());
        // At the errors level the start entry is not written.
        QVERIFY(JournalText().find("started 1.0.3") == std::string::npos);
    }

    // The data folder falls back to the program's own folder as it always did, but the user is
    // told: a warning icon, and its tooltip and a balloon name the folder that could not be used.
    void ADataFolderThatCannotBeUsedIsShownInTheTray()
    {
        TUiSandbox Box;
        const std::filesystem::path Blocker = Box.Folder("blocked") / "not-a-folder";
        std::ofstream(Blocker) << "x";
        const std::filesystem::path Own =
            std::filesystem::path(QCoreApplication::applicationDirPath().toStdU16String());
        const bool HadSettings = std::filesystem::exists(Own / "settings.ini");
        const bool HadLogs = std::filesystem::exists(Own / "logs");
        {
            TScopedEnv Blocked("ProgramData", PathToUtf8(Blocker / "base"));
            ResetJournal();
            TfrmMain Window(Box.Options());
            QVERIFY(!Window.EndRequested());
            QVERIFY(Window.Tray() != nullptr);
            const QString Tip = Window.Tray()->toolTip();
            QVERIFY2(Tip.startsWith(QStringLiteral("Плюмерия\nПапка данных недоступна (")),
                     qPrintable(Tip));
            QVERIFY2(Tip.contains(Q(PathToUtf8(Blocker / "base" / "PlumeriaBridge"))),
                     qPrintable(Tip));
            QVERIFY2(Tip.contains(QDir::toNativeSeparators(QCoreApplication::applicationDirPath())),
                     qPrintable(Tip));
            QVERIFY(JournalText().find("| ERROR | data folder ") != std::string::npos);
        }
        // What the fallback wrote beside the test program goes again.
        std::error_code Ignored;
        if (!HadSettings)
            std::filesystem::remove(Own / "settings.ini", Ignored);
        if (!HadLogs)
            std::filesystem::remove_all(Own / "logs", Ignored);
        ResetJournal();
    }

    void AnUpdateThatTookOverEndsTheStart()
    {
        TUiSandbox Box;
        Box.UpdateTookOver = true;
        TfrmMain Window(Box.Options());
        QVERIFY(Window.EndRequested());
        QVERIFY(Window.Tray() == nullptr);
        QVERIFY(Window.Watch() == nullptr);
    }

    void ControlsStandWhereDesigned_data()
    {
        QTest::addColumn<QString>("Name");
        QTest::addColumn<QString>("Caption");
        QTest::addColumn<QRect>("Box");
        const auto Row = [](const char* Name, const char* Caption, QRect Box) {
            QTest::newRow(Name) << QString::fromLatin1(Name) << QString::fromUtf8(Caption) << Box;
        };
        Row("lblFiles", "Последние файлы", QRect(16, 12, -1, -1));
        Row("lbFiles", "", QRect(16, 32, 728, 120));
        Row("lblScales", "Весы", QRect(16, 160, -1, -1));
        Row("lvScales", "", QRect(16, 180, 728, 120));
        Row("lblLog", "Журнал", QRect(16, 308, -1, -1));
        Row("memLog", "", QRect(16, 328, 728, 140));
        Row("btnGeneral", "Основные", QRect(16, 480, 130, 27));
        Row("btnScales", "Весы", QRect(154, 480, 110, 27));
        Row("btnRefresh", "Обновить", QRect(272, 480, 120, 27));
        Row("btnOpenLog", "Открыть журнал", QRect(400, 480, 170, 27));
        Row("btnHelp", "Справка", QRect(582, 480, 130, 27));
    }

    void ControlsStandWhereDesigned()
    {
        QFETCH(QString, Name);
        QFETCH(QString, Caption);
        QFETCH(QRect, Box);
        TUiSandbox Box_;
        TfrmMain Window(Box_.Options());
        QCOMPARE(Window.size(), QSize(900, 520));
        QWidget* Control = Window.findChild<QWidget*>(Name);
        QVERIFY(Control != nullptr);
        QCOMPARE(Control->pos(), Box.topLeft());
        if (Box.width() > 0) {
            QCOMPARE(Control->size(), Box.size());
        } else {
            // A label is as large as its caption needs.
            QVERIFY(Control->width() >= Control->sizeHint().width());
        }
        if (auto* Label = qobject_cast<QLabel*>(Control))
            QCOMPARE(Label->text(), Caption);
        if (auto* Button = qobject_cast<QPushButton*>(Control)) {
            QCOMPARE(Button->text(), Caption);
            // The caption and its image fit the button.
            QVERIFY2(Button->sizeHint().width() <= Button->width(),
                     qPrintable(QString::number(Button->sizeHint().width())));
        }
    }

    void ButtonsCarryTheirImages()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        const struct
        {
            const char* Name;
            int Image;
        } Cases[] = {{"btnGeneral", siGear},
                     {"btnScales", siScales},
                     {"btnRefresh", siRefresh},
                     {"btnOpenLog", siJournal},
                     {"btnHelp", siQuestion}};
        for (const auto& Case : Cases) {
            auto* Button = Find<QPushButton>(Window, Case.Name);
            QVERIFY(Button);
            QCOMPARE(IconImage(Button->icon()), SharedImages().Image(Case.Image));
        }
        QCOMPARE(Find<QPushButton>(Window, "btnHelp")->toolTip(), QStringLiteral("Справка"));
    }

    void AnchoredControlsFollowTheWindow()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        Window.ShowMainWindow();
        Window.resize(1000, 600);
        QCOMPARE(Find<QListWidget>(Window, "lbFiles")->geometry(), QRect(16, 32, 828, 120));
        QCOMPARE(Find<QTreeWidget>(Window, "lvScales")->geometry(), QRect(16, 180, 828, 120));
        QCOMPARE(Find<QPlainTextEdit>(Window, "memLog")->geometry(), QRect(16, 328, 828, 220));
        QCOMPARE(Find<QPushButton>(Window, "btnGeneral")->geometry(), QRect(16, 560, 130, 27));
        QCOMPARE(Find<QPushButton>(Window, "btnHelp")->geometry(), QRect(582, 560, 130, 27));
        QCOMPARE(Find<QLabel>(Window, "lblLog")->pos(), QPoint(16, 308));
    }

    void NoTwoControlsOverlapFromTheDesignedToTheSmallestSize()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        Window.ShowMainWindow();
        const char* Names[] = {"lblFiles",  "lbFiles",    "lblScales",  "lblProgress",
                               "lvScales",  "lblLog",     "memLog",     "btnGeneral",
                               "btnScales", "btnRefresh", "btnOpenLog", "btnHelp"};
        // The line of a file being sent has its place whether or not one is sent.
        TSendProgress Sending;
        Sending.FileName = "prices.csv";
        Sending.Scales = {Part("127.0.0.1", 2001, "Весы 1", 1200, 5000)};
        Window.ProgressChanged(Sending);
        for (const QSize Size : {QSize(900, 520), Window.minimumSize(), QSize(1300, 900)}) {
            Window.resize(Size);
            QCOMPARE(Window.size(), Size);
            for (std::size_t A = 0; A < std::size(Names); ++A) {
                const QRect First = Find<QWidget>(Window, Names[A])->geometry();
                QVERIFY(QRect(QPoint(0, 0), Size).contains(First));
                for (std::size_t B = A + 1; B < std::size(Names); ++B) {
                    const QRect Second = Find<QWidget>(Window, Names[B])->geometry();
                    QVERIFY2(!First.intersects(Second),
                             qPrintable(QStringLiteral("%1 and %2 at %3x%4")
                                            .arg(QString::fromLatin1(Names[A]),
                                                 QString::fromLatin1(Names[B]))
                                            .arg(Size.width())
                                            .arg(Size.height())));
                }
            }
        }
    }

    void TabOrderFollowsTheDesign()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        const QStringList Expected = {QStringLiteral("lbFiles"),    QStringLiteral("lvScales"),
                                      QStringLiteral("memLog"),     QStringLiteral("btnGeneral"),
                                      QStringLiteral("btnRefresh"), QStringLiteral("btnOpenLog"),
                                      QStringLiteral("btnScales"),  QStringLiteral("btnHelp")};
        QStringList Seen;
        QWidget* Current = Find<QWidget>(Window, "lbFiles");
        for (int Step = 0; Step < 200 && Seen.size() < Expected.size(); ++Step) {
            if (Expected.contains(Current->objectName()) && !Seen.contains(Current->objectName()))
                Seen << Current->objectName();
            Current = Current->nextInFocusChain();
        }
        QCOMPARE(Seen, Expected);
    }

    void TheScaleListShowsTheConfiguredScalesInTheirColumns()
    {
        TUiSandbox Box;
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.Scales = {
            MakeScale("Весы 1", "10.0.0.5", 2005, TScaleKind::skDigi, "SM-100", "*"),
            MakeScale("Касса", "192.168.1.20", 8111, TScaleKind::skCas, "CL5000", "cas*.csv"),
            MakeScale("", "scale.local", 0, TScaleKind::skMer, "", "*.txt;*.csv")};
        WriteSettings(Settings);
        TfrmMain Window(Box.Options());
        auto* List = Find<QTreeWidget>(Window, "lvScales");
        // The five designed columns, then what each scale last got.
        QCOMPARE(List->columnCount(), 7);
        const QStringList Headers = {
            QStringLiteral("Имя"),      QStringLiteral("Тип"),
            QStringLiteral("Адрес"),    QStringLiteral("Модель"),
            QStringLiteral("Маска"),    QStringLiteral("Последняя отправка"),
            QStringLiteral("Результат")};
        const int Widths[] = {160, 120, 180, 110, 140, 200, 200};
        for (int I = 0; I < 7; ++I) {
            QCOMPARE(List->headerItem()->text(I), Headers[I]);
            QCOMPARE(List->columnWidth(I), Widths[I]);
        }
        QCOMPARE(List->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(List->editTriggers(), QAbstractItemView::NoEditTriggers);
        const QStringList Rows[] = {
            {QStringLiteral("Весы 1"), QStringLiteral("DIGI"), QStringLiteral("10.0.0.5:2005"),
             QStringLiteral("SM-100"), QStringLiteral("*")},
            {QStringLiteral("Касса"), QStringLiteral("CAS"), QStringLiteral("192.168.1.20:8111"),
             QStringLiteral("CL5000"), QStringLiteral("cas*.csv")},
            // No name: the host stands in for it.
            {QStringLiteral("scale.local"), QStringLiteral("M-ER"), QStringLiteral("scale.local:0"),
             QString(), QStringLiteral("*.txt;*.csv")}};
        QCOMPARE(List->topLevelItemCount(), 3);
        for (int R = 0; R < 3; ++R) {
            for (int C = 0; C < 5; ++C)
                QCOMPARE(List->topLevelItem(R)->text(C), Rows[R][C]);
            // Nothing was given to these scales yet.
            QCOMPARE(List->topLevelItem(R)->text(5), QString());
            QCOMPARE(List->topLevelItem(R)->text(6), QString());
            QCOMPARE(IconImage(List->topLevelItem(R)->icon(0)), SharedImages().Image(siScales));
        }
        Window.ShowMainWindow();
        for (int C = 0; C < 5; ++C)
            QVERIFY2(DrawsGridLines(List, List->topLevelItem(1), C),
                     qPrintable(QString::number(C)));

        // A change of the settings shows after the refresh that follows it.
        Window.Settings()->Scales.erase(Window.Settings()->Scales.begin());
        Window.SettingsChanged();
        QCOMPARE(List->topLevelItemCount(), 2);
        QCOMPARE(List->topLevelItem(0)->text(0), QStringLiteral("Касса"));
    }

    void TheScaleListShowsWhatEachScaleLastGot()
    {
        TUiSandbox Box;
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.WatchFolder = PathToUtf8(Box.Folder("watched"));
        Settings.Scales = {
            MakeScale("Весы 1", "127.0.0.1", 2001, TScaleKind::skDigi, "", "*"),
            MakeScale("Весы 2", "127.0.0.2", 0, TScaleKind::skDigi, "", "*"), // port 2002
            MakeScale("Весы 3", "127.0.0.3", 2003, TScaleKind::skDigi, "", "*")};
        WriteSettings(Settings);
        // What an earlier run of the program kept: one scale got the file, one missed it.
        {
            TDeliveryStatus Status(Box.DataDir() / "delivery.ini");
            Status.Record("127.0.0.1", 2001, "Весы 1", "prices.csv", "2026-12-11 10:15:02", 12,
                          TDeliveryResult::drSent, "");
            Status.Record("127.0.0.2", 2002, "Весы 2", "цены.csv", "2026-12-11 10:16:00", 12,
                          TDeliveryResult::drFailed, "scale did not accept the connection");
            std::string Error;
            QVERIFY2(Status.Save(Error), Error.c_str());
            TSpool Spool(Box.DataDir() / "spool");
            QVERIFY2(Spool.Add("127.0.0.2", 2002, "цены.csv", "A;1;;1,00;0;0;0;Чай\r\n", Error),
                     Error.c_str());
        }
        TfrmMain Window(Box.Options());
        auto* List = Find<QTreeWidget>(Window, "lvScales");
        const QString Expected[][2] = {
            {QStringLiteral("2026-12-11 10:15:02 prices.csv"),
             QStringLiteral("отправлено, 12 PLU")},
            {QStringLiteral("2026-12-11 10:16:00 цены.csv"),
             QStringLiteral("ждёт 1 файл (scale did not accept the connection)")},
            {QString(), QString()}};
        QCOMPARE(List->topLevelItemCount(), 3);
        for (int R = 0; R < 3; ++R) {
            QCOMPARE(List->topLevelItem(R)->text(5), Expected[R][0]);
            QCOMPARE(List->topLevelItem(R)->text(6), Expected[R][1]);
            // Each text fits its column.
            for (int C = 5; C < 7; ++C)
                QVERIFY2(List->fontMetrics().horizontalAdvance(List->topLevelItem(R)->text(C)) <
                             List->columnWidth(C),
                         qPrintable(List->topLevelItem(R)->text(C)));
        }
    }

    void ScalesThatSettingsCannotNameKeepTheirDeliveryRecords_data()
    {
        QTest::addColumn<bool>("Readable");
        QTest::newRow("settings without the scale") << true;
        QTest::newRow("settings that cannot be read") << false;
    }
    void ScalesThatSettingsCannotNameKeepTheirDeliveryRecords()
    {
        QFETCH(bool, Readable);
        TUiSandbox Box;
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.RunWithWindows = false;
        WriteSettings(Settings); // no scales
        std::string Error;
        {
            TDeliveryStatus Status(Box.DataDir() / "delivery.ini");
            Status.Record("127.0.0.9", 2009, "Весы 9", "prices.csv", "2026-12-11 10:15:02", 3,
                          TDeliveryResult::drFailed, "scale did not accept the connection");
            QVERIFY2(Status.Save(Error), Error.c_str());
            TSpool Spool(Box.DataDir() / "spool");
            QVERIFY2(Spool.Add("127.0.0.9", 2009, "prices.csv", "A;1;;1,00;0;0;0;Чай\r\n", Error),
                     Error.c_str());
        }
        const std::filesystem::path Aside = Box.Folder("aside") / "settings.ini";
        if (!Readable) {
            std::filesystem::rename(Box.SettingsFile(), Aside);
            std::filesystem::create_directory(Box.SettingsFile());
        }
        {
            TfrmMain Window(Box.Options());
            // A change saved (or refused) later tells the same.
            Window.Settings()->FileMask = "*.plu";
            Window.SettingsChanged();
        }
        TDeliveryStatus Kept(Box.DataDir() / "delivery.ini");
        QVERIFY2(Kept.Load(Error), Error.c_str());
        const bool Known = Kept.Find("127.0.0.9", 2009) != nullptr;
        const std::size_t Waiting = TSpool(Box.DataDir() / "spool").Count("127.0.0.9", 2009);
        // Settings that were read and name no such scale drop it; unread ones say nothing.
        QCOMPARE(Known, !Readable);
        QCOMPARE(Waiting, Readable ? std::size_t(0) : std::size_t(1));
    }

    void TheFileBeingSentShowsBesideTheScalesAndInTheTooltip()
    {
        TUiSandbox Box;
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.WatchFolder = PathToUtf8(Box.Folder("watched"));
        Settings.Scales = {MakeScale("Весы 1", "127.0.0.1", 2001, TScaleKind::skDigi, "", "*"),
                           MakeScale("", "127.0.0.2", 0, TScaleKind::skDigi, "", "*"),
                           MakeScale("Весы 3", "127.0.0.3", 2003, TScaleKind::skDigi, "", "*")};
        WriteSettings(Settings);
        TfrmMain Window(Box.Options());
        Window.ShowMainWindow();
        auto* Line = Find<QLabel>(Window, "lblProgress");
        auto* List = Find<QTreeWidget>(Window, "lvScales");
        QVERIFY(Line->isHidden());

        TSendProgress Progress;
        Progress.FileName = "prices.csv";
        Progress.Scales = {Part("127.0.0.1", 2001, "Весы 1  127.0.0.1", 700, 2000),
                           Part("127.0.0.2", 2002, "127.0.0.2", 500, 2000),
                           Part("127.0.0.3", 2003, "Весы 3  127.0.0.3", 0, 1000)};
        Window.ProgressChanged(Progress);
        QCOMPARE(Window.Tray()->toolTip(),
                 QStringLiteral("Отправка prices.csv: 3 весов, 1200/5000"));
        QVERIFY(!Line->isHidden());
        QCOMPARE(Line->text(), QStringLiteral("Отправка prices.csv — Весы 1: 700/2000, "
                                              "127.0.0.2: 500/2000, Весы 3: 0/1000"));
        QCOMPARE(List->topLevelItem(0)->text(6), QStringLiteral("отправка 700/2000"));
        QCOMPARE(List->topLevelItem(1)->text(6), QStringLiteral("отправка 500/2000"));
        QCOMPARE(List->topLevelItem(2)->text(6), QStringLiteral("отправка 0/1000"));

        // Where the line has no room for every scale, the sums stand in for them.
        Window.resize(Window.minimumSize());
        Progress.FileName = "цены_колбасы_и_сыры_весовые.csv";
        Window.ProgressChanged(Progress);
        QCOMPARE(Line->text(),
                 QStringLiteral("Отправка цены_колбасы_и_сыры_весовые.csv: 3 весов, 1200/5000"));
        QVERIFY(Line->sizeHint().width() <= Line->width());
        QVERIFY(Line->toolTip().contains(QStringLiteral("127.0.0.2: 500/2000")));

        Window.ProgressChanged({});
        QVERIFY(Line->isHidden());
        QCOMPARE(Window.Tray()->toolTip(), QStringLiteral("Плюмерия"));
        QCOMPARE(List->topLevelItem(0)->text(6), QString());
    }

    void ClosingHidesAndOnlyTheExitEntryEnds()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options(true));
        QSignalSpy Ended(&Window, &TfrmMain::Ended);
        Window.ShowMainWindow();
        QVERIFY(Window.isVisible());
        QVERIFY(!Window.close());
        QVERIFY(!Window.isVisible());
        QCOMPARE(Ended.count(), 0);
        QVERIFY(Window.Watch() != nullptr); // still watching

        // A double click on the icon brings it back.
        Q_EMIT Window.Tray()->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(Window.isVisible());
        QVERIFY(Window.close() == false);
        // StatusNotifier desktops send a single activation only: on Linux that opens it too.
#ifdef Q_OS_LINUX
        QVERIFY(TraySingleClickOpens());
#endif
        Q_EMIT Window.Tray()->activated(QSystemTrayIcon::Trigger);
        QCOMPARE(Window.isVisible(), TraySingleClickOpens());
        QVERIFY(Window.close() == false);
        // The context menu's own activation never opens the window.
        Q_EMIT Window.Tray()->activated(QSystemTrayIcon::Context);
        QVERIFY(!Window.isVisible());

        QAction* Exit = Window.TrayMenu()->actions().constLast();
        QCOMPARE(Exit->text(), QStringLiteral("Выход"));
        Exit->trigger();
        QCOMPARE(Ended.count(), 1);
    }

    void WithoutANotificationAreaTheWindowShowsAndOnlyMinimises()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options(false));
        QSignalSpy Ended(&Window, &TfrmMain::Ended);
        QVERIFY(Window.isVisible());
        QVERIFY(!Window.close());
        QVERIFY(Window.isVisible());
        QVERIFY(Window.isMinimized());
        QCOMPARE(Ended.count(), 0);
        Window.ShowMainWindow();
        QVERIFY(!Window.isMinimized());
        // The notification menu is reachable from the window itself.
        QCOMPARE(Window.contextMenuPolicy(), Qt::CustomContextMenu);
        Window.ExitApplication();
        QCOMPARE(Ended.count(), 1);
    }

    void TheMenuHasItsEntriesInOrder()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        const QList<QAction*> Actions = Window.TrayMenu()->actions();
        const struct
        {
            const char* Caption;
            int Image;
        } Expected[] = {
            {"Статус", siInformation}, {"Основные", siGear},          {"Весы", siScales},
            {"Справка", siQuestion},   {"Открыть журнал", siJournal}, {"Пауза", siPause},
            {"Выход", siExitMenu}};
        QCOMPARE(Actions.size(), qsizetype(std::size(Expected)));
        for (std::size_t I = 0; I < std::size(Expected); ++I) {
            QCOMPARE(Actions[qsizetype(I)]->text(), QString::fromUtf8(Expected[I].Caption));
            QCOMPARE(IconImage(Actions[qsizetype(I)]->icon()),
                     SharedImages().Image(Expected[I].Image));
        }
        QCOMPARE(Window.PauseItem(), Actions[5]);
    }

    void PauseStopsTheWatchAndASettingsChangeWhilePausedKeepsItStopped()
    {
        TUiSandbox Box;
        const auto First = Box.Folder("first");
        const auto Second = Box.Folder("second");
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.WatchFolder = "  " + PathToUtf8(First) + " ";
        WriteSettings(Settings);
        TfrmMain Window(Box.Options());
        QSignalSpy Balloons(&Window, &TfrmMain::BalloonShown);
        QVERIFY(Window.Watch() != nullptr);
        QCOMPARE(Q(Window.Watch()->Directory()), Q(PathToUtf8(First))); // trimmed
        QCOMPARE(Q(Window.Watch()->Mask()), QStringLiteral("*.csv;*.txt"));

        Window.PauseItem()->trigger();
        QVERIFY(Window.Paused());
        QVERIFY(Window.Watch() == nullptr);
        QCOMPARE(Window.PauseItem()->text(), QStringLiteral("Продолжить"));
        QCOMPARE(IconImage(Window.PauseItem()->icon()), SharedImages().Image(siPlay));
        // The notification area shows the pause too: in the tooltip, and a changed icon.
        const QImage Running = Window.windowIcon().pixmap(32, 32).toImage();
        QCOMPARE(Window.Tray()->toolTip(), QStringLiteral("Плюмерия\nНаблюдение приостановлено"));
        QVERIFY(Window.Tray()->icon().pixmap(32, 32).toImage() != Running);
        QCOMPARE(Balloons.count(), 1);
        QCOMPARE(Balloons[0][0].toString(), QStringLiteral("Весы"));
        QCOMPARE(Balloons[0][1].toString(), QStringLiteral("Наблюдение приостановлено"));
        QVERIFY(JournalText().find("| INFO | watch paused") != std::string::npos);

        Window.Settings()->WatchFolder = PathToUtf8(Second);
        Window.Settings()->FileMask = "*.plu";
        Window.SettingsChanged();
        QVERIFY(Window.Watch() == nullptr);
        TLoaderSettings Saved;
        Saved.Load();
        QCOMPARE(Q(Saved.WatchFolder), Q(PathToUtf8(Second)));

        Window.PauseItem()->trigger();
        QVERIFY(!Window.Paused());
        QVERIFY(Window.Watch() != nullptr);
        QCOMPARE(Q(Window.Watch()->Directory()), Q(PathToUtf8(Second)));
        QCOMPARE(Q(Window.Watch()->Mask()), QStringLiteral("*.plu"));
        QCOMPARE(Window.PauseItem()->text(), QStringLiteral("Пауза"));
        QCOMPARE(IconImage(Window.PauseItem()->icon()), SharedImages().Image(siPause));
        QVERIFY(JournalText().find("| INFO | watch resumed") != std::string::npos);
        QCOMPARE(Window.Tray()->toolTip(), QStringLiteral("Плюмерия"));
        QVERIFY(Window.Tray()->icon().pixmap(32, 32).toImage() == Running);
        QCOMPARE(Balloons.count(), 1); // resuming says nothing
    }

    void ASettingsFileThatCannotBeWrittenIsReportedAndWatchingGoesOn()
    {
        TUiSandbox Box;
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.WatchFolder = PathToUtf8(Box.Folder("watched"));
        WriteSettings(Settings);
        TfrmMain Window(Box.Options());
        QSignalSpy Balloons(&Window, &TfrmMain::BalloonShown);
        // A folder where the file should be: no rights trick, so it holds for any user.
        std::filesystem::remove(Box.SettingsFile());
        std::filesystem::create_directory(Box.SettingsFile());
        Window.Settings()->FileMask = "*.plu";
        Window.SettingsChanged();
        QVERIFY(JournalText().find("| ERROR | cannot save settings: ") != std::string::npos);
        QCOMPARE(Balloons.count(), 1);
        QCOMPARE(Balloons[0][1].toString(), QStringLiteral("Настройки не сохранены"));
        QVERIFY(Window.Watch() != nullptr);
        QCOMPARE(Q(Window.Watch()->Mask()), QStringLiteral("*.plu"));
    }

    void SettingsUnreadableAtStartAreNeverSavedOver()
    {
        TUiSandbox Box;
        TLoaderSettings Users;
        Users.AutoUpdate = false;
        Users.RunWithWindows = false;
        Users.Scales = {MakeScale("Весы 1", "127.0.0.1", 2001, TScaleKind::skDigi, "SM", "*"),
                        MakeScale("Весы 2", "127.0.0.2", 2002, TScaleKind::skCas, "", "*.csv")};
        WriteSettings(Users);
        const std::string Original = ReadFileBytes(Box.SettingsFile());
        const std::filesystem::path Aside = Box.Folder("aside") / "settings.ini";
        std::filesystem::rename(Box.SettingsFile(), Aside);
        std::filesystem::create_directory(Box.SettingsFile()); // there, but not readable
        // The user's own start entry, which the defaults (on) would otherwise rewrite.
        QVERIFY(!ReadAutostartCommand().has_value());

        TfrmMain Window(Box.Options());
        QVERIFY(!Window.EndRequested());
        QVERIFY(JournalText().find("| ERROR | cannot read settings: ") != std::string::npos);
        QVERIFY(!ReadAutostartCommand().has_value());

        std::filesystem::remove(Box.SettingsFile());
        std::filesystem::rename(Aside, Box.SettingsFile());
        QSignalSpy Balloons(&Window, &TfrmMain::BalloonShown);
        Window.Settings()->FileMask = "*.plu";
        Window.SettingsChanged();
        QCOMPARE(Balloons.count(), 1);
        QCOMPARE(Balloons[0][1].toString(), QStringLiteral("Настройки не сохранены"));
        QCOMPARE(ReadFileBytes(Box.SettingsFile()), Original);
        QVERIFY(!ReadAutostartCommand().has_value());
        TLoaderSettings Loaded;
        QVERIFY(Loaded.Load());
        QVERIFY(Loaded == Users);
    }

    void TheRecentListKeepsFiftyLinesNewestFirst()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        for (int I = 0; I < 60; ++I)
            Window.AddRecent("prices" + std::to_string(I) + ".csv | отправлено 3 PLU");
        QCOMPARE(Window.Recent().size(), 50);
        const QRegularExpression Line(
            QStringLiteral("^\\d\\d:\\d\\d:\\d\\d  prices(\\d+)\\.csv \\| отправлено 3 PLU$"));
        for (int I = 0; I < 50; ++I) {
            const auto Match = Line.match(Window.Recent()[I]);
            QVERIFY2(Match.hasMatch(), qPrintable(Window.Recent()[I]));
            QCOMPARE(Match.captured(1).toInt(), 59 - I);
        }
        auto* List = Find<QListWidget>(Window, "lbFiles");
        QCOMPARE(List->count(), 50);
        for (int I = 0; I < 50; ++I)
            QCOMPARE(List->item(I)->text(), Window.Recent()[I]);
        QVERIFY(List->item(0)->sizeHint().height() >= 15);
    }

    void TheJournalPaneShowsTheLastTwoHundredLines()
    {
        TUiSandbox Box;
        // A watched folder that exists, so the watch thread has nothing to journal meanwhile.
        TLoaderSettings Settings;
        Settings.AutoUpdate = false;
        Settings.WatchFolder = PathToUtf8(Box.Folder("watched"));
        WriteSettings(Settings);
        TfrmMain Window(Box.Options());
        for (int I = 0; I < 250; ++I)
            LogInfo("line " + std::to_string(I));
        auto* Pane = Find<QPlainTextEdit>(Window, "memLog");
        QVERIFY(Pane->toPlainText().indexOf(QStringLiteral("line 0")) < 0);
        Find<QPushButton>(Window, "btnRefresh")->click();
        const QStringList Lines = Pane->toPlainText().split(QLatin1Char('\n'));
        QCOMPARE(Lines.size(), 200);
        QVERIFY(Lines.constFirst().endsWith(QStringLiteral("| INFO | line 50")));
        QVERIFY(Lines.constLast().endsWith(QStringLiteral("| INFO | line 249")));
        QVERIFY(!Pane->toPlainText().contains(QLatin1Char('\r')));
        QVERIFY(Pane->isReadOnly());
    }

    void OpenJournalOpensTheFileOrElseItsFolder()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        const std::filesystem::path Log = LogFilePath();
        QVERIFY(std::filesystem::exists(Log));
        Find<QPushButton>(Window, "btnOpenLog")->click();
        std::filesystem::remove(Log);
        if (RunningUnderWine() && std::filesystem::exists(Log))
            QSKIP("Wine still shows the removed journal file while a handle on it is open");
        Window.TrayMenu()->actions()[4]->trigger();
        QCOMPARE(Box.Opened.size(), std::size_t(2));
        QCOMPARE(Box.Opened[0], QUrl::fromLocalFile(Q(PathToUtf8(Log))));
        QCOMPARE(Box.Opened[1], QUrl::fromLocalFile(Q(PathToUtf8(Log.parent_path()))));
    }

    // Without a program for ".log" files nothing would open and nothing be said: the user is
    // told and offered the folder; a folder that cannot be shown either is said too.
    void OpenJournalSaysWhenNothingCanOpenIt()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        const std::filesystem::path Log = LogFilePath();
        QVERIFY(std::filesystem::exists(Log));
        const QUrl File = QUrl::fromLocalFile(Q(PathToUtf8(Log)));
        const QUrl Folder = QUrl::fromLocalFile(Q(PathToUtf8(Log.parent_path())));
        Box.NoHandlerForJournal = true;
        const struct
        {
            const char* Title;
            QMessageBox::StandardButton Answer;
            bool NoHandlerAtAll;
            std::vector<QUrl> Opened;
            int Boxes;
        } Cases[] = {
            {"folder wanted", QMessageBox::Yes, false, {File, Folder}, 1},
            {"folder not wanted", QMessageBox::No, false, {File}, 1},
            {"folder cannot be shown either", QMessageBox::Yes, true, {File, Folder}, 2},
        };
        for (const auto& Case : Cases) {
            Box.Opened.clear();
            Box.NoHandlerAtAll = Case.NoHandlerAtAll;
            TakeShownMessages();
            PresetMessageAnswer(Case.Answer);
            if (Case.Boxes > 1)
                PresetMessageAnswer(QMessageBox::Ok);
            Find<QPushButton>(Window, "btnOpenLog")->click();
            QVERIFY2(Box.Opened == Case.Opened, Case.Title);
            const std::vector<TShownMessage> Shown = TakeShownMessages();
            QCOMPARE(int(Shown.size()), Case.Boxes);
            QVERIFY2(Shown[0].Text.startsWith(QStringLiteral("Не удалось открыть журнал ")),
                     qPrintable(Shown[0].Text));
            QVERIFY(Shown[0].Text.endsWith(QStringLiteral("Показать папку журнала?")));
            if (Case.Boxes > 1)
                QCOMPARE(Shown[1].Text, QStringLiteral("Не удалось открыть папку журнала %1.")
                                            .arg(Q(PathToUtf8(Log.parent_path()))));
        }
    }

    void HelpOpensTheIndexPageOfTheSite()
    {
        TUiSandbox Box;
        TfrmMain Window(Box.Options());
        Find<QPushButton>(Window, "btnHelp")->click();
        Window.TrayMenu()->actions()[3]->trigger();
        QCOMPARE(Box.Opened.size(), std::size_t(2));
        const QString Site = QStringLiteral(PLUMERIA_SITE_URL);
        QString Expected = Site;
        while (Expected.endsWith(QLatin1Char('/')))
            Expected.chop(1);
        Expected += QStringLiteral("/download/plumeriabridge/help/index.html");
        QCOMPARE(Box.Opened[0].toString(), Expected);
        QCOMPARE(Box.Opened[1], Box.Opened[0]);
    }
};

QTEST_MAIN(TMainWindowTest)
#include "MainWindowTest.moc"
