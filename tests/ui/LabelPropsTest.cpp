// The designer's property panel: which rows each kind of field shows, lengths in tenths of a
// millimetre, values written only when they change, drop-down codes that keep the other half of
// their word, the EAN check boxes, and input that is refused without a word.

#include "LabelDesigner.h"

#include "core/LabelGeom/LabelGeom.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
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
        QCOMPARE(D.Text("edtX"), QStringLiteral("40"));
        QCOMPARE(Child<QComboBox>(D.Form, "cmbPrint")->currentText(), QStringLiteral("Всегда"));
        QCOMPARE(Child<QComboBox>(D.Form, "cmbRot")->currentText(), QStringLiteral("0"));
    }

    void ValuesAreShownInTenths()
    {
        TDesigner D;
        D.PlaceAndSelect(MultiBarSlot);
        QCOMPARE(D.Text("edtW"), QStringLiteral("280")); // 224 dots
        QCOMPARE(D.Text("edtH"), QStringLiteral("130")); // 104 dots
        QCOMPARE(Child<QLabel>(D.Form, "lblExtra")->text(), QStringLiteral("Хвост 0300"));
        QCOMPARE(Child<QLabel>(D.Form, "lblLogo")->text(),
                 QStringLiteral("Размер Standard не меняется"));
        D.PlaceAndSelect(FrameSlot); // (32, 32)-(83, 83): 40 + 64 tenths
        QCOMPARE(D.Text("edtW"), QStringLiteral("64"));
        QCOMPARE(D.Text("edtThick"), QStringLiteral("1"));
    }

    void AnEqualValueWritesNothingAndANewOneIsStoredInDots()
    {
        TDesigner D;
        D.PlaceAndSelect(BlockSlot);
        D.Enter("edtX", QStringLiteral("40"));
        QVERIFY(!D.Doc().Dirty());
        D.Enter("edtX", QStringLiteral(" 80 "));
        QCOMPARE(D.Word(BlockSlot, 0), 64);
        QVERIFY(D.Doc().Dirty());
        QVERIFY(Child<QLabel>(D.Form, "lblStatus")->text().endsWith(QStringLiteral(" *")));
        D.Enter("edtW", QStringLiteral("200"));
        QCOMPARE(D.Word(BlockSlot, 8), 160);
        D.Enter("edtH", QStringLiteral("100"));
        QCOMPARE(D.Word(BlockSlot, 6), 80);
    }

    void BadInputIsIgnoredSilently_data()
    {
        QTest::addColumn<int>("Slot");
        QTest::addColumn<QString>("Edit");
        QTest::addColumn<QString>("Text");
        QTest::newRow("X above 4000")
            << BlockSlot << QStringLiteral("edtX") << QStringLiteral("4001");
        QTest::newRow("Y below 0") << BlockSlot << QStringLiteral("edtY") << QStringLiteral("-1");
        QTest::newRow("width not a number")
            << BlockSlot << QStringLiteral("edtW") << QStringLiteral("12a");
        QTest::newRow("height above 4000")
            << BlockSlot << QStringLiteral("edtH") << QStringLiteral("4001");
        QTest::newRow("thickness above 100")
            << FrameSlot << QStringLiteral("edtThick") << QStringLiteral("101");
        QTest::newRow("thickness above 4000")
            << FrameSlot << QStringLiteral("edtThick") << QStringLiteral("4001");
        QTest::newRow("33 symbols") << LineSlot << QStringLiteral("edtSym") << QStringLiteral("33");
        QTest::newRow("0 symbols") << LineSlot << QStringLiteral("edtSym") << QStringLiteral("0");
        QTest::newRow("picture number 1000")
            << PictureSlot << QStringLiteral("edtNum") << QStringLiteral("1000");
        QTest::newRow("EAN width") << EanSlot << QStringLiteral("edtW") << QStringLiteral("300");
    }
    void BadInputIsIgnoredSilently()
    {
        QFETCH(int, Slot);
        QFETCH(QString, Edit);
        QFETCH(QString, Text);
        TDesigner D;
        D.PlaceAndSelect(Slot);
        const std::string Before = D.Doc().Text();
        D.Enter(qPrintable(Edit), Text);
        QVERIFY(!D.Doc().Dirty());
        QCOMPARE(D.Doc().Text(), Before);
        // The text stays as typed until the panel is filled again.
        QCOMPARE(D.Text(qPrintable(Edit)), Text);
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
        D.Enter("edtH", QStringLiteral("128"));
        QCOMPARE(D.Word(EanSlot, 6), 102);
    }

    void AFrameMovesAndSizesByItsCorners()
    {
        TDesigner D;
        D.PlaceAndSelect(FrameSlot); // (32, 32)-(83, 83)
        D.Enter("edtX", QStringLiteral("80"));
        QCOMPARE(D.Word(FrameSlot, 0), 64);
        QCOMPARE(D.Word(FrameSlot, 6), 115);
        QCOMPARE(D.Word(FrameSlot, 8), 83);
        D.Enter("edtThick", QStringLiteral("100"));
        QCOMPARE(D.Word(FrameSlot, 10), 100);

        TDesigner E;
        E.PlaceAndSelect(FrameSlot);
        E.Enter("edtW", QStringLiteral("100"));
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
