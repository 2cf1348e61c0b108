// The DIGI scale dialog driven through its controls, offscreen: typed scales, the automatic
// port, the status texts of every refused entry, duplicates, found lines shown only on a click
// with what was typed kept, and searches of a loopback network picked at random and checked free
// that find simulated scales on their default ports, are stopped with "Стоп", go through the
// adapter the system would choose when none is configured, and give up their connects when the
// dialog closes. The adapter list is always the test's own: no real adapter is ever scanned.

#include "UiSandbox.h"

#include "core/DigiSearch/TcpTransport.h"
#include "core/Journal/Journal.h"
#include "support/ScaleNet.h"
#include "ui/DigiForm/DigiForm.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

std::vector<TNetAdapter> NoAdapters()
{
    return {};
}

QString LineOf(const std::string& Host, int Port)
{
    return QString::fromStdString(Host) + QLatin1Char(':') + QString::number(Port) +
           QStringLiteral("   *");
}

// The lines a search of `Net` lists for what other programs keep listening there.
QStringList ForeignLines(const TLoopbackNetwork& Net)
{
    QStringList Lines;
    for (const int N : Net.Listening)
        Lines << LineOf(Net.Prefix + std::to_string(N), 2000 + N);
    return Lines;
}

// The first host number from `From` on whose DIGI port nothing listens yet.
int QuietHost(const TLoopbackNetwork& Net, int From)
{
    while (std::find(Net.Listening.begin(), Net.Listening.end(), From) != Net.Listening.end())
        ++From;
    return From;
}

// What the journal line of each probe of a search from host 1 of `Net` contains (the test's
// own connects bind to nothing).
std::string ScanProbe(const TLoopbackNetwork& Net)
{
    return " bind=" + Net.Prefix + "1 result=";
}

QStringList Sorted(QStringList Lines)
{
    Lines.sort();
    return Lines;
}

// A dialog in adding mode over `Settings`, shown, with its controls at hand. Its adapters are
// `Adapters`, none unless a test gives some.
struct TDigiDriver
{
    explicit TDigiDriver(const TLoaderSettings& Settings, const TScaleConfig* Editing = nullptr,
                         TAdapterSource Adapters = NoAdapters)
        : Dialog(nullptr, std::move(Adapters))
    {
        Dialog.Prepare(&Settings, Editing ? *Editing : TScaleConfig{}, Editing != nullptr);
        Dialog.show();
    }

    template <typename T> T* Get(const char* Name)
    {
        return Dialog.findChild<T*>(QString::fromLatin1(Name));
    }
    QLineEdit* Edit(const char* Name) { return Get<QLineEdit>(Name); }
    QString Status() { return Get<QLabel>("lblStatus")->text(); }
    void Type(const char* Name, const QString& Text) { TypeText(Edit(Name), Text); }
    void Click(const char* Name) { QTest::mouseClick(Get<QPushButton>(Name), Qt::LeftButton); }
    QStringList Lines()
    {
        QStringList Result;
        auto* List = Get<QListWidget>("lbFound");
        for (int I = 0; I < List->count(); ++I)
            Result << List->item(I)->text();
        return Result;
    }
    /// A mouse click on found line `Row`.
    void ClickLine(int Row)
    {
        auto* List = Get<QListWidget>("lbFound");
        QTest::mouseClick(List->viewport(), Qt::LeftButton, {},
                          List->visualItemRect(List->item(Row)).center());
    }
    /// Types a scale and collects it with "Добавить".
    void AddTyped(const QString& Name, const QString& Host)
    {
        Type("edtName", Name);
        Type("edtHost", Host);
        Click("btnAdd");
    }

    TfrmDigi Dialog;
};

} // namespace

class TDigiFormTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { FBox = std::make_unique<TUiSandbox>(); }
    void cleanup() { FBox.reset(); }

    // The keyboard starts where the form must be filled: on the address, adding or editing.
    void TheDialogOpensOnTheAddress()
    {
        TLoaderSettings Settings;
        const TScaleConfig Known =
            MakeScale("Весы", "127.0.0.5", 2001, TScaleKind::skDigi, "SM-100", "*");
        for (const TScaleConfig* Editing : {static_cast<const TScaleConfig*>(nullptr), &Known}) {
            TDigiDriver D(Settings, Editing);
            QVERIFY(QTest::qWaitForWindowActive(&D.Dialog));
            QCOMPARE(D.Dialog.focusWidget(), static_cast<QWidget*>(D.Edit("edtHost")));
        }
    }

    void AHostWithAnEmptyPortGivesOneDefaultRecord()
    {
        TLoaderSettings Settings;
        TDigiDriver D(Settings);
        QCOMPARE(D.Dialog.windowTitle(), QStringLiteral("Весы DIGI"));
        QCOMPARE(D.Get<QPushButton>("btnOk")->text(), QStringLiteral("Готово"));
        QCOMPARE(D.Edit("edtMask")->placeholderText(), QStringLiteral("meat*.csv;fish*.csv"));
        D.Click("btnHelp");
        D.Click("btnHelpMask");
        QCOMPARE(FBox->Opened.size(), std::size_t{2});
        QVERIFY(FBox->Opened[0].toString().endsWith(QStringLiteral("/help/digi.html")));
        QVERIFY(FBox->Opened[1].toString().endsWith(QStringLiteral("/help/digi.html#mask")));
        D.Type("edtHost", QStringLiteral("10.0.0.7"));
        D.Type("edtPort", QString());
        D.Click("btnOk");
        QCOMPARE(D.Dialog.result(), int(QDialog::Accepted));
        QCOMPARE(D.Dialog.Results().size(), std::size_t{1});
        const TScaleConfig& Scale = D.Dialog.Results()[0];
        QCOMPARE(Scale.Host, std::string("10.0.0.7"));
        QCOMPARE(Scale.Port, 2007);
        QVERIFY(Scale.Enabled);
        QCOMPARE(Scale.Model, std::string("SM-100"));
        QCOMPARE(Scale.FileCodePage, 1251);
        QCOMPARE(Scale.FileMask, std::string("*"));
        QCOMPARE(Scale.Kind, TScaleKind::skDigi);
    }

    void NothingIsClippedOrOverlapping()
    {
        TLoaderSettings Settings;
        for (const bool Editing : {false, true}) {
            const TScaleConfig Current = MakeScale("Весы мясного отдела", "10.0.0.7", 2007,
                                                   TScaleKind::skDigi, "SM-100", "*");
            TDigiDriver D(Settings, Editing ? &Current : nullptr);
            D.Get<QLabel>("lblStatus")
                ->setText(QStringLiteral("Выберите адаптер в окне «Основные»"));
            QCOMPARE(D.Dialog.size(), QSize(560, 408));
            const QString Fault = LayoutFault(D.Dialog);
            QVERIFY2(Fault.isEmpty(), qPrintable(Fault));
        }
    }

    void ATypedPortSurvivesAHostChange()
    {
        TLoaderSettings Settings;
        TDigiDriver D(Settings);
        D.Type("edtPort", QStringLiteral("3001"));
        D.Type("edtHost", QStringLiteral("10.0.0.7"));
        QCOMPARE(D.Edit("edtPort")->text(), QStringLiteral("3001"));
        D.Type("edtHost", QStringLiteral("10.0.0.8"));
        QCOMPARE(D.Edit("edtPort")->text(), QStringLiteral("3001"));

        // 2000 and 0 are no choice of the user's: the host's default replaces them, and follows
        // the host from then on.
        for (const QString& Placeholder : {QStringLiteral("2000"), QStringLiteral("0")}) {
            D.Type("edtPort", Placeholder);
            D.Type("edtHost", QStringLiteral("192.168.1.20"));
            QCOMPARE(D.Edit("edtPort")->text(), QStringLiteral("2020"));
            D.Edit("edtHost")->setText(QStringLiteral("192.168.1.21"));
            QCOMPARE(D.Edit("edtPort")->text(), QStringLiteral("2021"));
        }
    }

    void RefusedEntriesSayWhy_data()
    {
        QTest::addColumn<QString>("Host");
        QTest::addColumn<QString>("Port");
        QTest::addColumn<QString>("Mask");
        QTest::addColumn<QString>("Status");
        const QString PortText = QStringLiteral("Порт DIGI — 2000 плюс последний октет");
        const QString MaskText = QStringLiteral("Маска — это имя файла, без пути");
        // Typed key by key: 10.0.0.25 fills in 2025 on the way, which must not stay for .255.
        QTest::newRow("last octet 255") << "10.0.0.255"
                                        << ""
                                        << "*" << PortText;
        // A port that is no port says what a port is; the DIGI rule is for the derived one.
        const QString RangeText = QStringLiteral("Порт — число от 0 до 65535");
        QTest::newRow("port too high") << "10.0.0.7"
                                       << "65536"
                                       << "*" << RangeText;
        QTest::newRow("negative port") << "10.0.0.7"
                                       << "-1"
                                       << "*" << RangeText;
        QTest::newRow("port beyond 32 bits") << "10.0.0.7"
                                             << "99999999999"
                                             << "*" << RangeText;
        QTest::newRow("port with letters") << "10.0.0.7"
                                           << "20a7"
                                           << "*" << RangeText;
        QTest::newRow("no host") << "  "
                                 << "2001"
                                 << "*" << QStringLiteral("Укажите адрес");
        QTest::newRow("drive") << "10.0.0.7"
                               << ""
                               << "C:meat*.csv" << MaskText;
        QTest::newRow("backslash") << "10.0.0.7"
                                   << ""
                                   << "in\\meat*.csv" << MaskText;
        QTest::newRow("slash") << "10.0.0.7"
                               << ""
                               << "in/meat*.csv" << MaskText;
    }
    void RefusedEntriesSayWhy()
    {
        QFETCH(QString, Host);
        QFETCH(QString, Port);
        QFETCH(QString, Mask);
        QFETCH(QString, Status);
        TLoaderSettings Settings;
        for (const char* Button : {"btnAdd", "btnOk"}) {
            TDigiDriver D(Settings);
            D.Type("edtMask", Mask);
            D.Type("edtHost", Host);
            if (!Port.isEmpty())
                D.Type("edtPort", Port);
            D.Click(Button);
            QCOMPARE(D.Status(), Host.trimmed().isEmpty() && std::string_view(Button) == "btnOk"
                                     ? QStringLiteral("Укажите адрес или найдите весы")
                                     : Status);
            QVERIFY(D.Dialog.isVisible());
            QVERIFY(D.Lines().isEmpty());
        }
    }

    void AMaskWithAFolderStopsTheSearchToo()
    {
        TLoaderSettings Settings;
        Settings.AdapterIp = "127.0.0.1";
        TDigiDriver D(Settings);
        D.Type("edtMask", QStringLiteral("C:\\in\\*.csv"));
        D.Click("btnSearch");
        QCOMPARE(D.Status(), QStringLiteral("Маска — это имя файла, без пути"));
        QVERIFY(!D.Dialog.Searching());
        QCOMPARE(D.Get<QPushButton>("btnSearch")->text(), QStringLiteral("Поиск"));

        Settings.AdapterIp = " ";
        D.Type("edtMask", QStringLiteral("*"));
        D.Click("btnSearch");
        QCOMPARE(D.Status(), QStringLiteral("Выберите адаптер в окне «Основные»"));
        QVERIFY(!D.Dialog.Searching());
    }

    void AddingTheSameHostTwiceReplacesTheLine()
    {
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("", "10.0.0.9", 2009, TScaleKind::skDigi, "SM-100", "*"),
                           MakeScale("", "10.0.0.10", 2010, TScaleKind::skCas, "", "*")};
        TDigiDriver D(Settings);
        D.Type("edtName", QStringLiteral("Мясо"));
        D.Type("edtHost", QStringLiteral("scale-a.local"));
        D.Type("edtPort", QStringLiteral("2100"));
        D.Click("btnAdd");
        QCOMPARE(D.Status(), QStringLiteral("Весы добавлены"));
        QCOMPARE(D.Edit("edtHost")->text(), QString());
        QCOMPARE(D.Edit("edtPort")->text(), QString());
        D.Type("edtHost", QStringLiteral("SCALE-A.local"));
        D.Type("edtPort", QStringLiteral("2200"));
        D.Type("edtMask", QStringLiteral("meat*.csv"));
        D.Click("btnAdd");
        QCOMPARE(D.Lines(), QStringList{QStringLiteral("Мясо   SCALE-A.local:2200   meat*.csv")});

        // A configured DIGI scale is refused by "Добавить", dropped silently by "Готово"; a
        // configured scale of another make is no obstacle.
        D.Type("edtHost", QStringLiteral("10.0.0.9"));
        D.Click("btnAdd");
        QCOMPARE(D.Status(), QStringLiteral("Такие весы уже есть"));
        D.Type("edtHost", QStringLiteral("10.0.0.10"));
        D.Click("btnAdd");
        QCOMPARE(D.Lines().size(), 2);
        D.Type("edtHost", QStringLiteral("10.0.0.9"));
        D.Click("btnOk");
        QCOMPARE(D.Dialog.result(), int(QDialog::Accepted));
        QCOMPARE(D.Dialog.Results().size(), std::size_t{2});
        QCOMPARE(D.Dialog.Results()[0].Port, 2200);
        QCOMPARE(D.Dialog.Results()[1].Host, std::string("10.0.0.10"));
    }

    void EditingGivesBackTheFieldsWithTheNameCut()
    {
        TLoaderSettings Settings;
        TScaleConfig Current = MakeScale("", "10.0.0.7", 0, TScaleKind::skDigi, "SM-320", " ");
        Current.Name = std::string(85, 'N');
        Current.FileCodePage = 866;
        Current.Enabled = false;
        TDigiDriver D(Settings, &Current);
        QVERIFY(!D.Get<QPushButton>("btnAdd")->isVisible());
        QCOMPARE(D.Get<QPushButton>("btnOk")->text(), QStringLiteral("Сохранить"));
        QCOMPARE(D.Edit("edtPort")->text(), QStringLiteral("0"));
        QCOMPARE(D.Edit("edtMask")->text(), QStringLiteral("*"));
        D.Click("btnOk");
        QCOMPARE(D.Dialog.Results().size(), std::size_t{1});
        const TScaleConfig& Scale = D.Dialog.Results()[0];
        QCOMPARE(Scale.Name, std::string(80, 'N'));
        QCOMPARE(Scale.Port, 2007);
        QCOMPARE(Scale.FileCodePage, 866);
        QCOMPARE(Scale.Model, std::string("SM-320"));
        QVERIFY(!Scale.Enabled);
    }

    void FocusMovingIntoTheListLeavesTheTypedFieldsAlone()
    {
        TLoaderSettings Settings;
        TDigiDriver D(Settings);
        D.Dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&D.Dialog));
        D.AddTyped(QStringLiteral("Мясо"), QStringLiteral("10.0.0.21"));
        D.AddTyped(QString(), QStringLiteral("10.0.0.22"));
        D.Type("edtHost", QStringLiteral("10.0.0.30"));
        D.Type("edtMask", QStringLiteral("fish*.csv"));

        // Shift+Tab from the name field makes line 0 current: the typed scale stays as it is.
        D.Edit("edtName")->setFocus();
        QTest::keyClick(D.Edit("edtName"), Qt::Key_Backtab, Qt::ShiftModifier);
        auto* List = D.Get<QListWidget>("lbFound");
        QCOMPARE(QApplication::focusWidget(), List);
        QCOMPARE(D.Edit("edtHost")->text(), QStringLiteral("10.0.0.30"));
        QCOMPARE(D.Edit("edtPort")->text(), QStringLiteral("2030"));
        QCOMPARE(D.Edit("edtMask")->text(), QStringLiteral("fish*.csv"));

        // "Добавить" collects it and empties the address; a click on the line that is already
        // current shows it.
        D.Click("btnAdd");
        QCOMPARE(D.Lines().size(), 3);
        List->setCurrentRow(0);
        D.ClickLine(0);
        QCOMPARE(D.Edit("edtHost")->text(), QStringLiteral("10.0.0.21"));
        QCOMPARE(D.Edit("edtName")->text(), QStringLiteral("Мясо"));
        QCOMPARE(D.Edit("edtMask")->text(), QStringLiteral("*"));
    }

    void WhatIsTypedForAFoundLineIsKept()
    {
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("", "10.0.0.9", 2009, TScaleKind::skDigi, "SM-100", "*")};
        TDigiDriver D(Settings);
        D.AddTyped(QStringLiteral("Мясо"), QStringLiteral("10.0.0.21"));
        D.AddTyped(QString(), QStringLiteral("10.0.0.22"));

        // An edit of line 0 stays with line 0 when line 1 is clicked; line 1 has no name, and
        // line 0's does not come along.
        D.ClickLine(0);
        D.Type("edtMask", QStringLiteral("meat*.csv"));
        D.ClickLine(1);
        QCOMPARE(D.Lines(), (QStringList{QStringLiteral("Мясо   10.0.0.21:2021   meat*.csv"),
                                         QStringLiteral("10.0.0.22:2022   *")}));
        QCOMPARE(D.Edit("edtHost")->text(), QStringLiteral("10.0.0.22"));
        QCOMPARE(D.Edit("edtName")->text(), QString());
        QCOMPARE(D.Edit("edtMask")->text(), QStringLiteral("*"));

        // A field that cannot be read keeps the user on the line they edited.
        D.Type("edtPort", QStringLiteral("70000"));
        D.ClickLine(0);
        QCOMPARE(D.Status(), QStringLiteral("Порт — число от 0 до 65535"));
        QCOMPARE(D.Edit("edtHost")->text(), QStringLiteral("10.0.0.22"));
        QCOMPARE(D.Get<QListWidget>("lbFound")->currentRow(), 1);
        // So does a host that is configured already.
        D.Type("edtPort", QString());
        D.Type("edtHost", QStringLiteral("10.0.0.9"));
        D.ClickLine(0);
        QCOMPARE(D.Status(), QStringLiteral("Такие весы уже есть"));
        QCOMPARE(D.Edit("edtHost")->text(), QStringLiteral("10.0.0.9"));

        // A new host typed over a line becomes a line of its own when another line is clicked.
        D.Type("edtHost", QStringLiteral("10.0.0.23"));
        D.ClickLine(0);
        QCOMPARE(D.Lines().size(), 3);
        QCOMPARE(D.Lines()[2], QStringLiteral("10.0.0.23:2023   *"));

        // "Готово" keeps what was typed for a host collected before, selected or not.
        D.Get<QListWidget>("lbFound")->clearSelection();
        D.Type("edtName", QStringLiteral("Рыба"));
        D.Type("edtHost", QStringLiteral("10.0.0.22"));
        D.Click("btnOk");
        QCOMPARE(D.Dialog.result(), int(QDialog::Accepted));
        const std::vector<TScaleConfig>& Results = D.Dialog.Results();
        QCOMPARE(Results.size(), std::size_t{3});
        QCOMPARE(Results[0].FileMask, std::string("meat*.csv"));
        QCOMPARE(Results[1].Name, std::string("Рыба"));
        QCOMPARE(Results[2].Name, std::string());
    }

    void ASearchFindsTheSimulatorsAndStopEndsIt()
    {
        // A loopback network of the test's own: whatever listens on 127.0.0.x cannot get in, and
        // a program listening on all addresses is known before the search starts.
        const TLoopbackNetwork Net = QuietLoopbackNetwork();
        Tool::TScaleSim Sims[2];
        const std::vector<TDigiHit> Scales =
            StartSimsOnDefaultPorts(Sims, {23, 57, 88, 133}, Net.Prefix);
        QCOMPARE(Scales.size(), std::size_t{2});
        // One host of the network that never answers keeps the search running until "Стоп".
        const int SlowHost = QuietHost(Net, 201);
        TUnansweredEndpoint Slow(Net.Prefix + std::to_string(SlowHost), 2000 + SlowHost);
        QVERIFY(Slow.Ready());

        TLoaderSettings Settings;
        Settings.AdapterIp = " " + Net.Prefix + "1 ";
        Settings.ConnectTimeoutMs = 3000;
        // A scale already configured is neither listed nor counted.
        Settings.Scales = {MakeScale("", Scales[1].Host.c_str(), 0, TScaleKind::skDigi, "", "*")};
        TDigiDriver D(Settings);
        auto* Search = D.Get<QPushButton>("btnSearch");
        D.Click("btnSearch");
        QCOMPARE(Search->text(), QStringLiteral("Стоп"));
        QVERIFY(D.Dialog.Searching());
        QVERIFY(JournalText().find("digi search adapter=" + Net.Prefix +
                                   "1 timeout=3000 port=2000+last octet\r\n") != std::string::npos);

        // Every other host has answered: the silent one is still being waited for.
        QTRY_COMPARE_WITH_TIMEOUT(CountJournal("INFO", ScanProbe(Net)), 252, 10000);
        QVERIFY(D.Dialog.Searching());
        D.Click("btnSearch");
        QCOMPARE(D.Status(), QStringLiteral("Остановка поиска..."));
        QTRY_VERIFY_WITH_TIMEOUT(!D.Dialog.Searching(), 10000);
        const QStringList Expected = QStringList{LineOf(Scales[0].Host, Scales[0].Port)}
                                     << ForeignLines(Net);
        QCOMPARE(Sorted(D.Lines()), Sorted(Expected));
        QCOMPARE(D.Status(), QStringLiteral("Поиск остановлен. Найдено %1.").arg(Expected.size()));
        QCOMPARE(Search->text(), QStringLiteral("Поиск"));
        for (const TDigiHit& Scale : Scales)
            QVERIFY(JournalText().find("digi candidate ip=" + Scale.Host +
                                       " port=" + std::to_string(Scale.Port)) != std::string::npos);
        // The silent host's attempt was given up, not waited out.
        QVERIFY(JournalText().find("digi tcp ip=" + Net.Prefix + std::to_string(SlowHost) +
                                   " port=" + std::to_string(2000 + SlowHost) + " bind=" +
                                   Net.Prefix + "1 result=cancelled") != std::string::npos);
        // Found scales come back disabled, as SM-100 in code page 1251.
        D.Click("btnOk");
        QCOMPARE(D.Dialog.Results().size(), std::size_t(Expected.size()));
        const auto Found =
            std::find_if(D.Dialog.Results().begin(), D.Dialog.Results().end(),
                         [&](const TScaleConfig& Config) { return Config.Host == Scales[0].Host; });
        QVERIFY(Found != D.Dialog.Results().end());
        QCOMPARE(Found->Port, Scales[0].Port);
        QVERIFY(!Found->Enabled);
        QCOMPARE(Found->Model, std::string("SM-100"));
        QCOMPARE(Found->FileCodePage, 1251);
    }

    void WithoutAnAdapterTheSystemsChoiceIsSearched()
    {
        const TLoopbackNetwork Net = QuietLoopbackNetwork();
        Tool::TScaleSim Sims[1];
        const std::vector<TDigiHit> Scales =
            StartSimsOnDefaultPorts(Sims, {40, 41, 42}, Net.Prefix);
        QCOMPARE(Scales.size(), std::size_t{1});
        // The adapter list as the platform would give it: the first one is the system's choice.
        const std::string Own = Net.Prefix + "1";
        const TAdapterSource Adapters = [Own] {
            return std::vector<TNetAdapter>{{Own, "test0"}, {"10.99.0.2", "test1"}};
        };
        TLoaderSettings Settings;
        Settings.AdapterIp.clear();
        Settings.ConnectTimeoutMs = 100;
        TDigiDriver D(Settings, nullptr, Adapters);
        D.Click("btnSearch");
        const QString Adapter = QString::fromStdString(Own);
        QCOMPARE(D.Status(), QStringLiteral("Адаптер не выбран, поиск через %1...").arg(Adapter));
        QTRY_VERIFY_WITH_TIMEOUT(!D.Dialog.Searching(), 10000);
        const QStringList Expected = QStringList{LineOf(Scales[0].Host, Scales[0].Port)}
                                     << ForeignLines(Net);
        QCOMPARE(Sorted(D.Lines()), Sorted(Expected));
        QCOMPARE(D.Status(), QStringLiteral("Поиск закончен. Найдено %1 (через %2).")
                                 .arg(Expected.size())
                                 .arg(Adapter));
        QCOMPARE(D.Get<QLabel>("lblStatus")->toolTip(),
                 QStringLiteral("Адаптер выбран системой: %1").arg(Adapter));
        QVERIFY(JournalText().find("digi search adapter=" + Own +
                                   " timeout=100 port=2000+last octet (system choice)") !=
                std::string::npos);
        QVERIFY(JournalText().find("bind=" + Own + " result=accept") != std::string::npos);
    }

    void AStopBeforeTheEndCallWasHandledStartsNoSecondSearch()
    {
        const TLoopbackNetwork Net = QuietLoopbackNetwork();
        TLoaderSettings Settings;
        Settings.AdapterIp = Net.Prefix + "1";
        Settings.ConnectTimeoutMs = 100;
        TDigiDriver D(Settings);
        auto* Search = D.Get<QPushButton>("btnSearch");
        Search->click();
        // Every host answers at once. Without the event loop running, the search thread ends
        // and its end call waits in the queue: the button still says "Стоп".
        const std::string Probe = ScanProbe(Net);
        for (int Wait = 0; Wait < 500 && CountJournal("INFO", Probe) < 253; ++Wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QCOMPARE(CountJournal("INFO", Probe), 253);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        QCOMPARE(Search->text(), QStringLiteral("Стоп"));
        Search->click();
        QCOMPARE(D.Status(), QStringLiteral("Остановка поиска..."));
        QTRY_VERIFY(!D.Dialog.Searching());
        QCOMPARE(Search->text(), QStringLiteral("Поиск"));
        QCOMPARE(D.Status(),
                 QStringLiteral("Поиск остановлен. Найдено %1.").arg(ForeignLines(Net).size()));
        QTest::qWait(100);
        QCOMPARE(CountJournal("INFO", "digi search adapter="), 1);
        QCOMPARE(CountJournal("INFO", Probe), 253);
    }

    void ClosingDuringASearchGivesUpItsConnects()
    {
        const TLoopbackNetwork Net = QuietLoopbackNetwork();
        const int SlowHost = QuietHost(Net, 201);
        const std::string SlowIp = Net.Prefix + std::to_string(SlowHost);
        TUnansweredEndpoint Slow(SlowIp, 2000 + SlowHost);
        QVERIFY(Slow.Ready());
        TLoaderSettings Settings;
        Settings.AdapterIp = Net.Prefix + "1";
        Settings.ConnectTimeoutMs = 3000;
        {
            auto D = std::make_unique<TDigiDriver>(Settings);
            D->Click("btnSearch");
            // Every host but the silent one has answered; its attempt is under way.
            QTRY_COMPARE_WITH_TIMEOUT(CountJournal("INFO", ScanProbe(Net)), 252, 10000);
            D->Click("btnCancel");
            QVERIFY(!D->Dialog.isVisible());
            // Destroyed with hits and progress possibly still queued: they are dropped.
        }
        QCoreApplication::processEvents();
        // The attempt that would have waited three seconds was given up when the dialog went.
        QVERIFY(JournalText().find(
                    "digi tcp ip=" + SlowIp + " port=" + std::to_string(2000 + SlowHost) +
                    " bind=" + Net.Prefix + "1 result=cancelled") != std::string::npos);
    }

private:
    std::unique_ptr<TUiSandbox> FBox;
};

QTEST_MAIN(TDigiFormTest)
#include "DigiFormTest.moc"
