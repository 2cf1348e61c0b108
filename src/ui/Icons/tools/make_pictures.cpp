// Paints the 13 pictures of the shared image list as 128 x 128 RGBA PNG files: flat colours with
// black outlines, subjects readable after the reduction to 20 x 20. The PNG files are committed
// under src/ui/resources/pictures and embedded into the program; run this only to change them:
//
//   cmake --build build --target plumeria_make_pictures
//   build/src/ui/plumeria_make_pictures src/ui/resources/pictures

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPolygonF>
#include <QString>

#include <cstdio>
#include <functional>
#include <utility>
#include <vector>

namespace {

constexpr int Side = 128;
constexpr double OutlineWidth = 5.0;

const QColor Yellow(0xF7, 0xC5, 0x2B);
const QColor DarkYellow(0xE0, 0x9E, 0x10);
const QColor Green(0x4C, 0xAF, 0x50);
const QColor DarkGreen(0x2E, 0x7D, 0x32);
const QColor Red(0xE5, 0x39, 0x35);
const QColor Blue(0x2F, 0x80, 0xED);
const QColor Navy(0x2B, 0x4C, 0x8C);
const QColor Brown(0x8D, 0x6E, 0x63);
const QColor DarkBrown(0x4E, 0x34, 0x2E);
const QColor Paper(0xFA, 0xFA, 0xF5);
const QColor Grey(0x9E, 0x9E, 0x9E);
const QColor Wood(0xF5, 0xD9, 0xA8);
const QColor Pink(0xF4, 0x8F, 0xB1);
const QColor Screen(0x26, 0x32, 0x38);
const QColor Glass(0xBB, 0xDE, 0xFB);

QPen Outline(double Width = OutlineWidth)
{
    QPen Pen(Qt::black);
    Pen.setWidthF(Width);
    Pen.setJoinStyle(Qt::RoundJoin);
    Pen.setCapStyle(Qt::RoundCap);
    return Pen;
}

void Shape(QPainter& P, const QPainterPath& Path, const QColor& Fill, double Width = OutlineWidth)
{
    P.setPen(Outline(Width));
    P.setBrush(Fill);
    P.drawPath(Path);
}

QPainterPath Polygon(std::initializer_list<QPointF> Points)
{
    QPainterPath Path;
    Path.addPolygon(QPolygonF(Points));
    Path.closeSubpath();
    return Path;
}

QPainterPath RoundRect(const QRectF& R, double Radius)
{
    QPainterPath Path;
    Path.addRoundedRect(R, Radius, Radius);
    return Path;
}

QPainterPath Circle(QPointF Centre, double Radius)
{
    QPainterPath Path;
    Path.addEllipse(Centre, Radius, Radius);
    return Path;
}

// A plus sign of arms `Length` long and `Thickness` wide.
QPainterPath PlusShape(QPointF C, double Length, double Thickness)
{
    const double L = Length / 2;
    const double T = Thickness / 2;
    return Polygon({{C.x() - T, C.y() - L},
                    {C.x() + T, C.y() - L},
                    {C.x() + T, C.y() - T},
                    {C.x() + L, C.y() - T},
                    {C.x() + L, C.y() + T},
                    {C.x() + T, C.y() + T},
                    {C.x() + T, C.y() + L},
                    {C.x() - T, C.y() + L},
                    {C.x() - T, C.y() + T},
                    {C.x() - L, C.y() + T},
                    {C.x() - L, C.y() - T},
                    {C.x() - T, C.y() - T}});
}

// A gear of `Teeth` teeth with a round hole; radii in pixels.
QPainterPath GearShape(QPointF C, double Outer, double Root, double Hole, int Teeth)
{
    QPolygonF Points;
    const double Step = 360.0 / Teeth;
    for (int I = 0; I < Teeth; ++I) {
        const double A = I * Step;
        for (const auto& [Radius, Offset] :
             std::vector<std::pair<double, double>>{{Root, -0.34 * Step},
                                                    {Outer, -0.2 * Step},
                                                    {Outer, 0.2 * Step},
                                                    {Root, 0.34 * Step}}) {
            QLineF Ray(C, QPointF(C.x() + Radius, C.y()));
            Ray.setAngle(A + Offset);
            Points << Ray.p2();
        }
    }
    QPainterPath Path;
    Path.setFillRule(Qt::OddEvenFill);
    Path.addPolygon(Points);
    Path.closeSubpath();
    Path.addEllipse(C, Hole, Hole);
    return Path;
}

// A folder lying in `R`: the back with its tab, and the front panel a little lower.
void DrawFolder(QPainter& P, const QRectF& R)
{
    const double TabW = R.width() * 0.38;
    const double TabH = R.height() * 0.14;
    Shape(P,
          Polygon({{R.left(), R.top()},
                   {R.left() + TabW, R.top()},
                   {R.left() + TabW + TabH, R.top() + TabH},
                   {R.right(), R.top() + TabH},
                   {R.right(), R.bottom()},
                   {R.left(), R.bottom()}}),
          DarkYellow);
    const double FrontTop = R.top() + R.height() * 0.30;
    Shape(P,
          Polygon({{R.left() + R.width() * 0.06, FrontTop},
                   {R.right(), FrontTop},
                   {R.right(), R.bottom()},
                   {R.left(), R.bottom()}}),
          Yellow);
}

// A pencil lying along the line from `Tail` to `Tip`, `Width` thick.
void DrawPencil(QPainter& P, QPointF Tail, QPointF Tip, double Width, const QColor& Body)
{
    const QLineF Axis(Tail, Tip);
    const double L = Axis.length();
    P.save();
    P.translate(Tail);
    P.rotate(-Axis.angle());
    const double H = Width / 2;
    const double Eraser = L * 0.14;
    const double Band = L * 0.07;
    const double Cone = L * 0.24;
    Shape(P, RoundRect(QRectF(0, -H, Eraser + 4, Width), 4), Pink);
    Shape(P, Polygon({{Eraser, -H}, {Eraser + Band, -H}, {Eraser + Band, H}, {Eraser, H}}), Grey);
    Shape(P, Polygon({{Eraser + Band, -H}, {L - Cone, -H}, {L - Cone, H}, {Eraser + Band, H}}),
          Body);
    Shape(P, Polygon({{L - Cone, -H}, {L, 0}, {L - Cone, H}}), Wood);
    Shape(P, Polygon({{L - Cone * 0.35, -H * 0.35}, {L, 0}, {L - Cone * 0.35, H * 0.35}}),
          Qt::black, 2);
    P.restore();
}

// A platform scale in `R`: the weighing platform on a short column over the body with a display.
void DrawPlatformScale(QPainter& P, const QRectF& R)
{
    const double W = R.width();
    const double H = R.height();
    const QRectF Platform(R.left(), R.top(), W, H * 0.17);
    const QRectF Column(R.left() + W * 0.40, Platform.bottom(), W * 0.20, H * 0.16);
    Shape(P, RoundRect(Column, 2), DarkGreen);
    Shape(P, RoundRect(Platform, 6), DarkGreen);
    const double BodyTop = Column.bottom();
    Shape(P,
          Polygon({{R.left() + W * 0.06, BodyTop},
                   {R.right() - W * 0.06, BodyTop},
                   {R.right(), R.bottom()},
                   {R.left(), R.bottom()}}),
          Green);
    const QRectF Display(R.left() + W * 0.16, BodyTop + H * 0.15, W * 0.40, H * 0.24);
    Shape(P, RoundRect(Display, 3), Screen, 4);
    P.setPen(Qt::NoPen);
    P.setBrush(QColor(0x9C, 0xE0, 0x7A));
    P.drawRect(QRectF(Display.left() + Display.width() * 0.18, Display.center().y() - 3,
                      Display.width() * 0.64, 6));
}

QImage NewCanvas()
{
    QImage Image(Side, Side, QImage::Format_ARGB32);
    Image.fill(Qt::transparent);
    return Image;
}

void PaintAdd(QPainter& P)
{
    Shape(P, PlusShape({64, 64}, 108, 38), Yellow);
}

void PaintDelete(QPainter& P)
{
    Shape(P, RoundRect(QRectF(48, 8, 32, 16), 5), Yellow);
    Shape(P, Polygon({{26, 36}, {102, 36}, {93, 120}, {35, 120}}), Yellow);
    Shape(P, RoundRect(QRectF(16, 20, 96, 16), 5), DarkYellow);
    P.setPen(Outline(5));
    for (const double X : {50.0, 64.0, 78.0})
        P.drawLine(QPointF(X, 50), QPointF(X, 106));
}

void PaintEdit(QPainter& P)
{
    DrawPencil(P, {14, 114}, {118, 10}, 34, Yellow);
}

void PaintExit(QPainter& P)
{
    Shape(P, Polygon({{14, 8}, {78, 8}, {78, 120}, {14, 120}}), Brown);
    Shape(P, Polygon({{24, 18}, {68, 18}, {68, 120}, {24, 120}}), DarkBrown);
    // The door stands open into the room.
    Shape(P, Polygon({{24, 18}, {50, 28}, {50, 124}, {24, 120}}), Brown);
    Shape(P, Circle({44, 74}, 3), Yellow, 2);
    Shape(P, Polygon({{50, 52}, {90, 52}, {90, 34}, {124, 64}, {90, 94}, {90, 76}, {50, 76}}), Red);
}

void PaintJournal(QPainter& P)
{
    Shape(P, RoundRect(QRectF(28, 8, 86, 114), 6), Navy);
    Shape(P, Polygon({{34, 14}, {108, 14}, {108, 116}, {34, 116}}), Blue, 4);
    Shape(P, RoundRect(QRectF(50, 32, 46, 22), 3), Paper, 4);
    // The bookmark hangs out of the bottom edge.
    Shape(P, Polygon({{84, 96}, {100, 96}, {100, 126}, {92, 118}, {84, 126}}), Red, 4);
    for (int I = 0; I < 6; ++I) {
        const double Y = 20 + I * 17.5;
        Shape(P, RoundRect(QRectF(16, Y, 26, 9), 4.5), Paper, 4);
    }
}

void PaintLabels(QPainter& P)
{
    QPainterPath Tag = Polygon({{6, 64}, {34, 18}, {122, 18}, {122, 110}, {34, 110}});
    Tag.setFillRule(Qt::OddEvenFill);
    Tag.addEllipse(QPointF(30, 64), 8, 8);
    Shape(P, Tag, Red);
    Shape(P, RoundRect(QRectF(48, 32, 64, 64), 3), Paper, 4);
    P.setPen(Qt::NoPen);
    P.setBrush(Qt::black);
    double X = 55;
    for (const double Bar : {4.0, 2.0, 5.0, 2.0, 3.0, 6.0, 2.0, 4.0, 2.0, 5.0, 3.0}) {
        P.drawRect(QRectF(X, 40, Bar, 48));
        X += Bar + 2.5;
    }
}

void PaintNew(QPainter& P)
{
    DrawFolder(P, QRectF(6, 18, 104, 86));
    Shape(P, Circle({92, 92}, 30), Green);
    Shape(P, PlusShape({92, 92}, 38, 12), Paper, 3);
}

void PaintOpen(QPainter& P)
{
    DrawFolder(P, QRectF(6, 18, 104, 86));
    DrawPencil(P, {60, 122}, {124, 58}, 22, Green);
}

void PaintRefresh(QPainter& P)
{
    QPainterPath Arc;
    const QRectF Ring(18, 18, 92, 92);
    Arc.arcMoveTo(Ring, 100);
    Arc.arcTo(Ring, 100, 290);
    QPainterPathStroker Stroker;
    Stroker.setWidth(16);
    Stroker.setCapStyle(Qt::FlatCap);
    QPainterPath Band = Stroker.createStroke(Arc);
    // The arrow head at the end of the arc points on round the circle.
    const QPointF End = Arc.currentPosition();
    Band = Band.united(Polygon(
        {{End.x() - 20, End.y() - 6}, {End.x() + 18, End.y() - 6}, {End.x() - 1, End.y() + 24}}));
    Shape(P, Band.simplified(), Blue);
    DrawFolder(P, QRectF(42, 46, 44, 36));
}

void PaintSave(QPainter& P)
{
    Shape(P, RoundRect(QRectF(10, 14, 90, 104), 6), Paper);
    P.setPen(Outline(4));
    for (int I = 0; I < 4; ++I) {
        const double Y = 38 + I * 18;
        P.drawLine(QPointF(26, Y), QPointF(I == 3 ? 58 : 84, Y));
    }
    DrawPencil(P, {48, 124}, {124, 48}, 24, Green);
}

void PaintScales(QPainter& P)
{
    DrawPlatformScale(P, QRectF(6, 26, 110, 92));
    const QPointF C(94, 92);
    Shape(P, GearShape(C, 30, 22, 9, 8), Yellow, 4);
}

void PaintSearch(QPainter& P)
{
    QPainterPath Handle;
    Handle.addRoundedRect(QRectF(-11, 0, 22, 58), 8, 8);
    P.save();
    P.translate(78, 78);
    P.rotate(-45);
    Shape(P, Handle, DarkYellow);
    P.restore();
    QPainterPath Ring = Circle({50, 50}, 42);
    Ring.setFillRule(Qt::OddEvenFill);
    Ring.addEllipse(QPointF(50, 50), 29, 29);
    Shape(P, Circle({50, 50}, 29), Glass);
    Shape(P, Ring, Yellow);
}

void PaintUpload(QPainter& P)
{
    DrawPlatformScale(P, QRectF(6, 44, 100, 78));
    Shape(P, Polygon({{84, 118}, {84, 62}, {68, 62}, {99, 22}, {126, 62}, {112, 62}, {112, 118}}),
          Yellow);
}

} // namespace

