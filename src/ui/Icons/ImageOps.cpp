#include "ui/Icons/ImageOps.h"

#include "ui/Icons/Symbols.h"

#include <QPainter>

#include <algorithm>
#include <cstdint>

// The pictures are compiled into this static library, so their registration has to be pulled in
// by hand; Q_INIT_RESOURCE works only outside any namespace.
static bool RegisterPictures()
{
    Q_INIT_RESOURCE(pictures);
    return true;
}

namespace Plumeria {

QImage ToStraightArgb(const QImage& Source)
{
    if (Source.isNull())
        return {};
    return Source.convertToFormat(QImage::Format_ARGB32);
}

namespace {

// Source rows (or columns) of target row `Index`: from Index*Extent/Side up to, not including,
// (Index+1)*Extent/Side, at least one, never past the source.
void BlockRange(int Index, int Extent, int Side, int& First, int& Last)
{
    First = static_cast<int>(static_cast<std::int64_t>(Index) * Extent / Side);
    Last = static_cast<int>(static_cast<std::int64_t>(Index + 1) * Extent / Side);
    if (Last <= First)
        Last = First + 1;
    Last = std::min(Last, Extent);
}

} // namespace

QImage ReducePicture(const QImage& Source, int Side)
{
    if (Side <= 0)
        return {};
    const QImage Src = ToStraightArgb(Source);
    const int W = Src.isNull() ? 0 : Src.width();
    const int H = Src.isNull() ? 0 : Src.height();

    QImage Out(Side, Side, QImage::Format_ARGB32_Premultiplied);
    for (int Y = 0; Y < Side; ++Y) {
        int Y0 = 0;
        int Y1 = 0;
        BlockRange(Y, H, Side, Y0, Y1);
        auto* Target = reinterpret_cast<QRgb*>(Out.scanLine(Y));
        for (int X = 0; X < Side; ++X) {
            int X0 = 0;
            int X1 = 0;
            BlockRange(X, W, Side, X0, X1);
            const std::uint64_t Count =
                (Y1 > Y0 && X1 > X0) ? static_cast<std::uint64_t>(Y1 - Y0) * (X1 - X0) : 0;
            std::uint64_t SumA = 0;
            std::uint64_t SumR = 0;
            std::uint64_t SumG = 0;
            std::uint64_t SumB = 0;
            for (int SY = Y0; Count != 0 && SY < Y1; ++SY) {
                const auto* Line = reinterpret_cast<const QRgb*>(Src.constScanLine(SY));
                for (int SX = X0; SX < X1; ++SX) {
                    const QRgb P = Line[SX];
                    const std::uint64_t A = static_cast<std::uint64_t>(qAlpha(P));
                    SumA += A;
                    SumR += static_cast<std::uint64_t>(qRed(P)) * A;
                    SumG += static_cast<std::uint64_t>(qGreen(P)) * A;
                    SumB += static_cast<std::uint64_t>(qBlue(P)) * A;
                }
            }
            if (Count == 0 || SumA == 0) {
                Target[X] = 0;
                continue;
            }
            const std::uint64_t A = SumA / Count;
            const auto Channel = [&](std::uint64_t Sum) {
                return static_cast<int>((Sum / SumA) * A / 255);
            };
            Target[X] = qRgba(Channel(SumR), Channel(SumG), Channel(SumB), static_cast<int>(A));
        }
    }
    return Out;
}

QImage TintGlyph(const QImage& Drawing, QRgb Colour)
{
    if (Drawing.isNull())
        return {};
    const QImage Src = Drawing.convertToFormat(QImage::Format_RGB32);
    QImage Out(Src.size(), QImage::Format_ARGB32_Premultiplied);
    const int R = qRed(Colour);
    const int G = qGreen(Colour);
    const int B = qBlue(Colour);
    for (int Y = 0; Y < Src.height(); ++Y) {
        const auto* Line = reinterpret_cast<const QRgb*>(Src.constScanLine(Y));
        auto* Target = reinterpret_cast<QRgb*>(Out.scanLine(Y));
        for (int X = 0; X < Src.width(); ++X) {
            const QRgb P = Line[X];
            const int C = std::max({qRed(P), qGreen(P), qBlue(P)});
            Target[X] = qRgba(R * C / 255, G * C / 255, B * C / 255, C);
        }
    }
    return Out;
}

QImage DrawGlyph(char16_t CodePoint, int Side)
{
    QImage Out(Side, Side, QImage::Format_RGB32);
    Out.fill(Qt::black);
    QPainter Painter(&Out);
    Painter.setRenderHint(QPainter::Antialiasing, true);
    Painter.translate(2, 1);
    DrawSymbol(Painter, CodePoint);
    Painter.end();
    return Out;
}

QImage LoadPicture(const QString& Name)
{
    [[maybe_unused]] static const bool Registered = RegisterPictures();
    return QImage(QStringLiteral(":/pictures/%1.png").arg(Name), "PNG");
}

} // namespace Plumeria
