// The designer window: opening, the format and field lists, the add menu, deleting, saving, new
// labels with their size dialog, the question about unsaved changes, and sending the label to
// ticked DIGI scales simulated on loopback.

#include "LabelDesigner.h"

#include "core/LabelGeom/LabelGeom.h"
#include "core/LabelGeom/LabelPlace.h"
#include "core/Settings/Settings.h"
#include "platform/AtomicFile.h"
#include "platform/Environment.h"
#include "support/ScaleNet.h"
#include "tool/ScaleSim.h"
#include "ui/Common/FolderPicker.h"
#include "ui/Common/MessageBox.h"

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <fstream>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

void WriteText(const std::filesystem::path& File, const std::string& Text)
{
    std::ofstream Out(File, std::ios::binary);
    Out << Text;
}

// A format record in hex: number, length, size, then zero bytes up to the length.
std::string RecordHex(unsigned Id, int Length, int WidthDots = 432, int HeightDots = 296)
{
    char Head[32];
    std::snprintf(Head, sizeof Head, "%08X%04X%04X%04X0003", Id, Length, WidthDots, HeightDots);
    return Head + std::string(static_cast<std::size_t>(Length - 12) * 2, '0');
}

QString Status(const TfrmLabel& Form)
{
    return Child<QLabel>(Form, "lblStatus")->text();
}

QStringList Rows(const TfrmLabel& Form)
{
    QStringList Texts;
    const auto* List = Child<QListWidget>(Form, "lstFields");
    for (int I = 0; I < List->count(); ++I)
        Texts << List->item(I)->text();
    return Texts;
}

// The captions of the add menu: "group/field".
QStringList MenuEntries(const TfrmLabel& Form)
{
    QStringList Entries;
    for (const QAction* Group : Form.AddMenu()->actions())
        for (const QAction* Item : Group->menu()->actions())
            Entries << Group->text() + QLatin1Char('/') + Item->text();
    return Entries;
}

QAction* MenuItem(const TfrmLabel& Form, const QString& Caption)
{
    for (const QAction* Group : Form.AddMenu()->actions())
        for (QAction* Item : Group->menu()->actions())
            if (Item->text() == Caption)
                return Item;
    return nullptr;
}

// Answers the size dialog with the given texts (and, if they are refused, with 60 x 40).
void AnswerSize(const QString& Width, const QString& Height)
{
    WhenModal(QStringLiteral("dlgLabelSize"), [Width, Height](QWidget& Dialog) {
        Child<QLineEdit>(Dialog, "edtWidth")->setText(Width);
        Child<QLineEdit>(Dialog, "edtHeight")->setText(Height);
        Child<QPushButton>(Dialog, "btnDone")->click();
        if (Dialog.isVisible()) {
            Child<QLineEdit>(Dialog, "edtWidth")->setText(QStringLiteral("60"));
            Child<QLineEdit>(Dialog, "edtHeight")->setText(QStringLiteral("40"));
            Child<QPushButton>(Dialog, "btnDone")->click();
        }
    });
}

QString FolderText(const std::filesystem::path& Folder)
{
    return QString::fromStdString(PathToUtf8(Folder));
}

// How the designer shows a path: with the system's own separators only.
QString ShownPath(const std::filesystem::path& Path)
{
    return QDir::toNativeSeparators(FolderText(Path));
}

// The system's own words for a failed write of `File`, as it gives them to a direct attempt
// (Linux and Windows word the same failure differently).
std::string WriteFailureReason(const std::filesystem::path& File)
{
    try {
        WriteFileAtomically(File, "x");
    } catch (const std::filesystem::filesystem_error& Error) {
        return Error.code().message();
    }
    return {};
}

QRect ToRect(const TScreenBox& Box)
{
    return QRect(Box.X, Box.Y, Box.W, Box.H);
}

} // namespace

class TLabelFormTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every test reads only the message boxes and folder pickers of its own.
    void init()
    {
        TakeShownMessages();
        TakeShownFolderPickers();
    }

    void WithoutADocumentOnlyOpenNewAndUploadWork()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        QCOMPARE(Status(Form), QStringLiteral("Откройте папку с f34.dat"));
        QCOMPARE(Form.windowTitle(), QStringLiteral("Макет этикетки"));
        for (const char* Name : {"btnSave", "btnAdd", "btnDelete", "cmbFormat"})
            QVERIFY2(!Child<QWidget>(Form, Name)->isEnabled(), Name);
        for (const char* Name : {"btnOpen", "btnNew", "btnUpload"})
            QVERIFY2(Child<QWidget>(Form, Name)->isEnabled(), Name);
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), QStringLiteral("Откройте или создайте этикетку"));
    }

    void OpeningShowsTheFileAndAFailedOpenKeepsIt()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = MakeLabelFolder(Box, "Мясо");
        PresetFolderAnswer(FolderText(Folder));
        Child<QPushButton>(Form, "btnOpen")->click();
        const auto Asked = TakeShownFolderPickers();
        QCOMPARE(Asked.size(), 1u);
        QCOMPARE(Asked[0].Title, QStringLiteral("Папка этикетки"));
        QVERIFY(Asked[0].Start.isEmpty()); // "C:\digi" is not there
        QVERIFY(!Asked[0].AllowCreate);
        const QString Opened =
            ShownPath(Folder / "f34.dat") + QStringLiteral("  Макет 1   54 x 37 mm");
        QCOMPARE(Status(Form), Opened);
        QVERIFY(JournalText().find("INFO | label layout opened") != std::string::npos);
        TDigiLabelDoc* Doc = Form.Document();

        OpenInDesigner(Form, Box.Folder("Пусто"));
        QCOMPARE(Status(Form), QStringLiteral("Нет файла f34.dat"));
        QCOMPARE(Form.Document(), Doc);
        QCOMPARE(Form.Document()->FileName(), Folder / "f34.dat");

        // A cancelled picker changes nothing.
        PresetFolderAnswer(std::nullopt);
        Child<QPushButton>(Form, "btnOpen")->click();
        QCOMPARE(Form.Document(), Doc);
    }

    void FilesThatDoNotLoadGiveTheirTexts_data()
    {
        QTest::addColumn<QString>("Text");
        QTest::addColumn<QString>("Status");
        QTest::newRow("short") << QString::fromStdString(RecordHex(1, 1309))
                               << QStringLiteral("Слишком короткая запись");
        QTest::newRow("hex") << QStringLiteral("00 0G") << QStringLiteral("Файл не похож на f34");
        QTest::newRow("truncated") << QString::fromStdString(RecordHex(1, 1400).substr(0, 200))
                                   << QStringLiteral("Файл этикетки не читается");
        QTest::newRow("empty") << QStringLiteral(" \r\n\t ")
                               << QStringLiteral("Файл этикетки не читается");
    }
    void FilesThatDoNotLoadGiveTheirTexts()
    {
        QFETCH(QString, Text);
        QFETCH(QString, Status);
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = Box.Folder("Этикетка");
        WriteText(Folder / "f34.dat", Text.toStdString());
        OpenInDesigner(Form, Folder);
        QCOMPARE(::Status(Form), Status);
        QVERIFY(!Form.Document());
    }

    void TheFormatNumberedOneIsChosen()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = Box.Folder("Этикетка");
        WriteText(Folder / "f34.dat", RecordHex(2, 1400) + "\r\n" + RecordHex(1, 1400, 240, 320));
        OpenInDesigner(Form, Folder);
        QVERIFY(TakeShownMessages().empty());
        auto* Formats = Child<QComboBox>(Form, "cmbFormat");
        QCOMPARE(Formats->count(), 2);
        QCOMPARE(Formats->itemText(0), QStringLiteral("2   54 x 37"));
        QCOMPARE(Formats->itemText(1), QStringLiteral("1   30 x 40"));
        QCOMPARE(Form.CurrentFormat(), 1);
        QCOMPARE(Formats->currentIndex(), 1);

        // Choosing the other format shows it and drops the selection.
        Form.Document()->PlaceDefault(1, 0, 32, 32);
        Form.RefreshAll();
        Formats->setCurrentIndex(0);
        QCOMPARE(Form.CurrentFormat(), 0);
        QCOMPARE(Form.Selected(), -1);
        QVERIFY(Status(Form).endsWith(QStringLiteral("Макет 2   54 x 37 mm *")));
        QVERIFY(Rows(Form).isEmpty());

        // Without a format 1 the first is shown; a width of 30 dots is listed as 3 mm but
        // drawn (and named in the status) as the default 432 dots.
        WriteText(Folder / "f34.dat", RecordHex(7, 1400, 30, 296) + RecordHex(3, 1400));
        PresetMessageAnswer(QMessageBox::No);
        OpenInDesigner(Form, Folder);
        QCOMPARE(TakeShownMessages().size(), 1u);
        QCOMPARE(Form.CurrentFormat(), 0);
        QCOMPARE(Formats->itemText(0), QStringLiteral("7   3 x 37"));
        QVERIFY(Status(Form).endsWith(QStringLiteral("Макет 7   54 x 37 mm")));
    }

    void TheAddMenuOffersOnlyAbsentFieldsAndPlacesThem()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        OpenInDesigner(Form, MakeLabelFolder(Box, "Этикетка"));
        Form.Document()->PlaceDefault(0, 1, 100, 100); // "Цена"
        Form.RefreshAll();
        Child<QPushButton>(Form, "btnAdd")->click();
        const QStringList Entries = MenuEntries(Form);
        QCOMPARE(Entries.size(), 58);
        QCOMPARE(Entries.front(), QStringLiteral("Строки/Номер PLU"));
        QVERIFY(!Entries.contains(QStringLiteral("Строки/Цена")));
        QVERIFY(Entries.contains(QStringLiteral("Штрихкоды/Мультиштрихкод 2")));
        QCOMPARE(Entries.back(), QStringLiteral("Надписи/Text msg.16"));
        QStringList Groups;
        for (const QAction* Group : Form.AddMenu()->actions())
            Groups << Group->text();
        QCOMPARE(Groups, Texts({"Строки", "Блоки", "Штрихкоды", "Рамки", "Картинки", "Надписи"}));

        MenuItem(Form, QStringLiteral("Номер PLU"))->trigger();
        const TDigiLabelDoc& Doc = *Form.Document();
        QCOMPARE(Doc.WordAt(0, 12), 80);
        QCOMPARE(Doc.WordAt(0, 14), 32);
        QCOMPARE(Form.Selected(), 0);
        QCOMPARE(Rows(Form), Texts({"Строки", "   Номер PLU", "   Цена"}));
        QCOMPARE(Child<QListWidget>(Form, "lstFields")->selectedItems().front()->text(),
                 QStringLiteral("   Номер PLU"));
        QVERIFY(Child<QWidget>(Form, "btnDelete")->isEnabled());

        Child<QPushButton>(Form, "btnAdd")->click();
        MenuItem(Form, QStringLiteral("В упаковке"))->trigger(); // the fifth line
        QCOMPARE(Doc.WordAt(0, 44), 32);
        QCOMPARE(Doc.WordAt(0, 46), 72);

        // With every field present the menu does not appear.
        for (int Slot = 0; Slot < SlotCount(); ++Slot)
            if (!Doc.Occupied(0, Slot))
                Form.Document()->PlaceDefault(0, Slot, 8, 8);
        Form.RefreshAll();
        Form.AddMenu()->hide();
        Child<QPushButton>(Form, "btnAdd")->click();
        QVERIFY(Form.AddMenu()->isEmpty());
        QVERIFY(!Form.AddMenu()->isVisible());
    }

    void TheFieldListGroupsFieldsAndIgnoresItsHeaders()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        OpenInDesigner(Form, MakeLabelFolder(Box, "Этикетка"));
        for (const int Slot : {38, 16, 11, 13, 7, 0, 57})
            Form.Document()->PlaceDefault(0, Slot, 40, 40);
        Form.RefreshAll();
        QCOMPARE(Rows(Form), Texts({"Строки", "   Номер PLU", "Блоки", "   Название", "Штрихкоды",
                                    "   EAN-13", "   Мультиштрихкод 1", "Рамки", "   Рамка 1",
                                    "Картинки", "   Логотип", "Надписи", "   СУММА, РУБ"}));
        auto* List = Child<QListWidget>(Form, "lstFields");
        List->item(5)->setSelected(true);
        QCOMPARE(Form.Selected(), 11);
        List->item(7)->setSelected(true); // "Рамки"
        QCOMPARE(Form.Selected(), 11);
        QCOMPARE(List->selectedItems().size(), 1);
        QCOMPARE(List->selectedItems().front()->text(), QStringLiteral("   EAN-13"));

        Child<QPushButton>(Form, "btnDelete")->click();
        QVERIFY(!Form.Document()->Occupied(0, 11));
        QCOMPARE(Form.Selected(), -1);
        QVERIFY(!Child<QWidget>(Form, "btnDelete")->isEnabled());
        QVERIFY(!Rows(Form).contains(QStringLiteral("   EAN-13")));
    }

    void SavingWritesTheFileAndAFailedSaveKeepsTheChanges()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        OpenInDesigner(Form, Folder);
        Form.Document()->PlaceDefault(0, 7, 32, 32);
        Form.RefreshAll();
        QVERIFY(Status(Form).endsWith(QStringLiteral(" *")));
        Child<QPushButton>(Form, "btnSave")->click();
        QVERIFY(!Form.Document()->Dirty());
        QVERIFY(!Status(Form).endsWith(QStringLiteral(" *")));
        QVERIFY(JournalText().find("INFO | label layout saved") != std::string::npos);
        TDigiLabelDoc Reloaded;
        std::string Error;
        QVERIFY(Reloaded.Load(Folder / "f34.dat", Error));
        QVERIFY(Reloaded.Occupied(0, 7));

        // The folder is gone and a file stands in its place: the save cannot be written.
        Form.Document()->PlaceDefault(0, 8, 32, 32);
        std::filesystem::remove_all(Folder);
        WriteText(Folder, "not a folder");
        PresetMessageAnswer(QMessageBox::Ok);
        Child<QPushButton>(Form, "btnSave")->click();
        const auto Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), 1u);
        QCOMPARE(Shown[0].Icon, TMessageIcon::miError);
        // The user's words in the box, the system's in the journal.
        QCOMPARE(Shown[0].Text, QStringLiteral("Не удалось сохранить макет: папки ") +
                                    ShownPath(Folder) + QStringLiteral(" больше нет"));
        const std::string Journal = JournalText();
        const auto Line = Journal.find("ERROR | label layout not saved: ");
        QVERIFY(Line != std::string::npos);
        const std::string Reason = WriteFailureReason(Folder / "f34.dat");
        QVERIFY(!Reason.empty());
        QVERIFY2(Journal.find(Reason, Line) != std::string::npos, Journal.c_str());
        QVERIFY(Form.Document()->Dirty());
        QVERIFY(Form.Document()->Occupied(0, 8));
        QVERIFY(Status(Form).endsWith(QStringLiteral(" *")));
    }

    // A read-only f34.dat stays as it is: the rename that replaces a file would not ask.
    void AReadOnlyLabelFileIsNotOverwritten()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        OpenInDesigner(Form, Folder);
        const auto File = Folder / "f34.dat";
        const std::string Before = ReadFileBytes(File);
        std::filesystem::permissions(File, std::filesystem::perms::owner_read |
                                               std::filesystem::perms::group_read |
                                               std::filesystem::perms::others_read);
        Form.Document()->PlaceDefault(0, 7, 32, 32);
        PresetMessageAnswer(QMessageBox::Ok);
        Child<QPushButton>(Form, "btnSave")->click();
        const auto Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), 1u);
        QCOMPARE(Shown[0].Text, QStringLiteral("Не удалось сохранить макет: файл ") +
                                    ShownPath(File) + QStringLiteral(" только для чтения"));
        QCOMPARE(ReadFileBytes(File), Before);
        QVERIFY(Form.Document()->Dirty());
        QVERIFY(JournalText().find("ERROR | label layout not saved: ") != std::string::npos);
        std::filesystem::permissions(File, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add);
    }

    // The grey line under the status tells what the window does.
    void TheHintSaysWhatTheWindowDoes()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        QCOMPARE(Child<QLabel>(Form, "lblHint")->text(),
                 QStringLiteral("Пунктир отделяет нижнюю полосу 10 мм. Изменения записывает в "
                                "файл «Сохранить», на весы этикетку отправляет «В весы»."));
    }

    // A new field goes where it covers none of the fields already there (frames cover nothing).
    void NewFieldsAreAddedBesideTheOthers()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        OpenInDesigner(Form, MakeLabelFolder(Box, "Этикетка"));
        const TDigiLabelDoc& Doc = *Form.Document();
        const auto Add = [&Form](const char* Caption) {
            Child<QPushButton>(Form, "btnAdd")->click();
            MenuItem(Form, QString::fromUtf8(Caption))->trigger();
        };
        // "Название", "EAN-13", "Магазин" and "Рамка 1" all have the same first place.
        Add("Название");
        Add("EAN-13");
        Add("Магазин");
        Add("Рамка 1");
        const int Slots[] = {7, 11, 12};
        for (const int A : Slots)
            for (const int B : Slots) {
                if (A >= B)
                    continue;
                const QRect First = ToRect(DrawnBox(Doc, 0, A, 296));
                const QRect Second = ToRect(DrawnBox(Doc, 0, B, 296));
                QVERIFY2(!First.intersects(Second),
                         qPrintable(QStringLiteral("%1 %2").arg(A).arg(B)));
                // on the label, not across the band line
                QVERIFY(QRect(0, 0, 432, 296).contains(Second));
                QVERIFY(Second.bottom() < 216 || Second.top() >= 216);
            }
        QCOMPARE(Doc.WordAt(0, GetSlot(7).Offset), 80); // the first keeps its place
        QCOMPARE(Doc.WordAt(0, GetSlot(7).Offset + 2), 32);
        QCOMPARE(Doc.WordAt(0, GetSlot(16).Offset), 80); // so does the frame
        QCOMPARE(Doc.WordAt(0, GetSlot(16).Offset + 2), 32);
        QCOMPARE(Form.Selected(), 16);
    }

    // "В весы" sends nothing when a file it would send is missing, and says which.
    void UploadNeedsBothLabelFiles()
    {
        TUiSandbox Box;
        Tool::TScaleSim Sim;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*")};
        TfrmLabel Form;
        Form.SetSettings(&Settings);
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        OpenInDesigner(Form, Folder);
        int Asked = 0;
        const auto AnswerChoice = [&Asked] {
            WhenModal(QStringLiteral("dlgUploadLabel"), [&Asked](QWidget& Dialog) {
                ++Asked;
                Child<QPushButton>(Dialog, "btnUploadScales")->click();
            });
        };
        AnswerChoice();
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), QStringLiteral("Нет файла f38.dat в папке ") + ShownPath(Folder) +
                                   QStringLiteral(": этикетка не отправлена"));
        QCOMPARE(Sim.FrameCount(), 0);
        QCOMPARE(Asked, 0);

        // With both files there the same choice sends them (and takes the answer left above).
        WriteText(Folder / "f38.dat", "00000001000AAABBCCDD");
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Asked, 1);
        QCOMPARE(Status(Form),
                 QStringLiteral("Мясо  127.0.0.1: sent label, 2 format records, 1 texts"));
        QCOMPARE(Sim.FrameCount(), 3);
    }

    // A new label in a folder without texts says that f38.dat is needed for sending it.
    void ANewLabelWithoutTextsSaysTheyAreNeeded()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = Box.Folder("Новая");
        AnswerSize(QStringLiteral("54"), QStringLiteral("37"));
        PresetFolderAnswer(FolderText(Folder));
        PresetMessageAnswer(QMessageBox::Ok);
        Child<QPushButton>(Form, "btnNew")->click();
        QCOMPARE(Form.Document()->FileName(), Folder / "f34.dat");
        const auto Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), 1u);
        QCOMPARE(Shown[0].Text,
                 QStringLiteral("В папке нет f38.dat (тексты этикетки). Он нужен, чтобы отправить "
                                "этикетку на весы: положите его рядом с f34.dat"));
    }

    void ClosingAsksAboutUnsavedChanges()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        OpenInDesigner(Form, Folder);
        Form.show();
        Form.Document()->PlaceDefault(0, 7, 32, 32);
        PresetMessageAnswer(QMessageBox::Cancel);
        QVERIFY(!Form.close());
        QCOMPARE(TakeShownMessages().at(0).Text, QStringLiteral("Сохранить изменения макета?"));
        QVERIFY(Form.isVisible());
        PresetMessageAnswer(QMessageBox::Yes);
        QVERIFY(Form.close());
        QVERIFY(!Form.Document()->Dirty());
        Form.show();
        Form.Document()->PlaceDefault(0, 8, 32, 32);
        PresetMessageAnswer(QMessageBox::No);
        QVERIFY(Form.close());
        TDigiLabelDoc Reloaded;
        std::string Error;
        QVERIFY(Reloaded.Load(Folder / "f34.dat", Error));
        QVERIFY(Reloaded.Occupied(0, 7));
        QVERIFY(!Reloaded.Occupied(0, 8));
    }

    void ANewLabelIsCreatedInAnotherFolderWithTheTexts()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Old = MakeLabelFolder(Box, "Старая", 400, 240); // 50 x 30 mm
        WriteText(Old / "f38.dat", "00000001000AAABBCCDD");
        OpenInDesigner(Form, Old);

        // The open label's folder is refused, also spelt with a trailing separator.
        AnswerSize(QStringLiteral("50"), QStringLiteral("30"));
        PresetFolderAnswer(FolderText(Old) + QStringLiteral("/"));
        Child<QPushButton>(Form, "btnNew")->click();
        QCOMPARE(Status(Form), QStringLiteral("Это папка открытой этикетки. Выберите другую"));
        QCOMPARE(Form.Document()->FileName(), Old / "f34.dat");
        const auto Asked = TakeShownFolderPickers();
        QCOMPARE(Asked.at(0).Title, QStringLiteral("Папка новой этикетки"));
        QVERIFY(Asked.at(0).AllowCreate);

        // Out-of-range sizes warn and the dialog stays; then 60 x 40 is taken.
        const auto New = Box.Folder("Новая");
        AnswerSize(QStringLiteral("9"), QStringLiteral("30"));
        PresetMessageAnswer(QMessageBox::Ok);
        PresetFolderAnswer(FolderText(New));
        Child<QPushButton>(Form, "btnNew")->click();
        const auto Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), 1u);
        QCOMPARE(Shown[0].Text, QStringLiteral("Укажите ширину и высоту от 10 до 200 мм"));
        QCOMPARE(Form.Document()->FileName(), New / "f34.dat");
        QCOMPARE(Status(Form),
                 ShownPath(New / "f34.dat") + QStringLiteral("  Макет 1   60 x 40 mm"));
        QCOMPARE(ReadFileBytes(New / "f38.dat"), std::string("00000001000AAABBCCDD"));
        QCOMPARE(ReadFileBytes(New / "f34.dat").size(), 5600u);
        QVERIFY(JournalText().find("INFO | label layout created") != std::string::npos);
    }

    void ANewLabelNeverOverwritesWithoutYes()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        const auto Taken = MakeLabelFolder(Box, "Занята", 480, 320);
        WriteText(Taken / "f38.dat", "keep");
        const std::string Before = ReadFileBytes(Taken / "f34.dat");
        AnswerSize(QStringLiteral("54"), QStringLiteral("37"));
        PresetFolderAnswer(FolderText(Taken));
        PresetMessageAnswer(QMessageBox::No);
        Child<QPushButton>(Form, "btnNew")->click();
        QCOMPARE(TakeShownMessages().at(0).Text,
                 QStringLiteral("В папке уже есть f34.dat. Заменить?"));
        QVERIFY(!Form.Document());
        QCOMPARE(ReadFileBytes(Taken / "f34.dat"), Before);

        // Cancelling the size dialog ends the command before any folder is asked for.
        WhenModal(QStringLiteral("dlgLabelSize"),
                  [](QWidget& Dialog) { Child<QPushButton>(Dialog, "btnCancel")->click(); });
        Child<QPushButton>(Form, "btnNew")->click();
        QVERIFY(TakeShownFolderPickers().size() == 1u); // only the first command asked
        QVERIFY(!Form.Document());
    }

    void UploadNeedsASavedLabelAndDigiScales()
    {
        TUiSandbox Box;
        TfrmLabel Form;
        TLoaderSettings Settings;
        Form.SetSettings(&Settings);
        OpenInDesigner(Form, MakeLabelFolder(Box, "Этикетка"));
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), QStringLiteral("Нет весов DIGI"));
        Settings.Scales = {MakeScale("Касса", "127.0.0.1", 1, TScaleKind::skCas, "", "*")};
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), QStringLiteral("Нет весов DIGI"));

        Form.Document()->PlaceDefault(0, 7, 32, 32);
        Form.RefreshAll();
        const QString Before = Status(Form);
        PresetMessageAnswer(QMessageBox::Cancel);
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), Before);
        PresetMessageAnswer(QMessageBox::No);
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), QStringLiteral("Сначала сохраните макет"));
        PresetMessageAnswer(QMessageBox::Yes);
        Child<QPushButton>(Form, "btnUpload")->click();
        QVERIFY(!Form.Document()->Dirty());
        QCOMPARE(Status(Form), QStringLiteral("Нет весов DIGI"));
    }

    void TheLabelGoesToTheTickedScalesAndArrivesAsSaved()
    {
        TUiSandbox Box;
        Tool::TScaleSim First;
        Tool::TScaleSim Unticked;
        Tool::TScaleSim Third;
        std::string Error;
        QVERIFY(First.Start({}, Error));
        QVERIFY(Unticked.Start({}, Error));
        QVERIFY(Third.Start({}, Error));
        TLoaderSettings Settings;
        Settings.Scales = {
            MakeScale("Мясо", "127.0.0.1", First.Port(), TScaleKind::skDigi, "", "*"),
            MakeScale("Касса", "127.0.0.1", 9, TScaleKind::skCas, "", "*"),
            MakeScale("Рыба", "127.0.0.1", Unticked.Port(), TScaleKind::skDigi, "", "*"),
            MakeScale("", "127.0.0.1", Third.Port(), TScaleKind::skDigi, "", "*"),
        };
        Settings.Scales[2].Enabled = false;
        TfrmLabel Form;
        Form.SetSettings(&Settings);
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        WriteText(Folder / "f38.dat", "00000001000AAABBCCDD\r\n");
        OpenInDesigner(Form, Folder);
        Child<QPushButton>(Form, "btnAdd")->click();
        MenuItem(Form, QStringLiteral("Название"))->trigger();
        Child<QPushButton>(Form, "btnSave")->click();

        QStringList Lines;
        QList<bool> Ticks;
        WhenModal(QStringLiteral("dlgUploadLabel"), [&](QWidget& Dialog) {
            auto* List = Child<QListWidget>(Dialog, "lstScales");
            for (int I = 0; I < List->count(); ++I) {
                Lines << List->item(I)->text();
                Ticks << (List->item(I)->checkState() == Qt::Checked);
            }
            Child<QPushButton>(Dialog, "btnUploadScales")->click();
        });
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Lines, QStringList({QStringLiteral("Мясо  127.0.0.1:%1").arg(First.Port()),
                                     QStringLiteral("Рыба  127.0.0.1:%1").arg(Unticked.Port()),
                                     QStringLiteral("127.0.0.1:%1").arg(Third.Port())}));
        QCOMPARE(Ticks, QList<bool>({true, false, true}));
        const QString Sent = QStringLiteral("sent label, 2 format records, 1 texts");
        QCOMPARE(Status(Form), QStringLiteral("Мясо  127.0.0.1: ") + Sent +
                                   QStringLiteral("   127.0.0.1: ") + Sent);
        QCOMPARE(Unticked.FrameCount(), 0);

        // The records arrive exactly as the designer saved them.
        const TDigiLabelDoc& Doc = *Form.Document();
        const auto Frames = Third.Frames();
        QCOMPARE(Frames.size(), 3u);
        for (int I = 0; I < 2; ++I) {
            std::vector<std::uint8_t> Expected{0xF1, 0x34};
            Expected.insert(Expected.end(), Doc.Record(I).begin(), Doc.Record(I).end());
            QVERIFY(Frames[static_cast<std::size_t>(I)].Bytes == Expected);
        }
        QVERIFY(Doc.Occupied(0, 7));
    }

    void AnUnreadableLabelFileIsReportedNotThrown()
    {
        TUiSandbox Box;
        Tool::TScaleSim Sim;
        std::string Error;
        QVERIFY(Sim.Start({}, Error));
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("Мясо", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*"),
                           MakeScale("Рыба", "127.0.0.1", Sim.Port(), TScaleKind::skDigi, "", "*")};
        TfrmLabel Form;
        Form.SetSettings(&Settings);
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        std::filesystem::create_directory(Folder / "f38.dat"); // there, but no file to read
        OpenInDesigner(Form, Folder);
        WhenModal(QStringLiteral("dlgUploadLabel"),
                  [](QWidget& Dialog) { Child<QPushButton>(Dialog, "btnUploadScales")->click(); });
        Child<QPushButton>(Form, "btnUpload")->click();
        QCOMPARE(Status(Form), QStringLiteral("Мясо  127.0.0.1: Файл этикетки не читается"));
        QVERIFY(JournalText().find("ERROR | label ip=127.0.0.1 cannot read label file") !=
                std::string::npos);
    }

    void ConfirmingTheScaleChoiceWithNothingTickedWarns()
    {
        TUiSandbox Box;
        TLoaderSettings Settings;
        Settings.Scales = {MakeScale("Мясо", "127.0.0.1", 2001, TScaleKind::skDigi, "", "*")};
        Settings.Scales[0].Enabled = false;
        TfrmLabel Form;
        Form.SetSettings(&Settings);
        const auto Folder = MakeLabelFolder(Box, "Этикетка");
        WriteText(Folder / "f38.dat", "00000001000AAABBCCDD");
        OpenInDesigner(Form, Folder);
        const QString Before = Status(Form);
        bool StillOpen = false;
        WhenModal(QStringLiteral("dlgUploadLabel"), [&StillOpen](QWidget& Dialog) {
            PresetMessageAnswer(QMessageBox::Ok);
            Child<QPushButton>(Dialog, "btnUploadScales")->click();
            StillOpen = Dialog.isVisible();
            Child<QPushButton>(Dialog, "btnCancel")->click();
        });
        Child<QPushButton>(Form, "btnUpload")->click();
        QVERIFY(StillOpen);
        QCOMPARE(TakeShownMessages().at(0).Text, QStringLiteral("Отметьте весы"));
        QCOMPARE(Status(Form), Before);
    }
};

QTEST_MAIN(TLabelFormTest)
#include "LabelFormTest.moc"
