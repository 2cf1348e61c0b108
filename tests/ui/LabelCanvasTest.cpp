// The designer's drawing area: the label painted to scale into an image and checked pixel by
// pixel, selecting, dragging to move and to resize, and the keys.

#include "LabelDesigner.h"

#include "core/LabelGeom/LabelGeom.h"
#include "core/LabelGeom/LabelPlace.h"

#include <QImage>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QTest>

#include <utility>

using namespace Plumeria;
using namespace Plumeria::Test;

namespace {

constexpr int BlockSlot = 7;  // "Название": a block, placed 102 x 51 dots
constexpr int EanSlot = 11;   // "EAN-13", placed 81 dots high
constexpr int LineSlot = 0;   // "Номер PLU", 8 symbols in font S3: 64 x 16 dots
constexpr int ShopSlot = 12;  // "Магазин": another block
constexpr int FrameSlot = 16; // "Рамка 1"

const QSize ScaleOneArea(512, 376); // a 432 x 296 label drawn at scale 1

// The designer on a fresh 432 x 296 label, with what the drawing tests do to it.
struct TDesigner : TOpenDesigner
{
    using TOpenDesigner::TOpenDesigner;
    void Place(int Slot, int X, int Y)
    {
        Doc().PlaceDefault(Form.CurrentFormat(), Slot, X, Y);
        Form.RefreshAll();
    }
    QImage Paint(QSize Area = ScaleOneArea)
    {
        QImage Image(Area, QImage::Format_RGB32);
        Image.fill(QColor(0xFF, 0x00, 0xFF));
        QPainter P(&Image);
        Form.PaintLabel(P, Area);
        return Image;
    }
    void Drag(QPoint From, QPoint To)
    {
        Form.CanvasMouseDown(Qt::LeftButton, From);
        Form.CanvasMouseMove(To);
        Form.CanvasMouseUp();
    }
};

// The first row of column X, from the top, drawn in the selection's red: the selected field's
// upper edge. -1 when there is none.
int RedTop(const QImage& Image, int X)
{
    for (int Y = 0; Y < Image.height(); ++Y)
        if (Image.pixel(X, Y) == qRgb(255, 0, 0))
            return Y;
    return -1;
}

QRgb Rgb(int R, int G, int B)
{
    return qRgb(R, G, B);
}

// The kind's tint blended over white at 96/255.
QRgb OverWhite(int R, int G, int B)
{
    const auto Mix = [](int C) { return (255 * (255 - 96) + C * 96 + 127) / 255; };
    return qRgb(Mix(R), Mix(G), Mix(B));
}

bool Near(QRgb A, QRgb B)
{
    return std::abs(qRed(A) - qRed(B)) <= 2 && std::abs(qGreen(A) - qGreen(B)) <= 2 &&
           std::abs(qBlue(A) - qBlue(B)) <= 2;
}

} // namespace

class TLabelCanvasTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void AFieldAndTheBandLineSitOnTheirPixelRows()
    {
        TDesigner D;
        D.Place(BlockSlot, 32, 32);
        const QImage Image = D.Paint();
        QCOMPARE(D.Form.CanvasScale(), 1.0);

        // Y = 32, height 51, outside the band: drawn from row 149 up to row 200.
        const int X = 16 + 32 + 40;
        QCOMPARE(Image.pixel(X, 148), Rgb(255, 255, 255));
        QCOMPARE(Image.pixel(X, 149), Rgb(0, 0, 0));
        QVERIFY(Near(Image.pixel(X, 190), OverWhite(0xF8, 0xE8, 0xD8)));
        QCOMPARE(Image.pixel(X, 199), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(X, 200), Rgb(255, 255, 255));
        // Left and right edges at X = 32 and X + W = 134 dots.
        QCOMPARE(Image.pixel(48, 180), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(149, 180), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(150, 180), Rgb(255, 255, 255));

        // The dashed band line at row 232, across the label only.
        int Grey = 0;
        for (int Column = 16; Column <= 448; ++Column)
            Grey += Image.pixel(Column, 232) == Rgb(0x80, 0x80, 0x80);
        QVERIFY2(Grey > 100 && Grey < 400, qPrintable(QString::number(Grey)));
        QCOMPARE(Image.pixel(300, 231), Rgb(255, 255, 255));
        QCOMPARE(Image.pixel(300, 233), Rgb(255, 255, 255));
        QCOMPARE(Image.pixel(460, 232), Rgb(0xF4, 0xF4, 0xF4));

        // The label's outline from pixel 16 to 448 across and 16 to 312 down.
        QCOMPARE(Image.pixel(16, 100), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(448, 100), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(300, 16), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(300, 312), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(449, 100), Rgb(0xF4, 0xF4, 0xF4));
        QCOMPARE(Image.pixel(300, 313), Rgb(0xF4, 0xF4, 0xF4));
        QCOMPARE(Image.pixel(5, 5), Rgb(0xF4, 0xF4, 0xF4));
    }

    void AFieldInTheBandIsDrawnFromTheTop()
    {
        TDesigner D;
        D.Place(BlockSlot, 32, 220);
        const QImage Image = D.Paint();
        QCOMPARE(Image.pixel(88, 235), Rgb(255, 255, 255));
        QCOMPARE(Image.pixel(88, 236), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(88, 286), Rgb(0, 0, 0));
    }

    void TheScaleFollowsTheAreaWithinItsLimits_data()
    {
        QTest::addColumn<int>("Width");
        QTest::addColumn<int>("Height");
        QTest::addColumn<QSize>("Area");
        QTest::addColumn<double>("Scale");
        QTest::newRow("exact fit") << 432 << 296 << QSize(512, 376) << 1.0;
        QTest::newRow("huge label, raised to 0.3") << 2000 << 2000 << QSize(500, 500) << 0.3;
        QTest::newRow("tiny label, lowered to 4") << 40 << 40 << QSize(800, 800) << 4.0;
    }
    void TheScaleFollowsTheAreaWithinItsLimits()
    {
        QFETCH(int, Width);
        QFETCH(int, Height);
        QFETCH(QSize, Area);
        QFETCH(double, Scale);
        TDesigner D(Width, Height);
        const QImage Image = D.Paint(Area);
        QCOMPARE(D.Form.CanvasScale(), Scale);
        // The label's top-left corner always sits at the margin.
        QCOMPARE(Image.pixel(16, 16), Rgb(0, 0, 0));
    }

    void AnAreaBelow40PixelsStaysBlank()
    {
        TDesigner D;
        D.Place(BlockSlot, 32, 32);
        for (const QSize Area : {QSize(39, 300), QSize(300, 39)}) {
            const QImage Image = D.Paint(Area);
            for (int Y = 0; Y < Image.height(); ++Y)
                for (int X = 0; X < Image.width(); ++X)
                    QCOMPARE(Image.pixel(X, Y), Rgb(0xFF, 0x00, 0xFF));
        }
    }

    void TheEanGetsStripesAndTheSelectedFieldItsHandle()
    {
        TDesigner D;
        D.Place(EanSlot, 32, 32); // 162 x 81 dots: (48, 119)-(210, 200)
        D.Paint();
        D.Drag(QPoint(100, 150), QPoint(100, 150));
        QCOMPARE(D.Form.Selected(), EanSlot);
        const QImage Image = D.Paint();
        // Outline red; the stripes, drawn over it from the left edge below the 14-pixel caption
        // strip, have the widths 1, 1, 2, 1, 1, 3: black at 0, 2-3, 5, then 9 ...
        QCOMPARE(Image.pixel(100, 119), Rgb(255, 0, 0));
        QCOMPARE(Image.pixel(209, 170), Rgb(255, 0, 0));
        QCOMPARE(Image.pixel(48, 170), Rgb(0, 0, 0));
        QVERIFY(Near(Image.pixel(49, 170), OverWhite(0xE8, 0xE8, 0xE8)));
        QCOMPARE(Image.pixel(50, 170), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(51, 170), Rgb(0, 0, 0));
        QVERIFY(Near(Image.pixel(52, 170), OverWhite(0xE8, 0xE8, 0xE8)));
        QCOMPARE(Image.pixel(53, 170), Rgb(0, 0, 0));
        QVERIFY(Near(Image.pixel(54, 170), OverWhite(0xE8, 0xE8, 0xE8)));
        QCOMPARE(Image.pixel(57, 170), Rgb(0, 0, 0));
        // No stripe in the caption strip.
        QVERIFY(Image.pixel(50, 125) != Rgb(0, 0, 0) || Image.pixel(51, 125) != Rgb(0, 0, 0));
        // The red handle fills the 6 x 6 pixels ending at the lower right corner (210, 200).
        for (const QPoint P : {QPoint(204, 194), QPoint(209, 199), QPoint(206, 196)})
            QCOMPARE(Image.pixel(P), Rgb(255, 0, 0));
        QVERIFY(Image.pixel(203, 193) != Rgb(255, 0, 0));
    }

    void AFrameIsDrawnWithItsThicknessAndNoTint()
    {
        TDesigner D;
        D.Place(FrameSlot, 32, 32);                             // (32, 32)-(83, 83)
        D.Doc().PutWord(0, GetSlot(FrameSlot).Offset + 10, 20); // 2 mm: 16 dots
        D.Form.CanvasMouseDown(Qt::LeftButton, QPoint(2, 2));   // nothing selected
        const QImage Image = D.Paint();
        // Lower edge on row 199, a pen of 16 pixels centred on it; the inside is not tinted.
        QCOMPARE(Image.pixel(70, 193), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(70, 204), Rgb(0, 0, 0));
        QCOMPARE(Image.pixel(70, 188), Rgb(255, 255, 255));
        QCOMPARE(Image.pixel(70, 210), Rgb(255, 255, 255));
    }

    void DraggingMovesAlongTheBandRule_data()
    {
        QTest::addColumn<int>("Y");
        QTest::addColumn<int>("Expected");
        QTest::newRow("outside the band: down lowers Y") << 32 << 22;
        QTest::newRow("inside the band: down raises Y") << 220 << 230;
    }
    void DraggingMovesAlongTheBandRule()
    {
        QFETCH(int, Y);
        QFETCH(int, Expected);
        TDesigner D;
        D.Place(BlockSlot, 32, Y);
        D.Paint();
        const int Top = Y >= 216 ? 16 + Y : 16 + 216 - (Y + 51);
        D.Drag(QPoint(60, Top + 10), QPoint(60, Top + 20));
        QCOMPARE(D.Form.Selected(), BlockSlot);
        QCOMPARE(D.Word(BlockSlot, 2), Expected);
        QCOMPARE(D.Word(BlockSlot, 0), 32);
        QVERIFY(D.Doc().Dirty());
    }

    void AClickWithoutTravelChangesNothing()
    {
        TDesigner D;
        D.Place(BlockSlot, 32, 32);
        QVERIFY(D.Doc().Dirty());
        std::string Error;
        QVERIFY(D.Doc().Save(Error));
        D.Paint();
        D.Drag(QPoint(60, 160), QPoint(60, 160));
        QCOMPARE(D.Form.Selected(), BlockSlot);
        QVERIFY(!D.Doc().Dirty());
        // A click beside every field selects nothing.
        D.Drag(QPoint(400, 40), QPoint(420, 60));
        QCOMPARE(D.Form.Selected(), -1);
        QVERIFY(!D.Doc().Dirty());
    }

    void TheEanHandleChangesOnlyTheHeight()
    {
        TDesigner D;
        D.Place(EanSlot, 32, 32); // drawn (48, 119)-(210, 200)
        D.Paint();
        QCOMPARE(D.Form.HitTest(206, 197).Handle, true);
        D.Drag(QPoint(206, 197), QPoint(226, 217));
        QCOMPARE(D.Word(EanSlot, 6), 101);
        QCOMPARE(D.Word(EanSlot, 8), 0);
        QCOMPARE(D.Word(EanSlot, 0), 32);
        // Outside the band the upper edge stays: Y went down by the travel.
        QCOMPARE(D.Word(EanSlot, 2), 12);
        const TSlotBox Box = SlotBox(D.Doc(), 0, EanSlot);
        QCOMPARE(Box.W, 2 * Box.H);
    }

    void ARotatedFieldGrowsInItsOwnDirection()
    {
        TDesigner D;
        D.Place(BlockSlot, 32, 32);
        D.Doc().PutWord(0, GetSlot(BlockSlot).Offset + 4, 0x4070); // 90 degrees
        D.Form.RefreshAll();
        D.Paint(); // drawn 51 wide, 102 high: (48, 98)-(99, 200)
        QVERIFY(D.Form.HitTest(95, 196).Handle);
        D.Drag(QPoint(95, 196), QPoint(115, 196));
        QCOMPARE(D.Word(BlockSlot, 6), 51 + 20); // stored height
        QCOMPARE(D.Word(BlockSlot, 8), 102);     // stored width
        QCOMPARE(D.Word(BlockSlot, 2), 32);
    }

    void ALineHasNoHandleAndMovesInstead()
    {
        TDesigner D;
        D.Place(LineSlot, 32, 32); // 64 x 16 dots: (48, 184)-(112, 200)
        const QImage Image = D.Paint();
        QVERIFY(Image.pixel(109, 197) != Rgb(255, 0, 0));
        const TLabelHit Hit = D.Form.HitTest(108, 196);
        QCOMPARE(Hit.Slot, LineSlot);
        QVERIFY(!Hit.Handle);
        D.Drag(QPoint(108, 196), QPoint(118, 196));
        QCOMPARE(D.Word(LineSlot, 0), 42);
        QCOMPARE(D.Doc().ByteAt(0, GetSlot(LineSlot).Offset + 7), 8); // symbols unchanged
    }

    void OverlappingFieldsGiveTheLaterOne()
    {
        TDesigner D;
        D.Place(ShopSlot, 32, 32);
        D.Place(BlockSlot, 32, 32);
        D.Paint();
        QCOMPARE(D.Form.HitTest(60, 160).Slot, ShopSlot);
        QCOMPARE(D.Form.HitTest(5, 5).Slot, -1);
    }

    // Across the dashed line the stored Y turns round; the field still follows the pointer, and
    // what the drag shows before the button is let go is where the field lands.
    void ADragAcrossTheBandLineLandsWhereItWasShown_data()
    {
        QTest::addColumn<int>("Y");
        QTest::addColumn<int>("Travel"); // pixels down (scale 1)
        QTest::addColumn<int>("NewY");
        QTest::addColumn<int>("DrawnTop"); // dots from the label's top edge
        // A block 51 dots high; the band line lies at 216 dots.
        QTest::newRow("above, down past the line: into the band") << 10 << 40 << 216 << 216;
        QTest::newRow("in the band, up across the line: lower edge on it")
            << 220 << -30 << 0 << 165;
        QTest::newRow("in the band, up beyond the line") << 220 << -100 << 45 << 120;
        QTest::newRow("above, up to the top edge and beyond") << 10 << -200 << 165 << 0;
    }
    void ADragAcrossTheBandLineLandsWhereItWasShown()
    {
        QFETCH(int, Y);
        QFETCH(int, Travel);
        QFETCH(int, NewY);
        QFETCH(int, DrawnTop);
        TDesigner D;
        D.Place(BlockSlot, 32, Y);
        D.Paint();
        const QPoint Grip(60, 16 + DrawnBox(D.Doc(), 0, BlockSlot, 296).Y + 10);
        D.Form.CanvasMouseDown(Qt::LeftButton, Grip);
        D.Form.CanvasMouseMove(Grip + QPoint(0, Travel));
        const int Shown = RedTop(D.Paint(), 70);
        D.Form.CanvasMouseUp();
        QCOMPARE(D.Word(BlockSlot, 2), NewY);
        QCOMPARE(DrawnBox(D.Doc(), 0, BlockSlot, 296).Y, DrawnTop);
        QCOMPARE(Shown, 16 + DrawnTop);
        QCOMPARE(RedTop(D.Paint(), 70), Shown);
    }

    // Shift+Up from just below the line walks the field up the screen press by press, over the
    // line and on to the top edge; Shift+Down walks it back down. It never jumps the other way.
    void ArrowKeysMoveTheWayTheyPointAlsoAtTheBandLine()
    {
        TDesigner D;
        D.Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&D.Form));
        D.Place(BlockSlot, 32, 219);
        D.Paint();
        D.Drag(QPoint(60, 16 + 230), QPoint(60, 16 + 230));
        QCOMPARE(D.Form.Selected(), BlockSlot);
        auto* List = Child<QListWidget>(D.Form, "lstFields");
        List->setFocus();
        const auto Top = [&D] { return DrawnBox(D.Doc(), 0, BlockSlot, 296).Y; };
        QList<int> Tops{Top()};
        for (int Press = 0; Press < 40; ++Press) {
            QTest::keyClick(List, Qt::Key_Up, Qt::ShiftModifier);
            QVERIFY2(Top() <= Tops.back(), qPrintable(QStringLiteral("press %1").arg(Press)));
            if (Top() < Tops.back())
                Tops << Top();
        }
        QCOMPARE(Tops.front(), 219);
        QVERIFY(Tops.contains(216));      // the upper edge rests on the line
        QVERIFY(Tops.contains(216 - 51)); // then the lower edge does
        QCOMPARE(Tops.back(), 0);
        QCOMPARE(D.Word(BlockSlot, 2), 216 - 51);
        const int AtTop = Tops.size();
        for (int Press = 0; Press < 40; ++Press) {
            QTest::keyClick(List, Qt::Key_Down, Qt::ShiftModifier);
            QVERIFY2(Top() > Tops.back(), qPrintable(QStringLiteral("press %1").arg(Press)));
            Tops << Top();
        }
        QVERIFY(Tops.mid(AtTop).contains(216 - 51));
        QVERIFY(Tops.mid(AtTop).contains(216));
    }

    // A frame whose second corner is stored left of and above its first is drawn the same; its
    // handle neither collapses it on a click nor turns its corners round on a drag.
    void AFrameStoredTheOtherWayRoundKeepsItsCorners()
    {
        TDesigner D;
        const int At = GetSlot(FrameSlot).Offset;
        D.Place(FrameSlot, 32, 32);
        for (const auto& [Offset, Value] : {std::pair{0, 83}, {2, 83}, {6, 32}, {8, 32}})
            D.Doc().PutWord(0, At + Offset, Value);
        std::string Error;
        QVERIFY(D.Doc().Save(Error));
        D.Form.RefreshAll();
        D.Paint(); // drawn (48, 149)-(99, 200), the handle at its lower right
        QVERIFY(D.Form.HitTest(96, 197).Handle);

        D.Drag(QPoint(96, 197), QPoint(96, 197));
        QCOMPARE(D.Form.Selected(), FrameSlot);
        QVERIFY(!D.Doc().Dirty());
        QCOMPARE(SlotBox(D.Doc(), 0, FrameSlot), (TSlotBox{83, 83, -51, -51, true}));

        D.Drag(QPoint(96, 197), QPoint(106, 207));
        // 10 dots wider to the right and 10 lower on the screen, the upper edge where it was;
        // the first corner is still the right and upper one.
        QCOMPARE(D.Word(FrameSlot, 0), 93);
        QCOMPARE(D.Word(FrameSlot, 2), 83);
        QCOMPARE(D.Word(FrameSlot, 6), 32);
        QCOMPARE(D.Word(FrameSlot, 8), 22);
        QCOMPARE(DrawnBox(D.Doc(), 0, FrameSlot, 296), (TScreenBox{32, 133, 61, 61}));
    }

    void KeysMoveAndDeleteTheSelectedField()
    {
        TDesigner D;
        D.Form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&D.Form));
        D.Place(BlockSlot, 0, 32);
        D.Paint();
        D.Drag(QPoint(60, 160), QPoint(60, 160));
        QCOMPARE(D.Form.Selected(), BlockSlot);
        auto* List = Child<QListWidget>(D.Form, "lstFields");
        List->setFocus();
        QTest::keyClick(List, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(D.Word(BlockSlot, 0), 8);
        QTest::keyClick(List, Qt::Key_Left);
        QTest::keyClick(List, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(D.Word(BlockSlot, 0), 0);
        // Up moves up on the screen: Y grows outside the band and shrinks inside it.
        QTest::keyClick(List, Qt::Key_Up);
        QCOMPARE(D.Word(BlockSlot, 2), 33);
        D.Doc().MoveSlot(0, BlockSlot, 0, 230);
        QTest::keyClick(List, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(D.Word(BlockSlot, 2), 222);
        QTest::keyClick(List, Qt::Key_Down);
        QCOMPARE(D.Word(BlockSlot, 2), 223);

        // An edit box keeps its keys.
        auto* EditX = Child<QLineEdit>(D.Form, "edtX");
        EditX->setFocus();
        QTest::keyClick(EditX, Qt::Key_Right, Qt::ShiftModifier);
        QTest::keyClick(EditX, Qt::Key_Delete);
        QCOMPARE(D.Word(BlockSlot, 0), 0);
        QVERIFY(D.Doc().Occupied(0, BlockSlot));

        List->setFocus();
        QTest::keyClick(List, Qt::Key_Delete);
        QVERIFY(!D.Doc().Occupied(0, BlockSlot));
        QCOMPARE(D.Form.Selected(), -1);
    }
};

QTEST_MAIN(TLabelCanvasTest)
#include "LabelCanvasTest.moc"
