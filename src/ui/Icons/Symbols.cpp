#include "ui/Icons/Symbols.h"

#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <cmath>
#include <numbers>

namespace Plumeria {

namespace {

// Shapes are laid out in a 16 x 16 cell, centre (8, 8), like the glyphs of an icon font.
constexpr QPointF Centre(8.0, 8.0);

QPointF Polar(double Radius, double Degrees)
{
    const double Rad = Degrees * std::numbers::pi / 180.0;
    return {Centre.x() + Radius * std::cos(Rad), Centre.y() - Radius * std::sin(Rad)};
}

QPen StrokePen(double Width)
{
    QPen Pen(Qt::white);
    Pen.setWidthF(Width);
    Pen.setCapStyle(Qt::RoundCap);
    Pen.setJoinStyle(Qt::RoundJoin);
    return Pen;
}

void FillPath(QPainter& Painter, const QPainterPath& Path)
{
    Painter.setPen(Qt::NoPen);
    Painter.setBrush(Qt::white);
    Painter.drawPath(Path);
}

void StrokePath(QPainter& Painter, const QPainterPath& Path, double Width)
{
    Painter.setPen(StrokePen(Width));
    Painter.setBrush(Qt::NoBrush);
    Painter.drawPath(Path);
}

void DrawGear(QPainter& Painter)
{
    constexpr int Teeth = 8;
    constexpr double Outer = 7.6;
    constexpr double Root = 5.6;
    QPolygonF Outline;
    for (int I = 0; I < Teeth; ++I) {
        const double Angle = I * 360.0 / Teeth;
        Outline << Polar(Root, Angle - 15.0) << Polar(Outer, Angle - 9.0)
                << Polar(Outer, Angle + 9.0) << Polar(Root, Angle + 15.0);
    }
    QPainterPath Path;
    Path.setFillRule(Qt::OddEvenFill);
    Path.addPolygon(Outline);
    Path.closeSubpath();
    Path.addEllipse(Centre, 2.4, 2.4);
    FillPath(Painter, Path);
}

void DrawPause(QPainter& Painter)
{
    QPainterPath Path;
    Path.addRect(QRectF(3.5, 1.5, 3.5, 13.0));
    Path.addRect(QRectF(9.0, 1.5, 3.5, 13.0));
    FillPath(Painter, Path);
}

void DrawPlay(QPainter& Painter)
{
    QPainterPath Path;
    Path.addPolygon(QPolygonF{{QPointF(3.5, 1.5), QPointF(14.0, 8.0), QPointF(3.5, 14.5)}});
    Path.closeSubpath();
    FillPath(Painter, Path);
}

void DrawInformation(QPainter& Painter)
{
    QPainterPath Ring;
    Ring.addEllipse(Centre, 7.0, 7.0);
    StrokePath(Painter, Ring, 1.4);
    QPainterPath Mark;
    Mark.addEllipse(QPointF(8.0, 4.4), 1.2, 1.2);
    Mark.addRect(QRectF(7.0, 6.5, 2.0, 6.0));
    FillPath(Painter, Mark);
}

void DrawCheckMark(QPainter& Painter)
{
    QPainterPath Path(QPointF(1.5, 8.5));
    Path.lineTo(5.5, 12.5);
    Path.lineTo(14.5, 3.5);
    StrokePath(Painter, Path, 1.7);
}

void DrawCross(QPainter& Painter)
{
    QPainterPath Path(QPointF(2.5, 2.5));
    Path.lineTo(13.5, 13.5);
    Path.moveTo(13.5, 2.5);
    Path.lineTo(2.5, 13.5);
    StrokePath(Painter, Path, 1.6);
}

void DrawGlobe(QPainter& Painter)
{
    constexpr double Radius = 7.0;
    QPainterPath Path;
    Path.addEllipse(Centre, Radius, Radius);
    Path.addEllipse(Centre, 3.0, Radius);
    Path.moveTo(Centre.x() - Radius, Centre.y());
    Path.lineTo(Centre.x() + Radius, Centre.y());
    for (const double Offset : {-3.6, 3.6}) {
        const double Half = std::sqrt(Radius * Radius - Offset * Offset) - 0.4;
        Path.moveTo(Centre.x() - Half, Centre.y() + Offset);
        Path.lineTo(Centre.x() + Half, Centre.y() + Offset);
    }
    StrokePath(Painter, Path, 1.1);
}

void DrawQuestion(QPainter& Painter)
{
    QPainterPath Hook(QPointF(4.6, 5.0));
    Hook.arcTo(QRectF(4.6, 1.6, 6.8, 6.8), 180.0, -240.0);
    Hook.quadTo(QPointF(8.0, 8.8), QPointF(8.0, 10.4));
    Hook.lineTo(8.0, 11.0);
    StrokePath(Painter, Hook, 2.0);
    QPainterPath Dot;
    Dot.addEllipse(QPointF(8.0, 14.0), 1.3, 1.3);
    FillPath(Painter, Dot);
}

} // namespace

bool DrawSymbol(QPainter& Painter, char16_t CodePoint)
{
    Painter.save();
    bool Known = true;
    switch (CodePoint) {
    case SymGear:
        DrawGear(Painter);
        break;
    case SymPause:
        DrawPause(Painter);
        break;
    case SymPlay:
        DrawPlay(Painter);
        break;
    case SymInformation:
        DrawInformation(Painter);
        break;
    case SymCheckMark:
        DrawCheckMark(Painter);
        break;
    case SymCross:
        DrawCross(Painter);
        break;
    case SymGlobe:
        DrawGlobe(Painter);
        break;
    case SymQuestion:
        DrawQuestion(Painter);
        break;
    default:
        Known = false;
        break;
    }
    Painter.restore();
    return Known;
}

} // namespace Plumeria