int main(int Argc, char** Argv)
{
    if (Argc != 2) {
        std::fprintf(stderr, "usage: plumeria_make_pictures OUTPUT_FOLDER\n");
        return 2;
    }
    const QDir Out(QString::fromLocal8Bit(Argv[1]));
    if (!Out.exists() && !QDir().mkpath(Out.path())) {
        std::fprintf(stderr, "cannot create %s\n", Argv[1]);
        return 1;
    }
    const std::vector<std::pair<const char*, std::function<void(QPainter&)>>> Pictures = {
        {"ADD", PaintAdd},       {"DELETE", PaintDelete},   {"EDIT", PaintEdit},
        {"EXIT", PaintExit},     {"JOURNAL", PaintJournal}, {"LABELS", PaintLabels},
        {"NEW", PaintNew},       {"OPEN", PaintOpen},       {"REFRESH", PaintRefresh},
        {"SAVE", PaintSave},     {"SCALES", PaintScales},   {"SEARCH", PaintSearch},
        {"UPLOAD", PaintUpload},
    };
    for (const auto& [Name, Paint] : Pictures) {
        QImage Image = NewCanvas();
        QPainter Painter(&Image);
        Painter.setRenderHint(QPainter::Antialiasing, true);
        Paint(Painter);
        Painter.end();
        const QString File = Out.filePath(QString::fromLatin1(Name) + QStringLiteral(".png"));
        if (!Image.save(File, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(File));
            return 1;
        }
    }
    return 0;
}
