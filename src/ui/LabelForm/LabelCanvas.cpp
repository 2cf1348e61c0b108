// The drawing area of the designer: the current format drawn to scale with every field as a
// tinted, outlined box with its caption; selecting by click, moving and resizing by dragging,
// moving and deleting from the keyboard. The drawing keeps no geometry of its own beyond the drag
// in progress; every change goes to the document.

#include "ui/LabelForm/LabelForm.h"

#include "core/LabelGeom/LabelGeom.h"
#include "core/LabelGeom/LabelPlace.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace Plumeria {

namespace {

constexpr int MinArea = 40;
constexpr int CaptionStrip = 14;
constexpr int HandleSide = 6;
constexpr int StripeWidths[] = {1, 1, 2, 1, 1, 3, 1, 2, 1, 1, 2, 1, 4, 1, 1, 2};

// Halves go to the even neighbour, as the rounding of the scale and of the drag demands.
int RoundEven(double Value)
{
    return static_cast<int>(std::lrint(Value));
}

QColor Tint(TDigiFieldKind Kind)
{
    switch (Kind) {
    case TDigiFieldKind::dfText:
        return QColor(0xD8, 0xE6, 0xF8);
    case TDigiFieldKind::dfLine:
        return QColor(0xE4, 0xF2, 0xE4);
    case TDigiFieldKind::dfBlock:
        return QColor(0xF8, 0xE8, 0xD8);
    case TDigiFieldKind::dfEan:
    case TDigiFieldKind::dfMultiBar:
        return QColor(0xE8, 0xE8, 0xE8);
    case TDigiFieldKind::dfPicture:
    case TDigiFieldKind::dfLogo:
        return QColor(0xF0, 0xE0, 0xF0);
    case TDigiFieldKind::dfBevel:
        break;
    }
    return QColor(Qt::transparent);
}

// A one-pixel outline on the outermost pixels of `Box` (wider pens are centred on them).
void Outline(QPainter& P, const QRect& Box)
{
    P.setBrush(Qt::NoBrush);
    P.drawRect(QRect(Box.x(), Box.y(), Box.width() - 1, Box.height() - 1));
}

// Barcode stripes across `Area`: along its width for 0° and 180°, along its height otherwise.
void DrawStripes(QPainter& P, const QRect& Area, int Rotation)
{
    if (Area.width() < 8 || Area.height() < 8)
        return;
    const bool Across = Rotation == 0 || Rotation == 180;
    const int Extent = Across ? Area.width() : Area.height();
    int Offset = 0;
    for (int I = 0; Offset < Extent - 2; ++I) {
        const int Next = Offset + StripeWidths[I % std::size(StripeWidths)];
        if (Next > Extent)
            break;
        if (I % 2 == 0) {
            if (Across)
                P.fillRect(Area.left() + Offset, Area.top(), Next - Offset, Area.height(),
                           Qt::black);
            else
                P.fillRect(Area.left(), Area.top() + Offset, Area.width(), Next - Offset,
                           Qt::black);
        }
        Offset = Next;
    }
}

// The part of the field's box the stripes leave to the caption.
QRect StripeArea(const QRect& Box, int Rotation)
{
    switch (Rotation) {
    case 90:
        return Box.adjusted(CaptionStrip, 0, 0, 0);
    case 180:
        return Box.adjusted(0, 0, 0, -CaptionStrip);
    case 270:
        return Box.adjusted(0, 0, -CaptionStrip, 0);
    default:
        return Box.adjusted(0, CaptionStrip, 0, 0);
    }
}

// The caption rotated counter-clockwise by `Rotation` degrees, clipped to the box, starting at
// the corner where the rotated text begins.
void DrawCaption(QPainter& P, const QRect& Box, int Rotation, const QString& Caption)
{
    const int Right = Box.left() + Box.width();
    const int Bottom = Box.top() + Box.height();
    QPoint Anchor(Box.left() + 3, Box.top() + 2);
    if (Rotation == 90)
        Anchor = QPoint(Box.left() + 3, Bottom - 3);
    else if (Rotation == 180)
        Anchor = QPoint(Right - 3, Bottom - 3);
    else if (Rotation == 270)
        Anchor = QPoint(Right - 3, Box.top() + 3);
    P.save();
    P.setClipRect(Box);
    P.translate(Anchor);
    P.rotate(-Rotation);
    P.setPen(Qt::black);
    P.drawText(QRect(0, 0, 4000, 100), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, Caption);
    P.restore();
}

} // namespace

