// The designer's property panel: which rows each kind of field shows, lengths in millimetres with
// their unit, values written only when they change, drop-down codes that keep the other half of
// their word, the EAN check boxes, input that is refused and said so, and typed values that are
// taken over before saving and closing.

#include "LabelDesigner.h"

#include "core/LabelGeom/LabelGeom.h"
#include "ui/Common/MessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

constexpr int LineSlot = 0;
constexpr int BlockSlot = 7;
constexpr int EanSlot = 11;
constexpr int LogoSlot = 13;
constexpr int FrameSlot = 16;
constexpr int PictureSlot = 28;
constexpr int TextSlot = 38;
constexpr int MultiBarSlot = 57;

struct TDesigner : TOpenDesigner
{
    // Places the field, saves (so that the document is clean) and selects it in the list.
    void PlaceAndSelect(int Slot, int X = 32, int Y = 32)
    {
        Doc().PlaceDefault(0, Slot, X, Y);
        std::string Error;
        QVERIFY(Doc().Save(Error));
        Form.RefreshAll();
        auto* List = Child<QListWidget>(Form, "lstFields");
        const QString Caption =
            QStringLiteral("   ") + QString::fromStdString(FieldCaption(GetSlot(Slot)));
        const auto Rows = List->findItems(Caption, Qt::MatchExactly);
        QCOMPARE(Rows.size(), 1);
        Rows.front()->setSelected(true);
        QCOMPARE(Form.Selected(), Slot);
    }
    // Types into an edit and leaves it with Enter, as the user does.
    void Enter(const char* Edit, const QString& Text)
    {
        auto* Control = Child<QLineEdit>(Form, Edit);
        Control->setText(Text);
        QTest::keyClick(Control, Qt::Key_Return);
    }
    // Types into an edit as the user does and leaves it there, unconfirmed.
    void Type(const char* Edit, const QString& Text)
    {
        auto* Control = Child<QLineEdit>(Form, Edit);
        Control->selectAll();
        QTest::keyClicks(Control, Text);
        QCOMPARE(Control->text(), Text);
    }
    QString Text(const char* Edit) { return Child<QLineEdit>(Form, Edit)->text(); }
    bool Shown(const char* Name) { return !Child<QWidget>(Form, Name)->isHidden(); }
};

} // namespace

class TLabelPropsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void EachKindShowsItsRows_data()
    {
        QTest::addColumn<int>("Slot");
        QTest::addColumn<QStringList>("Rows");
        const QStringList Common = Texts({"edtX", "edtY", "cmbPrint", "cmbRot"});
        QTest::newRow("line") << LineSlot << Common + Texts({"cmbFont", "edtSym"});
        QTest::newRow("block") << BlockSlot << Common + Texts({"edtW", "edtH"});
        QTest::newRow("text") << TextSlot << Common + Texts({"edtW", "edtH"});
        QTest::newRow("ean") << EanSlot << Common + Texts({"edtH", "chkDigits", "chkTest"});
        QTest::newRow("frame") << FrameSlot << Common + Texts({"edtW", "edtH", "edtThick"});
        QTest::newRow("picture") << PictureSlot << Common + Texts({"edtW", "edtH", "edtNum"});
        QTest::newRow("multibar") << MultiBarSlot << Common + Texts({"edtW", "edtH", "lblExtra"});
        QTest::newRow("logo") << LogoSlot << Common + Texts({"lblLogo"});
    }
    void EachKindShowsItsRows()
    {
        QFETCH(int, Slot);
        QFETCH(QStringList, Rows);
        TDesigner D;
        D.PlaceAndSelect(Slot);
        QCOMPARE(Child<QLabel>(D.Form, "lblName")->text(),
                 QString::fromStdString(FieldCaption(GetSlot(Slot))));
        for (const char* Name :
             {"edtX", "edtY", "cmbPrint", "cmbRot", "edtW", "edtH", "edtThick", "cmbFont", "edtSym",
              "edtNum", "chkDigits", "chkTest", "lblExtra", "lblLogo"})
            QVERIFY2(D.Shown(Name) == Rows.contains(QString::fromLatin1(Name)), Name);
        QCOMPARE(D.Text("edtX"), QStringLiteral("4,0"));
        QCOMPARE(Child<QComboBox>(D.Form, "cmbPrint")->currentText(), QStringLiteral("Всегда"));
        QCOMPARE(Child<QComboBox>(D.Form, "cmbRot")->currentText(), QStringLiteral("0"));
    }

    void ValuesAreShownInMillimetres()
    {
        TDesigner D;
        D.PlaceAndSelect(MultiBarSlot);
        QCOMPARE(D.Text("edtW"), QStringLiteral("28,0")); // 224 dots
        QCOMPARE(D.Text("edtH"), QStringLiteral("13,0")); // 104 dots
        QCOMPARE(Child<QLabel>(D.Form, "lblExtra")->text(), QStringLiteral("Хвост 0300"));
        QCOMPARE(Child<QLabel>(D.Form, "lblLogo")->text(),
                 QStringLiteral("Размер Standard не меняется"));
        D.PlaceAndSelect(FrameSlot); // (32, 32)-(83, 83): 40 + 64 tenths
        QCOMPARE(D.Text("edtW"), QStringLiteral("6,4"));
        QCOMPARE(D.Text("edtThick"), QStringLiteral("0,1"));
    }

    // Every length row names its unit; counts have none. The EAN's second box is about the text
    // under the bars.
    void LengthRowsShowTheirUnit()
    {
        TDesigner D;
        D.PlaceAndSelect(FrameSlot);
        for (const char* Unit : {"edtXUnit", "edtYUnit", "edtWUnit", "edtHUnit", "edtThickUnit"}) {
            QVERIFY2(D.Shown(Unit), Unit);
            QCOMPARE(Child<QLabel>(D.Form, Unit)->text(), QStringLiteral("мм"));
        }
        D.PlaceAndSelect(LineSlot);
        QVERIFY(D.Shown("edtXUnit"));
        QVERIFY(!D.Shown("edtWUnit"));
        QVERIFY(!D.Shown("edtThickUnit"));
        QVERIFY(D.Form.findChild<QLabel*>(QStringLiteral("edtSymUnit")) == nullptr);
        QCOMPARE(Child<QCheckBox>(D.Form, "chkTest")->text(), QStringLiteral("Печатать текст"));
    }

    void AnEqualValueWritesNothingAndANewOneIsStoredInDots()
    {
        TDesigner D;
        D.PlaceAndSelect(BlockSlot);
        D.Enter("edtX", QStringLiteral("4"));
        D.Enter("edtX", QStringLiteral("4.0"));
        QVERIFY(!D.Doc().Dirty());
        D.Enter("edtX", QStringLiteral(" 8 "));
        QCOMPARE(D.Word(BlockSlot, 0), 64);
        QVERIFY(D.Doc().Dirty());
        QVERIFY(Child<QLabel>(D.Form, "lblStatus")->text().endsWith(QStringLiteral(" *")));
        QCOMPARE(D.Text("edtX"), QStringLiteral("8,0"));
        D.Enter("edtW", QStringLiteral("20"));
        QCOMPARE(D.Word(BlockSlot, 8), 160);
        D.Enter("edtH", QStringLiteral("10,5"));
        QCOMPARE(D.Word(BlockSlot, 6), 84);
    }

    void BadInputIsRefusedAndSaidSo_data()
    {
        QTest::addColumn<int>("Slot");
        QTest::addColumn<QString>("Edit");
        QTest::addColumn<QString>("Text");
        QTest::addColumn<QString>("Note"); // empty: the field has no such attribute, no note
        const QString Lengths = QStringLiteral("от 0 до 400 мм");
        QTest::newRow("letters in Y")
            << BlockSlot << QStringLiteral("edtY") << QStringLiteral("1a")
            << QStringLiteral("Y: «1a» не принято, нужно число ") + Lengths;
        QTest::newRow("X above 400 mm")
            << BlockSlot << QStringLiteral("edtX") << QStringLiteral("400,1")
            << QStringLiteral("X: «400,1» не принято, нужно число ") + Lengths;
        QTest::newRow("Y below 0") << BlockSlot << QStringLiteral("edtY") << QStringLiteral("-1")
                                   << QStringLiteral("Y: «-1» не принято, нужно число ") + Lengths;
        QTest::newRow("two decimals")
            << BlockSlot << QStringLiteral("edtW") << QStringLiteral("1,25")
            << QStringLiteral("Ширина: «1,25» не принято, нужно число ") + Lengths;
        QTest::newRow("height above 400 mm")
            << BlockSlot << QStringLiteral("edtH") << QStringLiteral("401")
            << QStringLiteral("Высота: «401» не принято, нужно число ") + Lengths;
        QTest::newRow("thickness above 10 mm")
            << FrameSlot << QStringLiteral("edtThick") << QStringLiteral("10,1")
            << QStringLiteral("Толщина: «10,1» не принято, нужно число от 0 до 10 мм");
        QTest::newRow("33 symbols") << LineSlot << QStringLiteral("edtSym") << QStringLiteral("33")
                                    << QStringLiteral("Знаков: «33» не принято, нужно число от 1 "
                                                      "до 32");
        QTest::newRow("0 symbols") << LineSlot << QStringLiteral("edtSym") << QStringLiteral("0")
                                   << QStringLiteral("Знаков: «0» не принято, нужно число от 1 "
                                                     "до 32");
        QTest::newRow("picture number 1000")
            << PictureSlot << QStringLiteral("edtNum") << QStringLiteral("1000")
            << QStringLiteral("Номер: «1000» не принято, нужно число от 0 до 999");
        QTest::newRow("EAN width")
            << EanSlot << QStringLiteral("edtW") << QStringLiteral("30") << QString();
    }
    void BadInputIsRefusedAndSaidSo()
    {
        QFETCH(int, Slot);
        QFETCH(QString, Edit);
        QFETCH(QString, Text);
        QFETCH(QString, Note);
        TDesigner D;
        D.PlaceAndSelect(Slot);
        const std::string Before = D.Doc().Text();
        D.Enter(qPrintable(Edit), Text);
        QVERIFY(!D.Doc().Dirty());
        QCOMPARE(D.Doc().Text(), Before);
        // The text stays as typed for the user to mend, marked and explained under the rows.
        QCOMPARE(D.Text(qPrintable(Edit)), Text);
        auto* Control = Child<QLineEdit>(D.Form, qPrintable(Edit));
        QCOMPARE(Control->property("refused").toBool(), !Note.isEmpty());
        QCOMPARE(D.Shown("lblRefused"), !Note.isEmpty());
        if (Note.isEmpty())
            return;
        QCOMPARE(Child<QLabel>(D.Form, "lblRefused")->text(), Note);
        QVERIFY(Control->palette().color(QPalette::Base) != D.Form.palette().color(QPalette::Base));

        // A value that fits clears the mark and the note.
        const QString Good = Edit == QStringLiteral("edtSym")   ? QStringLiteral("12")
                             : Edit == QStringLiteral("edtNum") ? QStringLiteral("7")
                                                                : QStringLiteral("5");
        D.Enter(qPrintable(Edit), Good);
        QVERIFY(D.Doc().Dirty());
        QVERIFY(!Control->property("refused").toBool());
        QVERIFY(!D.Shown("lblRefused"));
    }

    void AcceptedAttributeValues()
    {
        TDesigner D;
        D.PlaceAndSelect(LineSlot);
        D.Enter("edtSym", QStringLiteral("32"));
        QCOMPARE(D.Doc().ByteAt(0, GetSlot(LineSlot).Offset + 7), 32);
        Child<QComboBox>(D.Form, "cmbFont")->setCurrentIndex(5); // M1
        QCOMPARE(D.Doc().ByteAt(0, GetSlot(LineSlot).Offset + 6), 5);
        QCOMPARE(SlotBox(D.Doc(), 0, LineSlot).H, 24);
        D.PlaceAndSelect(PictureSlot);
        D.Enter("edtNum", QStringLiteral("999"));
        QCOMPARE(D.Word(PictureSlot, 10), 999);
        D.PlaceAndSelect(EanSlot);
        D.Enter("edtH", QStringLiteral("12,8"));
        QCOMPARE(D.Word(EanSlot, 6), 102);
    }

    void AFrameMovesAndSizesByItsCorners()
    {
        TDesigner D;
        D.PlaceAndSelect(FrameSlot); // (32, 32)-(83, 83)
        D.Enter("edtX", QStringLiteral("8"));
        QCOMPARE(D.Word(FrameSlot, 0), 64);
        QCOMPARE(D.Word(FrameSlot, 6), 115);
        QCOMPARE(D.Word(FrameSlot, 8), 83);
        D.Enter("edtThick", QStringLiteral("10"));
        QCOMPARE(D.Word(FrameSlot, 10), 100);

        TDesigner E;
        E.PlaceAndSelect(FrameSlot);
        E.Enter("edtW", QStringLiteral("10"));
        QCOMPARE(E.Word(FrameSlot, 6), DotsFromTenths(140));
        QCOMPARE(E.Word(FrameSlot, 8), 83);
    }

    void DropDownsKeepTheOtherHalfOfTheirWord()
    {
        TDesigner D;
        D.PlaceAndSelect(BlockSlot);
        D.Doc().PutWord(0, GetSlot(BlockSlot).Offset + 4, 0xC010); // 270 degrees, print 0x10
        D.Form.RefreshAll();
        auto* Rotation = Child<QComboBox>(D.Form, "cmbRot");
        auto* Print = Child<QComboBox>(D.Form, "cmbPrint");
        QCOMPARE(Rotation->currentIndex(), -1);
        QCOMPARE(Print->currentIndex(), -1);
        Rotation->setCurrentIndex(1); // "90"
        QCOMPARE(D.Word(BlockSlot, 4), 0x4010);
        Print->setCurrentIndex(2); // "Только штуки"
        QCOMPARE(D.Word(BlockSlot, 4), 0x4040);
        Print->setCurrentIndex(3); // "Никогда"
        QCOMPARE(D.Word(BlockSlot, 4), 0x4000);
    }

    void TheEanCheckBoxesSetTheirBits()
    {
        TDesigner D;
        D.PlaceAndSelect(EanSlot);
        auto* Digits = Child<QCheckBox>(D.Form, "chkDigits");
        auto* Test = Child<QCheckBox>(D.Form, "chkTest");
        QVERIFY(Digits->isChecked());
        QVERIFY(Test->isChecked());
        Digits->click();
        QCOMPARE(D.Word(EanSlot, 10), 1);
        Test->click();
        QCOMPARE(D.Word(EanSlot, 10), 3);
        Digits->click();
        QCOMPARE(D.Word(EanSlot, 10), 2);
        QVERIFY(Digits->isChecked());
        QVERIFY(!Test->isChecked());
    }

    // A value typed but never confirmed (no Enter, the edit never left) is taken over before the
    // save, and before the window closes by its close button or by Esc.
    void ATypedValueIsTakenOverBeforeSavingAndClosing()
    {
        TDesigner D;
        D.PlaceAndSelect(BlockSlot); // X = Y = 32 dots
        D.Type("edtX", QStringLiteral("8"));
        Child<QPushButton>(D.Form, "btnSave")->click();
        QVERIFY(!D.Doc().Dirty());
        TDigiLabelDoc Saved;
        std::string Error;
        QVERIFY(Saved.Load(D.Doc().FileName(), Error));
        QCOMPARE(Saved.WordAt(0, GetSlot(BlockSlot).Offset), 64);

        D.Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&D.Form));
        TakeShownMessages();
        D.Type("edtY", QStringLiteral("12"));
        PresetMessageAnswer(QMessageBox::Cancel);
        QVERIFY(!D.Form.close());
        QCOMPARE(D.Word(BlockSlot, 2), 96);
        QCOMPARE(TakeShownMessages().at(0).Text, QStringLiteral("Сохранить изменения макета?"));

        D.Type("edtW", QStringLiteral("20"));
        PresetMessageAnswer(QMessageBox::Cancel);
        QTest::keyClick(Child<QLineEdit>(D.Form, "edtW"), Qt::Key_Escape);
        QVERIFY(D.Form.isVisible());
        QCOMPARE(D.Word(BlockSlot, 8), 160);
        QCOMPARE(TakeShownMessages().size(), 1u);
    }

    // A typed value that cannot be taken is not dropped on closing without a word.
    void ClosingAsksAboutARefusedValue()
    {
        TDesigner D;
        D.PlaceAndSelect(BlockSlot);
        D.Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&D.Form));
        TakeShownMessages();
        D.Type("edtY", QStringLiteral("1a"));
        PresetMessageAnswer(QMessageBox::No);
        QVERIFY(!D.Form.close());
        auto Shown = TakeShownMessages();
        QCOMPARE(Shown.size(), 1u);
        QCOMPARE(Shown[0].Text, QStringLiteral("Значение «1a» не принято. Закрыть окно без него?"));
        QVERIFY(D.Shown("lblRefused"));
        QVERIFY(!D.Doc().Dirty());
        PresetMessageAnswer(QMessageBox::Yes);
        QVERIFY(D.Form.close());
        QCOMPARE(TakeShownMessages().size(), 1u); // nothing else changed: no question to save
    }

    void NothingSelectedShowsAnEmptyPanel()
    {
        TDesigner D;
        D.PlaceAndSelect(BlockSlot);
        Child<QListWidget>(D.Form, "lstFields")->clearSelection();
        QCOMPARE(D.Form.Selected(), -1);
        QVERIFY(Child<QLabel>(D.Form, "lblName")->text().isEmpty());
        QVERIFY(!D.Shown("edtX"));
        QVERIFY(!D.Shown("cmbPrint"));
    }
};

QTEST_MAIN(TLabelPropsTest)
#include "LabelPropsTest.moc"
