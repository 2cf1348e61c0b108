// The DIGI scale dialog driven through its controls, offscreen: typed scales, the automatic
// port, the status texts of every refused entry, duplicates, and a search of 127.0.0.0/24 that
// finds simulated scales on their default ports and is stopped with "Стоп".

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
#include <memory>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

// A dialog in adding mode over `Settings`, shown, with its controls at hand.
struct TDigiDriver
{
    explicit TDigiDriver(const TLoaderSettings& Settings, const TScaleConfig* Editing = nullptr)
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

    TfrmDigi Dialog;
};

} // namespace

class TDigiFormTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { FBox = std::make_unique<TUiSandbox>(); }
    void cleanup() { FBox.reset(); }

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
        QTest::newRow("port too high") << "10.0.0.7"
                                       << "65536"
                                       << "*" << PortText;
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

    void ASearchFindsTheSimulatorsAndStopEndsIt()
    {
        Tool::TScaleSim Sims[2];
        const std::vector<TDigiHit> Scales = StartSimsOnDefaultPorts(Sims, {23, 57, 88, 133});
        QCOMPARE(Scales.size(), std::size_t{2});
        // One host of the network that never answers keeps the search running until "Стоп".
        TUnansweredEndpoint Slow("127.0.0.201", 2201);
        QVERIFY(Slow.Ready());

        TLoaderSettings Settings;
        Settings.AdapterIp = " 127.0.0.1 ";
        Settings.ConnectTimeoutMs = 3000;
        // A scale already configured is counted but not listed.
        Settings.Scales = {MakeScale("", Scales[1].Host.c_str(), 0, TScaleKind::skDigi, "", "*")};
        TDigiDriver D(Settings);
        auto* Search = D.Get<QPushButton>("btnSearch");
        D.Click("btnSearch");
        QCOMPARE(Search->text(), QStringLiteral("Стоп"));
        QVERIFY(D.Dialog.Searching());
        QVERIFY(JournalText().find("digi search adapter=127.0.0.1 timeout=3000 "
                                   "port=2000+last octet") != std::string::npos);

        // Lines are "host:port   mask". Anything listed besides the unconfigured simulator is
        // a real listener that some other program on this machine keeps on a DIGI default port.
        const auto LineOf = [](const TDigiHit& Hit) {
            return QString::fromStdString(Hit.Host) + QLatin1Char(':') + QString::number(Hit.Port) +
                   QStringLiteral("   *");
        };
        QTRY_VERIFY_WITH_TIMEOUT(D.Lines().contains(LineOf(Scales[0])), 10000);
        QVERIFY(D.Dialog.Searching()); // the silent host is still being waited for
        D.Click("btnSearch");
        QCOMPARE(D.Status(), QStringLiteral("Остановка поиска..."));
        QTRY_VERIFY_WITH_TIMEOUT(!D.Dialog.Searching(), 10000);
        const QStringList Listed = D.Lines();
        QVERIFY2(!Listed.contains(LineOf(Scales[1])), qPrintable(Listed.join(QLatin1Char('|'))));
        QCOMPARE(Listed.count(LineOf(Scales[0])), 1);
        // The configured scale is counted though not listed.
        QCOMPARE(D.Status(),
                 QStringLiteral("Поиск остановлен. Найдено %1.").arg(Listed.size() + 1));
        QCOMPARE(Search->text(), QStringLiteral("Поиск"));
        for (const TDigiHit& Scale : Scales)
            QVERIFY(JournalText().find("digi candidate ip=" + Scale.Host +
                                       " port=" + std::to_string(Scale.Port)) != std::string::npos);
        // Found scales come back disabled, as SM-100 in code page 1251.
        D.Click("btnOk");
        QCOMPARE(D.Dialog.Results().size(), std::size_t(Listed.size()));
        const auto Found =
            std::find_if(D.Dialog.Results().begin(), D.Dialog.Results().end(),
                         [&](const TScaleConfig& Config) { return Config.Host == Scales[0].Host; });
        QVERIFY(Found != D.Dialog.Results().end());
        QCOMPARE(Found->Port, Scales[0].Port);
        QVERIFY(!Found->Enabled);
        QCOMPARE(Found->Model, std::string("SM-100"));
        QCOMPARE(Found->FileCodePage, 1251);
        const TLogLevel Level = GetLogLevel();
        SetLogLevel(TLogLevel::llErrors); // the checking probes stay out of the journal
        for (const TScaleConfig& Other : D.Dialog.Results()) {
            if (Other.Host != Scales[0].Host)
                QVERIFY2(TcpProbe(Other.Host, Other.Port, 500, ""), Other.Host.c_str());
        }
        SetLogLevel(Level);
    }

    void ClosingDuringASearchWaitsForItsThreads()
    {
        TUnansweredEndpoint Slow("127.0.0.201", 2201);
        QVERIFY(Slow.Ready());
        TLoaderSettings Settings;
        Settings.AdapterIp = "127.0.0.1";
        Settings.ConnectTimeoutMs = 1000;
        {
            auto D = std::make_unique<TDigiDriver>(Settings);
            D->Click("btnSearch");
            QTRY_VERIFY(D->Status().startsWith(QStringLiteral("Поиск ")));
            D->Click("btnCancel");
            QVERIFY(!D->Dialog.isVisible());
            // Destroyed with hits and progress possibly still queued: they are dropped.
        }
        QCoreApplication::processEvents();
        QVERIFY(JournalText().find("digi tcp ip=127.0.0.201 port=2201") != std::string::npos);
    }

private:
    std::unique_ptr<TUiSandbox> FBox;
};

QTEST_MAIN(TDigiFormTest)
#include "DigiFormTest.moc"