TLabelBox::TLabelBox(TfrmLabel& Form, QWidget* Parent) : QWidget(Parent), FForm(Form)
{
    setFocusPolicy(Qt::ClickFocus);
    setMouseTracking(false);
}

void TLabelBox::paintEvent(QPaintEvent*)
{
    QPainter P(this);
    FForm.PaintLabel(P, size());
}

void TLabelBox::mousePressEvent(QMouseEvent* Event)
{
    FForm.CanvasMouseDown(Event->button(), Event->position().toPoint());
}

void TLabelBox::mouseMoveEvent(QMouseEvent* Event)
{
    FForm.CanvasMouseMove(Event->position().toPoint());
}

void TLabelBox::mouseReleaseEvent(QMouseEvent*)
{
    FForm.CanvasMouseUp();
}

int TfrmLabel::ToPixels(double Dots) const
{
    return RoundEven(Dots * FScale) + FMargin;
}

TSlotBox TfrmLabel::DraggedBox() const
{
    const TSlotBox Orig{FOrigX, FOrigY, FOrigW, FOrigH, FDrag == 2};
    const int Rotation = SlotRotation(*FDoc, FFormat, FSelected);
    if (FDrag == 1)
        return MovedBox(FHeightDots, Orig, Rotation, FDragDx, FDragDy);
    return ResizedBox(GetSlot(FSelected).Kind, FHeightDots, Orig, Rotation, FDragDx, FDragDy);
}

QRect TfrmLabel::FieldRect(int SlotIndex, bool WithDrag) const
{
    // The preview of a drag is the box the drop will write.
    const TSlotBox Box = WithDrag && FDrag != 0 && SlotIndex == FSelected
                             ? DraggedBox()
                             : SlotBox(*FDoc, FFormat, SlotIndex);
    int W = Box.W;
    int H = Box.H;
    const int Rotation = SlotRotation(*FDoc, FFormat, SlotIndex);
    if (Rotation == 90 || Rotation == 270)
        std::swap(W, H);
    TScreenBox Screen = ToScreenBox(FHeightDots, Box.X, Box.Y, W, H);
    Screen.W = std::max(Screen.W, 4);
    Screen.H = std::max(Screen.H, 4);
    return QRect(QPoint(ToPixels(Screen.X), ToPixels(Screen.Y)),
                 QPoint(ToPixels(Screen.X + Screen.W) - 1, ToPixels(Screen.Y + Screen.H) - 1));
}

void TfrmLabel::PaintLabel(QPainter& P, QSize Area)
{
    if (FWidthDots <= 0 || Area.width() < MinArea || Area.height() < MinArea)
        return;
    FScale = std::min(double(Area.width() - 2 * FMargin) / (FWidthDots + 48),
                      double(Area.height() - 2 * FMargin) / (FHeightDots + 48));
    FScale = std::clamp(FScale, 0.3, 4.0);

    P.setRenderHint(QPainter::Antialiasing, false);
    P.fillRect(QRect(QPoint(0, 0), Area), QColor(0xF4, 0xF4, 0xF4));
    const QRect Face(QPoint(ToPixels(0), ToPixels(0)),
                     QPoint(ToPixels(FWidthDots), ToPixels(FHeightDots)));
    P.fillRect(Face, Qt::white);
    P.setPen(QPen(Qt::black, 1));
    Outline(P, Face);
    if (FHeightDots > LabelBandDots) {
        const int Row = ToPixels(FHeightDots - LabelBandDots);
        P.setPen(QPen(QColor(0x80, 0x80, 0x80), 1, Qt::DashLine));
        P.drawLine(QPoint(ToPixels(0), Row), QPoint(ToPixels(FWidthDots), Row));
    }
    if (!FDoc)
        return;

    P.setFont(LabelFont(11));
    for (int Slot = 0; Slot < SlotCount(); ++Slot) {
        if (!FDoc->Occupied(FFormat, Slot))
            continue;
        const TDigiSlot Info = GetSlot(Slot);
        const int Rotation = SlotRotation(*FDoc, FFormat, Slot);
        const QRect Box = FieldRect(Slot, true);
        if (Info.Kind != TDigiFieldKind::dfBevel) {
            QColor Blend = Tint(Info.Kind);
            Blend.setAlpha(96);
            P.fillRect(Box, Blend);
        }
        int PenWidth = 1;
        if (Info.Kind == TDigiFieldKind::dfBevel)
            PenWidth = std::max(
                1, RoundEven(DotsFromTenths(FDoc->WordAt(FFormat, Info.Offset + 10)) * FScale));
        P.setPen(QPen(Slot == FSelected ? Qt::red : Qt::black, PenWidth, Qt::SolidLine,
                      Qt::SquareCap, Qt::MiterJoin));
        Outline(P, Box);
        if (Info.Kind == TDigiFieldKind::dfEan)
            DrawStripes(P, StripeArea(Box, Rotation), Rotation);
        DrawCaption(P, Box, Rotation, QString::fromStdString(FieldCaption(Info)));
        if (Slot == FSelected && SlotBox(*FDoc, FFormat, Slot).Resizable) {
            const QPoint Corner = Box.bottomRight() + QPoint(1, 1);
            P.fillRect(Corner.x() - HandleSide, Corner.y() - HandleSide, HandleSide, HandleSide,
                       Qt::red);
        }
    }
}

