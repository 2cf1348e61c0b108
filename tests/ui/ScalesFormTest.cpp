// The scales window driven through its controls, offscreen: the grouped list with its grid lines
// and nameless scales shown by their host, the on-line probe against a simulated scale on
// loopback (its port derived from the host), a removal asked about first and one in the middle
// of a probe, a probe given up when the window closes, a configured adapter that is gone, the
// check boxes, the add menu and the status texts; each scale's delivery in two columns, and the
// command that sends the selected scale's missed files again.

#include "UiSandbox.h"

#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "support/ScaleNet.h"
#include "ui/Common/MessageBox.h"
#include "ui/DigiForm/DigiForm.h"
#include "ui/ScalesForm/ScalesForm.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <map>
#include <memory>
#include <utility>
#include <vector>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

// A scales window opened (without its modal loop) on `Settings`, counting the change events.
struct TScalesDriver
{
    explicit TScalesDriver(TLoaderSettings& Settings)
    {
        Window.Open(&Settings, [this] { ++Changes; });
        Window.show();
    }

    template <typename T> T* Get(const char* Name)
    {
        return Window.findChild<T*>(QString::fromLatin1(Name));
    }
    QTreeWidget* List() { return Get<QTreeWidget>("lvScales"); }
    QString Status() { return Get<QLabel>("lblStatus")->text(); }
    void Click(const char* Name) { Get<QPushButton>(Name)->click(); }
    /// The item of row `Row` (scales are listed under their make's group row).
    QTreeWidgetItem* Item(int Row)
    {
        for (int G = 0; G < List()->topLevelItemCount(); ++G) {
            QTreeWidgetItem* Group = List()->topLevelItem(G);
            for (int I = 0; I < Group->childCount(); ++I)
                if (Group->child(I)->data(0, Qt::UserRole).toInt() == Row)
                    return Group->child(I);
        }
        return nullptr;
    }
    QString State(int Row) { return Item(Row) ? Item(Row)->text(3) : QString(); }
    QMenu* AddMenu() { return Get<QMenu>("FAddMenu"); }

    int Changes = 0;
    TfrmScales Window;
};

TScaleConfig Digi(const char* Host, int Port)
{
    return MakeScale("", Host, Port, TScaleKind::skDigi, "SM-100", "*");
}

} // namespace

class TScalesFormTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { FBox = std::make_unique<TUiSandbox>(); }
    void cleanup() { FBox.reset(); }

    void AnEmptyListAsksForASelection()
    {
        TLoaderSettings Settings;
        TScalesDriver D(Settings);
        QCOMPARE(D.Window.windowTitle(), QStringLiteral("Весы"));
        QCOMPARE(D.List()->topLevelItemCount(), 0);
        QCOMPARE(D.Get<QPushButton>("btnDesign")->text(), QStringLiteral("Макет"));
        for (const char* Button : {"btnRemove", "btnEdit"}) {
            D.Get<QLabel>("lblStatus")->clear();
            D.Click(Button);
            QCOMPARE(D.Status(), QStringLiteral("Выберите весы"));
        }
        QCOMPARE(D.Changes, 0);
        QCOMPARE(CountJournal("INFO", "digi tcp"), 0); // no probe without scales
        QCOMPARE(D.Get<QPushButton>("btnLabel")->text(), QStringLiteral("Этикетка"));
        D.Click("btnHelp");
        QCOMPARE(FBox->Opened.size(), std::size_t{1});
        QVERIFY(FBox->Opened[0].toString().endsWith(QStringLiteral("/help/scales.html")));
        QCOMPARE(D.Get<QPushButton>("btnHelp")->toolTip(), QStringLiteral("Весы"));
    }

    void NothingIsClippedOrOverlapping()
    {
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("Овощи", "", 0, TScaleKind::skMettlerToledo, "", "*")};
        TScalesDriver D(Settings);
        D.List()->setCurrentItem(D.Item(0)); // the longest layout caption: "Макет Mettler-Toledo"
        QCOMPARE(D.Get<QPushButton>("btnDesign")->text(), QStringLiteral("Макет Mettler-Toledo"));
        QCOMPARE(D.Window.size(), QSize(780, 460));
        const QString Fault = LayoutFault(D.Window);
        QVERIFY2(Fault.isEmpty(), qPrintable(Fault));
    }

    void ScalesAreGroupedByMakeInEnumerationOrder()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {MakeScale("Касса", "", 5000, TScaleKind::skMer, "", "*.txt"),
                           MakeScale("Мясо", "", 0, TScaleKind::skDigi, "", "meat*.csv"),
                           MakeScale("Сыр", "", 0, TScaleKind::skCas, "", "*")};
        TScalesDriver D(Settings);
        QCOMPARE(D.List()->topLevelItemCount(), 3);
        QCOMPARE(D.List()->topLevelItem(0)->text(0), QStringLiteral("DIGI"));
        QCOMPARE(D.List()->topLevelItem(1)->text(0), QStringLiteral("CAS"));
        QCOMPARE(D.List()->topLevelItem(2)->text(0), QStringLiteral("M-ER"));
        QCOMPARE(D.Item(1)->text(0), QStringLiteral("Мясо"));
        QCOMPARE(D.Item(1)->text(2), QStringLiteral(":0"));
        QCOMPARE(D.Item(1)->text(4), QStringLiteral("meat*.csv"));
        // No host: off line without any attempt.
        QTRY_COMPARE(D.State(0), QStringLiteral("Не в сети"));
        QTRY_COMPARE(D.State(2), QStringLiteral("Не в сети"));
        QCOMPARE(CountJournal("INFO", "digi tcp"), 0);

        D.List()->setCurrentItem(D.Item(2));
        QCOMPARE(D.Get<QPushButton>("btnDesign")->text(), QStringLiteral("Макет CAS"));
        D.Click("btnEdit");
        QCOMPARE(D.Status(), QStringLiteral("Форма для этого типа ещё не готова"));
        D.AddMenu()->actions()[1]->trigger();
        QCOMPARE(D.Status(), QStringLiteral("Форма для этого типа ещё не готова CAS"));
        QCOMPARE(D.AddMenu()->actions().size(), 6);
        QCOMPARE(D.AddMenu()->actions()[4]->text(), QStringLiteral("Mettler-Toledo"));
        QCOMPARE(D.Changes, 0);
    }

    void APortOfZeroIsProbedOnTheDefaultPort_data()
    {
        QTest::addColumn<bool>("Listening");
        QTest::addColumn<QString>("State");
        QTest::newRow("simulator listens") << true << QStringLiteral("В сети");
        QTest::newRow("nobody listens") << false << QStringLiteral("Не в сети");
    }
    void APortOfZeroIsProbedOnTheDefaultPort()
    {
        QFETCH(bool, Listening);
        QFETCH(QString, State);
        Tool::TScaleSim Sim;
        if (Listening) {
            Tool::TScaleSimOptions Options;
            Options.BindIp = "127.0.0.15";
            Options.Port = 2015;
            std::string Error;
            QVERIFY2(Sim.Start(Options, Error), Error.c_str());
        }
        TLoaderSettings Settings;
        Settings.Scales = {Digi("127.0.0.15", 0)};
        TScalesDriver D(Settings);
        QCOMPARE(D.Item(0)->text(2), QStringLiteral("127.0.0.15:0"));
        QTRY_COMPARE(D.State(0), State);
        QCOMPARE(CountJournal("INFO", "digi tcp ip=127.0.0.15 port=2015"), 1);
    }

    void RemovingARowDuringAProbeStartsExactlyOneNewProbe()
    {
        TUnansweredEndpoint Slow;
        QVERIFY(Slow.Ready());
        Tool::TScaleSim Sim;
        Tool::TScaleSimOptions Options;
        Options.BindIp = "127.0.0.15";
        Options.Port = 2015;
        std::string Error;
        QVERIFY2(Sim.Start(Options, Error), Error.c_str());

        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 1500;
        Settings.Scales = {Digi("127.0.0.1", Slow.Port()), Digi("127.0.0.15", 0)};
        TScalesDriver D(Settings);
        // Every state the remaining scale goes through from here on.
        QStringList Seen;
        connect(D.List(), &QTreeWidget::itemChanged, this, [&](QTreeWidgetItem* Item) {
            if (Item->text(2) == QStringLiteral("127.0.0.15:0"))
                Seen << Item->text(3);
        });
        D.List()->setCurrentItem(D.Item(0));
        PresetMessageAnswer(QMessageBox::Yes);
        D.Click("btnRemove");
        QCOMPARE(D.Status(), QStringLiteral("Весы удалены"));
        QCOMPARE(D.Changes, 1);
        QCOMPARE(Settings.Scales.size(), std::size_t{1});
        QCOMPARE(D.State(0), QStringLiteral("Проверка"));

        // The old run ends with its slow attempt; its result (row 0, another host, an old
        // generation) is dropped, and one new run probes the remaining scale.
        QTRY_COMPARE_WITH_TIMEOUT(D.State(0), QStringLiteral("В сети"), 10000);
        QTest::qWait(300);
        QCOMPARE(CountJournal("INFO", "digi tcp ip=127.0.0.15 port=2015"), 1);
        QVERIFY2(!Seen.contains(QStringLiteral("Не в сети")), qPrintable(Seen.join(u',')));
        QCOMPARE(D.State(0), QStringLiteral("В сети"));
    }

    void TickingSavesWithoutProbing()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {Digi("127.0.0.15", 0)};
        TScalesDriver D(Settings);
        QTRY_COMPARE(D.State(0), QStringLiteral("Не в сети"));
        const int Attempts = CountJournal("INFO", "digi tcp");
        const std::string Before = JournalText();

        D.Item(0)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(D.Changes, 1);
        QVERIFY(!Settings.Scales[0].Enabled);
        D.Item(0)->setCheckState(0, Qt::Checked);
        QCOMPARE(D.Changes, 2);
        QVERIFY(Settings.Scales[0].Enabled);
        QTest::qWait(200);
        QCOMPARE(CountJournal("INFO", "digi tcp"), Attempts);
        QCOMPARE(JournalText(), Before);
        QCOMPARE(D.State(0), QStringLiteral("Не в сети"));
    }

    void AHostThatDiffersOnlyInCaseAddsNothing()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {Digi("Scale.Local", 2100)};
        TScalesDriver D(Settings);
        QVERIFY(DriveModal<TfrmDigi>(
            [&] { D.AddMenu()->actions()[0]->trigger(); },
            [](TfrmDigi& Dialog) {
                auto* Host = Dialog.findChild<QLineEdit*>(QStringLiteral("edtHost"));
                TypeText(Host, QStringLiteral("scale.LOCAL"));
                TypeText(Dialog.findChild<QLineEdit*>(QStringLiteral("edtPort")),
                         QStringLiteral("2100"));
                Dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
                QCOMPARE(Dialog.findChild<QLabel*>(QStringLiteral("lblStatus"))->text(),
                         QStringLiteral("Укажите адрес или найдите весы"));
                Dialog.findChild<QPushButton*>(QStringLiteral("btnCancel"))->click();
            }));
        QCOMPARE(Settings.Scales.size(), std::size_t{1});
        QCOMPARE(D.Changes, 0);
        QCOMPARE(D.Status(), QString());
    }

    void EditingThroughTheDialogReplacesTheRow()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {Digi("127.0.0.16", 0)};
        TScalesDriver D(Settings);
        D.List()->setCurrentItem(D.Item(0));
        QVERIFY(DriveModal<TfrmDigi>(
            [&] { D.Click("btnEdit"); },
            [](TfrmDigi& Dialog) {
                auto* Name = Dialog.findChild<QLineEdit*>(QStringLiteral("edtName"));
                TypeText(Name, QStringLiteral("Овощи"));
                Dialog.findChild<QPushButton*>(QStringLiteral("btnOk"))->click();
            }));
        QCOMPARE(D.Status(), QStringLiteral("Весы изменены"));
        QCOMPARE(D.Changes, 1);
        QCOMPARE(Settings.Scales[0].Name, std::string("Овощи"));
        QCOMPARE(Settings.Scales[0].Port, 2016);
        QCOMPARE(D.Item(0)->text(0), QStringLiteral("Овощи"));
        QVERIFY(JournalText().find("| INFO | scale updated") != std::string::npos);
    }

    void TheListHasGridLinesAndNamesANamelessScaleByItsHost()
    {
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("Мясо", "", 0, TScaleKind::skDigi, "", "*"),
                           MakeScale("  ", " scale.local ", 0, TScaleKind::skDigi, "", "*")};
        TScalesDriver D(Settings);
        QCOMPARE(D.Item(0)->text(0), QStringLiteral("Мясо"));
        QCOMPARE(D.Item(1)->text(0), QStringLiteral("scale.local"));
        QTRY_COMPARE(D.State(1), QStringLiteral("Не в сети"));
        for (int Column = 0; Column < 4; ++Column)
            QVERIFY2(DrawsGridLines(D.List(), D.Item(0), Column),
                     qPrintable(QString::number(Column)));
    }

    void RemovingAScaleAsksFirst()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {MakeScale("Мясо", "", 0, TScaleKind::skDigi, "", "*"),
                           MakeScale("", "", 0, TScaleKind::skCas, "", "*")};
        TScalesDriver D(Settings);
        TakeShownMessages();
        D.List()->setCurrentItem(D.Item(0));
        PresetMessageAnswer(QMessageBox::No);
        D.Click("btnRemove");
        std::vector<TShownMessage> Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), std::size_t{1});
        QCOMPARE(Shown[0].Text, QStringLiteral("Удалить весы «Мясо»?"));
        QCOMPARE(Shown[0].Caption, QStringLiteral("Весы"));
        QVERIFY(Shown[0].Icon == TMessageIcon::miQuestion);
        QVERIFY(Shown[0].HadOwner);
        QCOMPARE(Settings.Scales.size(), std::size_t{2});
        QCOMPARE(D.Changes, 0);
        QCOMPARE(D.Status(), QString());

        PresetMessageAnswer(QMessageBox::Yes);
        D.Click("btnRemove");
        QCOMPARE(Settings.Scales.size(), std::size_t{1});
        QCOMPARE(D.Changes, 1);
        QCOMPARE(D.Status(), QStringLiteral("Весы удалены"));

        // A scale with neither name nor host is asked about all the same.
        D.List()->setCurrentItem(D.Item(0));
        PresetMessageAnswer(QMessageBox::No);
        D.Click("btnRemove");
        Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), std::size_t{2});
        QCOMPARE(Shown[1].Text, QStringLiteral("Удалить эти весы?"));
        QCOMPARE(Settings.Scales.size(), std::size_t{1});
    }

    void ClosingGivesUpTheAttemptInProgress()
    {
        TUnansweredEndpoint Slow;
        QVERIFY(Slow.Ready());
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 3000;
        Settings.Scales = {Digi("127.0.0.1", Slow.Port())};
        {
            TScalesDriver D(Settings);
            QTest::qWait(200); // the attempt is under way
            D.Click("btnClose");
            QVERIFY(!D.Window.isVisible());
        }
        // Given up when the window went, not waited out for three seconds.
        QCOMPARE(CountJournal("INFO", "digi tcp ip=127.0.0.1 port=" + std::to_string(Slow.Port()) +
                                          " bind=- result=cancelled"),
                 1);
    }

    void TheDeliveryColumnsShowEachScalesStateAndFollowItsChanges()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {MakeScale("Мясо", "", 2001, TScaleKind::skDigi, "", "*"),
                           MakeScale("Сыр", "", 2002, TScaleKind::skCas, "", "*"),
                           MakeScale("Рыба", "", 2003, TScaleKind::skDigi, "", "*")};
        TScalesDriver D(Settings);
        QCOMPARE(D.List()->columnCount(), 7);
        QCOMPARE(D.List()->headerItem()->text(5), QStringLiteral("Последняя отправка"));
        QCOMPARE(D.List()->headerItem()->text(6), QStringLiteral("Результат"));
        // Without a delivery the columns stay empty.
        for (int Row = 0; Row < 3; ++Row) {
            QCOMPARE(D.Item(Row)->text(5), QString());
            QCOMPARE(D.Item(Row)->text(6), QString());
        }

        // States by port: what the delivery knows at the moment it is asked.
        std::map<int, TScaleState> Known;
        const auto Record = [&](int Port, TDeliveryResult Result, const char* Error,
                                std::size_t Missing) {
            TScaleState& State = Known[Port];
            State.Delivery.Port = Port;
            State.Delivery.LastFile = "цены от поставщика.csv";
            State.Delivery.LastTime = "2026-12-11 10:15:02";
            State.Delivery.Articles = 4821;
            State.Delivery.LastResult = Result;
            State.Delivery.LastError = Error;
            State.Missing = Missing;
        };
        Record(2001, TDeliveryResult::drSent, "", 0);
        Record(2002, TDeliveryResult::drNotSent, "", 0);
        Record(2003, TDeliveryResult::drFailed, "PLU 1042 was not acknowledged", 5);
        int Asked = 0;
        TScalesDelivery Delivery;
        Delivery.States = [&](const std::vector<TScaleConfig>& Scales) {
            ++Asked;
            std::vector<TScaleState> States;
            for (const TScaleConfig& Scale : Scales)
                States.push_back(Known[Scale.Port]);
            return States;
        };
        D.Window.SetDelivery(Delivery);
        const struct
        {
            int Row;
            const char* Result;
        } Shown[] = {{0, "отправлено, 4821 PLU"},
                     {1, "не отправлено: нет протокола для этой марки весов"},
                     {2, "ждёт 5 файлов (PLU 1042 was not acknowledged)"}};
        for (const auto& Case : Shown) {
            QCOMPARE(D.Item(Case.Row)->text(5),
                     QStringLiteral("2026-12-11 10:15:02 цены от поставщика.csv"));
            QCOMPARE(D.Item(Case.Row)->text(6), QString::fromUtf8(Case.Result));
            // Nothing is cut short: each column is as wide as its texts.
            for (int Column = 5; Column < 7; ++Column)
                QVERIFY2(D.List()->fontMetrics().horizontalAdvance(D.Item(Case.Row)->text(Column)) <
                             D.List()->columnWidth(Column),
                         qPrintable(D.Item(Case.Row)->text(Column)));
        }

        // The missed files went out: the window reads the states again when told.
        Record(2003, TDeliveryResult::drSent, "", 0);
        QCOMPARE(D.Item(2)->text(6),
                 QStringLiteral("ждёт 5 файлов (PLU 1042 was not acknowledged)"));
        const int Before = Asked;
        D.Window.DeliveryChanged();
        QCOMPARE(Asked, Before + 1);
        QCOMPARE(D.Item(2)->text(6), QStringLiteral("отправлено, 4821 PLU"));
        // A file on its way shows its count on its scales' rows, until it is through.
        TSendProgress Sending;
        Sending.FileName = "prices.csv";
        Sending.Scales.emplace_back();
        Sending.Scales[0].Host = "";
        Sending.Scales[0].Port = 2002;
        Sending.Scales[0].Sent = 300;
        Sending.Scales[0].Total = 4821;
        D.Window.ProgressChanged(Sending);
        QCOMPARE(D.Item(1)->text(6), QStringLiteral("отправка 300/4821"));
        QCOMPARE(D.Item(0)->text(6), QStringLiteral("отправлено, 4821 PLU"));
        D.Window.ProgressChanged({});
        QCOMPARE(D.Item(1)->text(6),
                 QStringLiteral("не отправлено: нет протокола для этой марки весов"));
        // A rebuilt list keeps them.
        D.Item(0)->setCheckState(0, Qt::Unchecked);
        D.List()->setCurrentItem(D.Item(1));
        PresetMessageAnswer(QMessageBox::Yes);
        D.Click("btnRemove");
        QCOMPARE(D.Item(1)->text(0), QStringLiteral("Рыба"));
        QCOMPARE(D.Item(1)->text(6), QStringLiteral("отправлено, 4821 PLU"));
    }

    void SendAgainAsksForTheSelectedScaleOnItsPortInUse()
    {
        TLoaderSettings Settings;
        Settings.ConnectTimeoutMs = 100;
        Settings.Scales = {Digi("127.0.0.15", 0), Digi("127.0.0.16", 2100)};
        TScalesDriver D(Settings);
        auto* Resend = D.Get<QPushButton>("btnResend");
        QCOMPARE(Resend->text(), QStringLiteral("Отправить снова"));
        QVERIFY(!Resend->isEnabled());
        auto* Menu = D.Get<QMenu>("FListMenu");
        QCOMPARE(Menu->actions().size(), 1);
        QAction* Entry = Menu->actions()[0];
        QCOMPARE(Entry->text(), QStringLiteral("Отправить снова"));
        QVERIFY(!Entry->isEnabled());
        // Without a delivery to ask, the command does nothing.
        D.List()->setCurrentItem(D.Item(0));
        Resend->click();
        QCOMPARE(D.Status(), QString());

        std::vector<std::pair<std::string, int>> Asked;
        TScalesDelivery Delivery;
        Delivery.States = [](const std::vector<TScaleConfig>& Scales) {
            std::vector<TScaleState> States(Scales.size());
            for (std::size_t I = 0; I < Scales.size(); ++I)
                States[I].Missing = Scales[I].Port == 0 ? 2 : 0;
            return States;
        };
        Delivery.ResendNow = [&](const std::string& Host, int Port) {
            Asked.emplace_back(Host, Port);
        };
        D.Window.SetDelivery(Delivery);
        D.List()->clearSelection();
        QVERIFY(!Resend->isEnabled());

        const struct
        {
            int Row;
            bool FromMenu;
            const char* Host;
            int Port;
            const char* Status;
        } Cases[] = {
            {0, false, "127.0.0.15", 2015, "Отправляется снова: 127.0.0.15, ждёт 2 файла"},
            {1, true, "127.0.0.16", 2100, "Весы не ждут файлов: 127.0.0.16"},
        };
        for (const auto& Case : Cases) {
            D.List()->setCurrentItem(D.Item(Case.Row));
            QVERIFY(Resend->isEnabled());
            QVERIFY(Entry->isEnabled());
            if (Case.FromMenu)
                Entry->trigger();
            else
                Resend->click();
            QCOMPARE(Asked.size(), std::size_t(1));
            QCOMPARE(QString::fromStdString(Asked[0].first), QString::fromLatin1(Case.Host));
            QCOMPARE(Asked[0].second, Case.Port);
            QCOMPARE(D.Status(), QString::fromUtf8(Case.Status));
            Asked.clear();
        }
        QCOMPARE(D.Changes, 0);
        QCOMPARE(Settings.Scales[0].Port, 0); // the settings keep what the user stored
    }

    void AConfiguredAdapterThatIsGoneIsNamedInTheJournal()
    {
        // An address of the range kept for tests of network equipment that no adapter here has;
        // the bind fails before anything is sent.
        std::string Gone;
        for (int Last = 77; Last < 90 && Gone.empty(); ++Last)
            if (!IsLocalAddress("198.18.0." + std::to_string(Last)))
                Gone = "198.18.0." + std::to_string(Last);
        QVERIFY(!Gone.empty());
        TLoaderSettings Settings;
        Settings.AdapterIp = Gone;
        Settings.Scales = {Digi("127.0.0.1", 2001)};
        TScalesDriver D(Settings);
        QTRY_COMPARE(D.State(0), QStringLiteral("Не в сети"));
        QCOMPARE(CountJournal("INFO", "bind=" + Gone + " result=bind error " +
                                          std::to_string(AddressNotAvailableError()) +
                                          " (адаптер " + Gone + " не найден)"),
                 1);
    }

private:
    std::unique_ptr<TUiSandbox> FBox;
};

QTEST_MAIN(TScalesFormTest)
#include "ScalesFormTest.moc"
