// The scales window's label commands: the designer opened for a selected DIGI scale only, and the
// label files of a picked folder sent to every ticked scale (simulated on loopback) with one
// summary in the status line.

#include "LabelDesigner.h"

#include "core/Settings/Settings.h"
#include "platform/Environment.h"
#include "tool/ScaleSim.h"
#include "ui/Common/FolderPicker.h"
#include "ui/ScalesForm/ScalesForm.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <fstream>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

struct TScalesWindow
{
    TUiSandbox Box;
    TLoaderSettings Settings;
    TfrmScales Form;

    explicit TScalesWindow(std::vector<TScaleConfig> Scales)
    {
        Settings.Scales = std::move(Scales);
        Form.Open(&Settings, {});
    }
    QString Status() const { return Child<QLabel>(Form, "lblStatus")->text(); }
    void Click(const char* Button) { Child<QPushButton>(Form, Button)->click(); }
    void Select(const char* Name)
    {
        auto* List = Child<QTreeWidget>(Form, "lvScales");
        const auto Items =
            List->findItems(QString::fromUtf8(Name), Qt::MatchExactly | Qt::MatchRecursive, 0);
        QCOMPARE(Items.size(), 1);
        List->setCurrentItem(Items.front());
    }
    // A label folder: a new f34.dat of two formats and an f38.dat of one text record.
    std::filesystem::path LabelFolder()
    {
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        std::ofstream(Folder / "f38.dat") << "00000001000AAABBCCDD";
        return Folder;
    }
};

QString FolderText(const std::filesystem::path& Folder)
{
    return QString::fromStdString(PathToUtf8(Folder));
}

TScaleConfig Unticked(TScaleConfig Scale)
{
    Scale.Enabled = false;
    return Scale;
}

const QString Sent = QStringLiteral("sent label, 2 format records, 1 texts");

} // namespace

class TScalesLabelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { TakeShownFolderPickers(); }

    void TheDesignerNeedsASelectedDigiScale()
    {
        TScalesWindow Empty({});
        Empty.Click("btnDesign");
        QCOMPARE(Empty.Status(), QStringLiteral("Выберите весы"));

        TScalesWindow W({MakeScale("Касса", "127.0.0.1", 1, TScaleKind::skCas, "", "*"),
                         MakeScale("Мясо", "127.0.0.1", 2, TScaleKind::skDigi, "", "*")});
        W.Select("Касса");
        W.Click("btnDesign");
        QCOMPARE(W.Status(), QStringLiteral("Дизайнер этикеток для этого типа ещё не готов CAS"));

        W.Select("Мясо");
        QCOMPARE(Child<QPushButton>(W.Form, "btnDesign")->text(), QStringLiteral("Макет DIGI"));
        bool Opened = false;
        WhenModal(QStringLiteral("frmLabel"), [&Opened](QWidget& Designer) {
            Opened = Designer.isModal();
            Child<QPushButton>(Designer, "btnUpload")->click();
            Opened = Opened && Child<QLabel>(Designer, "lblStatus")->text() ==
                                   QStringLiteral("Откройте или создайте этикетку");
            Designer.close();
        });
        W.Click("btnDesign");
        QVERIFY(Opened);
    }

    void NothingTickedAsksForNoFolder()
    {
        TScalesWindow None({});
        None.Click("btnLabel");
        QCOMPARE(None.Status(), QStringLiteral("Отметьте весы"));
        TScalesWindow W({Unticked(MakeScale("Мясо", "127.0.0.1", 2, TScaleKind::skDigi, "", "*"))});
        W.Click("btnLabel");
        QCOMPARE(W.Status(), QStringLiteral("Отметьте весы"));
        QVERIFY(TakeShownFolderPickers().empty());
    }

    void CancellingThePickerSendsNothing()
    {
        Tool::TScaleSim Sim;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        TScalesWindow W({MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*")});
        W.Click("btnDesign"); // a status to keep
        const QString Before = W.Status();
        PresetFolderAnswer(std::nullopt);
        W.Click("btnLabel");
        const auto Asked = TakeShownFolderPickers();
        QCOMPARE(Asked.size(), 1u);
        QCOMPARE(Asked[0].Title, QStringLiteral("Этикетка"));
        QVERIFY(!Asked[0].AllowCreate);
        QCOMPARE(W.Status(), Before);
        QCOMPARE(Sim.FrameCount(), 0);
    }

    void EveryTickedScaleGetsItsPartOfTheSummary()
    {
        Tool::TScaleSim Sim;
        Tool::TScaleSim Spare;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        QVERIFY(Spare.Start({}, Error));
        TScalesWindow W({
            MakeScale("Касса", "10.0.0.7", 1, TScaleKind::skCas, "", "*"),
            MakeScale("", " ", 0, TScaleKind::skDigi, "", "*"),
            MakeScale("Рыба", "", 0, TScaleKind::skDigi, "", "*"),
            Unticked(MakeScale("Сыры", "127.0.0.1", Spare.Port(), TScaleKind::skDigi, "", "*")),
            MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*"),
        });
        PresetFolderAnswer(FolderText(W.LabelFolder()));
        W.Click("btnLabel");
        QCOMPARE(W.Status(), QStringLiteral("Касса  10.0.0.7: Этикетка только для DIGI   "
                                            "Укажите адрес   Рыба: Укажите адрес   "
                                            "Мясо  127.0.0.1: ") +
                                 Sent);
        QCOMPARE(Sim.FrameCount(), 3);
        QCOMPARE(Spare.FrameCount(), 0);
    }

    void AFailedScaleDoesNotStopTheOthers()
    {
        Tool::TScaleSim Sim;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        TScalesWindow W({MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*"),
                         MakeScale("Рыба", "fish.local", 0, TScaleKind::skDigi, "", "*"),
                         MakeScale("Сыры", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*")});
        PresetFolderAnswer(FolderText(W.LabelFolder()));
        W.Click("btnLabel");
        QCOMPARE(W.Status(), QStringLiteral("Мясо  127.0.0.1: ") + Sent +
                                 QStringLiteral("   Рыба  fish.local: DIGI port is 2000 + the last "
                                                "octet of the host   Сыры  127.0.0.1: ") +
                                 Sent);
        QCOMPARE(Sim.FrameCount(), 6);
    }

    // A folder without f38.dat would give every scale the formats and then fail: nothing is sent.
    void AMissingLabelFileIsNamedBeforeAnyScaleIsContacted()
    {
        Tool::TScaleSim Sim;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        TScalesWindow W({MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*"),
                         MakeScale("Рыба", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*")});
        const auto Folder = MakeLabelFolder(W.Box, "Этикетка");
        PresetFolderAnswer(FolderText(Folder));
        W.Click("btnLabel");
        QCOMPARE(W.Status(), QStringLiteral("Нет файла f38.dat в папке ") +
                                 QDir::toNativeSeparators(FolderText(Folder)) +
                                 QStringLiteral(": этикетка не отправлена"));
        QCOMPARE(Sim.FrameCount(), 0);

        const auto Empty = W.Box.Folder("Пусто");
        PresetFolderAnswer(FolderText(Empty));
        W.Click("btnLabel");
        QCOMPARE(W.Status(), QStringLiteral("Нет файлов f34.dat, f38.dat в папке ") +
                                 QDir::toNativeSeparators(FolderText(Empty)) +
                                 QStringLiteral(": этикетка не отправлена"));
        QCOMPARE(Sim.FrameCount(), 0);
    }

    void AnUnreadableLabelFileEndsInTheStatusLineAndTheJournal()
    {
        Tool::TScaleSim Sim;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        TScalesWindow W({MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*"),
                         MakeScale("Рыба", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*")});
        const auto Folder = MakeLabelFolder(W.Box, "Этикетка");
        std::filesystem::create_directory(Folder / "f38.dat"); // there, but no file to read
        PresetFolderAnswer(FolderText(Folder));
        W.Click("btnLabel");
        QCOMPARE(W.Status(), QStringLiteral("Мясо  127.0.0.1: Файл этикетки не читается"));
        QVERIFY(JournalText().find("ERROR | label ip=127.0.0.1 cannot read label file") !=
                std::string::npos);
        QVERIFY(W.Form.isEnabled());
    }
};

QTEST_MAIN(TScalesLabelTest)
#include "ScalesLabelTest.moc"