TLabelHit TfrmLabel::HitTest(int X, int Y) const
{
    if (!FDoc)
        return {};
    for (int Slot = SlotCount() - 1; Slot >= 0; --Slot) {
        if (!FDoc->Occupied(FFormat, Slot))
            continue;
        const QRect Box = FieldRect(Slot, false);
        const QPoint Corner = Box.bottomRight() + QPoint(1, 1);
        const QRect Handle(QPoint(Corner.x() - 8, Corner.y() - 8),
                           QPoint(Corner.x() + 1, Corner.y() + 1));
        if (SlotBox(*FDoc, FFormat, Slot).Resizable && Handle.contains(X, Y))
            return {Slot, true};
        if (Box.contains(X, Y))
            return {Slot, false};
    }
    return {};
}

void TfrmLabel::CanvasMouseDown(Qt::MouseButton Button, QPoint Position)
{
    if (Button != Qt::LeftButton)
        return;
    ApplyPendingEdits(false);
    const TLabelHit Hit = HitTest(Position.x(), Position.y());
    FSelected = Hit.Slot;
    FDrag = 0;
    if (Hit.Slot >= 0) {
        const TSlotBox Stored = SlotBox(*FDoc, FFormat, Hit.Slot);
        FOrigX = Stored.X;
        FOrigY = Stored.Y;
        FOrigW = Stored.W;
        FOrigH = Stored.H;
        FDownX = Position.x();
        FDownY = Position.y();
        FDragDx = 0;
        FDragDy = 0;
        FDrag = Hit.Handle ? 2 : 1;
    }
    RefreshAll();
}

void TfrmLabel::CanvasMouseMove(QPoint Position)
{
    if (FDrag == 0)
        return;
    FDragDx = RoundEven((Position.x() - FDownX) / FScale);
    FDragDy = RoundEven((Position.y() - FDownY) / FScale);
    box->update();
}

void TfrmLabel::CanvasMouseUp()
{
    if (FDrag == 0)
        return;
    // A click without travel changes nothing, whatever the field's stored shape.
    if (FDoc && FSelected >= 0 && (FDragDx != 0 || FDragDy != 0))
        PutBox(*FDoc, FFormat, FSelected, DraggedBox());
    FDrag = 0;
    RefreshAll();
}

namespace {

// An edit box or a drop-down list (or a part of one, such as its open list) keeps its keys.
bool TakesKeys(const QObject* Object)
{
    for (; Object; Object = Object->parent())
        if (qobject_cast<const QLineEdit*>(Object) || qobject_cast<const QComboBox*>(Object))
            return true;
    return false;
}

} // namespace

bool TfrmLabel::FormKeyDown(const QObject* Receiver, int Key, Qt::KeyboardModifiers Modifiers)
{
    if (!FDoc || TakesKeys(Receiver) || TakesKeys(QApplication::focusWidget()))
        return false;
    if (Key == Qt::Key_Delete) {
        DeleteClick();
        return true;
    }
    if (FSelected < 0 ||
        (Key != Qt::Key_Left && Key != Qt::Key_Right && Key != Qt::Key_Up && Key != Qt::Key_Down))
        return false;
    const int Step = Modifiers.testFlag(Qt::ShiftModifier) ? 8 : 1;
    int Dx = 0;
    int Dy = 0;
    if (Key == Qt::Key_Left)
        Dx = -Step;
    else if (Key == Qt::Key_Right)
        Dx = Step;
    else
        Dy = Key == Qt::Key_Up ? -Step : Step;
    // The step is taken on the screen, so the field goes the way the arrow points, also across
    // the band line where the stored Y turns round.
    PutBox(*FDoc, FFormat, FSelected,
           SteppedBox(FHeightDots, SlotBox(*FDoc, FFormat, FSelected),
                      SlotRotation(*FDoc, FFormat, FSelected), Dx, Dy));
    RefreshAll();
    return true;
}

} // namespace Plumeria
